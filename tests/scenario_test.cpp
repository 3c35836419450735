// Every row of the whole-run table: the run as the row says, on the simulated Windows and
// (built for Windows) against the real program under Wine; natively also the same run with
// each platform call failing in turn, once and from then on, and the marked rows with each
// allocation failing in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <new>
#include <regex>
#include <sstream>

#include "platform/sim/sim.h"
#include "tests/support/csv.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include "platform/entry.h"
#endif

#if !defined(PLAINRUN_SANITIZE) && !defined(_WIN32)
namespace {
long gFailAt = 0;  // the allocation to fail, counting from 1; 0: none
long gAllocations = 0;
bool gCounting = false;
// The program's scratch buffer for a shell folder (32767 bytes as UTF-16 units), which it takes
// without an exception: the numbers of the allocations that were one.
constexpr std::size_t kShellScratch = 32766;
long gScratch[16];  // a fixed array: this bookkeeping must not allocate
int gScratchCount = 0;
}  // namespace

// Counts every allocation of the program and fails the one it is told to; the simulated
// Windows' own allocations are neither counted nor failed (the logging library takes its
// memory from malloc). The other forms of new call this one, and the standard library's
// delete frees what malloc() gave.
void* operator new(std::size_t size) {
  if (gCounting && !sim::InsideSimulator()) {
    if (++gAllocations == gFailAt) throw std::bad_alloc();
    if (size == kShellScratch && gScratchCount < 16) gScratch[gScratchCount++] = gAllocations;
  }
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
#endif

namespace test {

// Runs the program in a fresh process on the current machine: natively wWinMain (or body) in a
// forked child, on Windows the installed plainrunctl.exe with the row's exact command line
// (tests/support/real_machine.cpp).
sim::RunResult RunProgram(int (*body)() = nullptr);
#ifndef _WIN32
sim::RunResult RunProgram(int (*body)()) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    if (!sim::EnterChild()) _exit(120);
    // As in a real process, an exception that nothing catches ends it (not the test around it).
    std::exit([body]() noexcept { return body ? body() : wWinMain(nullptr, nullptr, nullptr, 0); }());
  }
  int status = 0;
  waitpid(child, &status, 0);
  sim::RunResult result;
  result.exited = WIFEXITED(status);
  result.exitCode = result.exited ? WEXITSTATUS(status) : -WTERMSIG(status);
  sim::ChildEnded(result);
  return result;
}
#endif

namespace {

// The table (tests/scenarios/runs.txt): each row read, laid out on a fresh machine, played,
// and what the run left behind read back.
using Pairs = std::vector<std::pair<std::string, std::string>>;  // (key, value) for each line
struct Row {
  std::string name;
  Pairs setup, expect;              // the lines before "-- expect", and after
  std::vector<std::string> errors;  // the row's lines that the runner cannot read, with their numbers
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// What a run left, by the table's names of it: "flag" (as "TYPE:HEX" or "absent"), "box",
// "log", "nolog", "mapi", "calls", "debug", "folder", "nofolder", "keyclass"; kinds with nothing in them are absent.
using Outcome = std::map<std::string, std::vector<std::string>>;

const std::u16string kInstall = u"C:\\Program Files\\Orvane\\";

// The user's profile folder, and where a Windows path of the machine lies for the runner: the
// real machine's, or the simulated one's in a host folder.
#ifdef _WIN32
const std::u16string kProfile = std::filesystem::path(_wgetenv(L"USERPROFILE")).u16string();
std::filesystem::path Host(const std::u16string& path) { return path; }
#else
const std::u16string kProfile = u"C:\\Users\\tester";
std::filesystem::path Host(const std::u16string& path) { return sim::HostPath(path); }
#endif

std::vector<std::string> Lines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A table text: outer quotes dropped, \u{HEX} made that UTF-16 code unit, {profile} put in.
std::u16string Text(std::string value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  std::u16string text = sim::Utf16(value);
  for (std::size_t at; (at = text.find(u"\\u{")) != std::u16string::npos;)  // the digits end at the brace
    text.replace(at, text.find(u'}', at) - at + 1, 1,
                 static_cast<char16_t>(std::stoul(sim::Utf8(text.substr(at + 3)), nullptr, 16)));
  for (std::size_t at; (at = text.find(u"{profile}")) != std::u16string::npos;) text.replace(at, 9, kProfile);
  return text;
}

std::string Utf8(const std::string& value) { return sim::Utf8(Text(value)); }

// A file's content as bytes: \x{HH} is that byte, the rest its text in UTF-8.
std::string Bytes(const std::string& value) {
  std::string bytes;
  std::size_t from = 0;
  for (std::size_t at; (at = value.find("\\x{", from)) != std::string::npos; from = value.find('}', at) + 1)
    bytes += Utf8(value.substr(from, at - from)) + static_cast<char>(std::stoul(value.substr(at + 3), nullptr, 16));
  return bytes + Utf8(value.substr(from));
}

// A Windows path as the loader compares it: case and slash direction do not count.
std::string Lower(std::string text) {
  for (char& c : text) c = c == '/' ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "TYPE DATA" as the registry stores it.
sim::Value Encode(const std::string& typed) {
  const std::string kind = typed.substr(0, typed.find(' '));
  const std::string data = typed.size() > kind.size() ? typed.substr(kind.size() + 1) : "";
  sim::Value value;
  if (kind == "dword") {
    value.type = platform::kRegDword;
    for (int shift = 0; shift < 32; shift += 8)
      value.bytes.push_back(static_cast<std::uint8_t>(std::stoul(data) >> shift));
  } else if (kind == "hex") {
    const std::size_t blank = data.find(' ');
    value.type = static_cast<std::uint32_t>(std::stoul(data.substr(0, blank)));
    for (std::size_t i = blank == std::string::npos ? data.size() : blank + 1; i + 1 < data.size(); i += 3)
      value.bytes.push_back(static_cast<std::uint8_t>(std::stoul(data.substr(i, 2), nullptr, 16)));
  } else {
    value.type = kind == "sz" ? platform::kRegSz : kind == "expand_sz" ? platform::kRegExpandSz : platform::kRegMultiSz;
    const std::u16string text = Text(data) + std::u16string(kind == "multi_sz" ? 2 : 1, u'\0');  // a list ends in two
    for (const char16_t c : text)
      value.bytes.insert(value.bytes.end(), {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8)});
  }
  return value;
}

std::string Show(const sim::Value& value) {
  std::string text = std::to_string(value.type) + ":";
  for (const std::uint8_t b : value.bytes) text += "0123456789abcdef"[b >> 4], text += "0123456789abcdef"[b & 15];
  return text;
}

// The value of the row's setting key, or "-" when the row has none.
std::string Setting(const Row& row, const std::string& key) {
  const auto line = std::find_if(row.setup.begin(), row.setup.end(), [&](const auto& kv) { return kv.first == key; });
  return line == row.setup.end() ? "-" : line->second;
}

// What the runner cannot read in a line of the table (a word it does not know), or "".
std::string Misread(const std::string& key, const std::string& value, bool expecting) {
  static const std::regex setup(
      "args|reg|unset|file|file16|nostrings|dir|library|plant|path|answer|process|fault|deny|native|sweep");
  static const std::regex expect("flag|box|log|parse|nolog|mapi|calls|debug|folder|nofolder|keyclass");
  static const std::regex types("dword|hex|sz|expand_sz|multi_sz");
  if (key == "use") return "unknown block \"" + value + "\"";  // a block's name that no block has
  if (!std::regex_match(key, expecting ? expect : setup)) return "unknown key \"" + key + "\"";
  const std::size_t eq = value.find(" = ");
  const std::string path = key == "reg" ? value.substr(0, eq) : key == "unset" || key == "deny" ? value : "";
  if (!path.empty() && !path.starts_with("HKLM\\") && !path.starts_with("HKCU\\"))
    return "unknown root in \"" + path + "\"";
  std::string typed = key == "flag" && value != "absent" ? value : "-";  // "-": a line without a type
  if (key == "reg") typed = eq == std::string::npos ? "" : value.substr(eq + 3);
  const std::string type = typed.substr(0, typed.find(' '));
  if (typed != "-" && !std::regex_match(type, types)) return "unknown type \"" + type + "\"";
  return "";
}

// Every row of the table (only those marked "sweep: memory" if marked), with the blocks it uses
// put in; a line that the runner cannot read fails its row.
std::vector<Row> Table(bool marked = false) {
  const std::vector<std::string> lines = Lines(SCENARIOS_FILE);
  std::map<std::string, std::vector<std::string>> blocks;  // above the first row: ":: NAME", then its lines
  std::vector<std::string>* block = nullptr;
  for (auto line = lines.begin(); line != lines.end() && !line->starts_with("== "); ++line)
    if (line->starts_with(":: ")) block = &blocks[line->substr(3)];
    else if (block && !line->empty() && line->front() != '#') block->push_back(*line);
  std::vector<Row> table;
  Pairs end;  // the lines of the blocks used that end the row
  bool expecting = false;
  int number = 0;
  // Every row says what becomes of the flag, once.
  const auto close = [&](const std::string& at) {
    if (table.empty()) return;
    Pairs& expect = table.back().expect;
    expect.insert(expect.end(), end.begin(), end.end());
    end.clear();
    if (std::count_if(expect.begin(), expect.end(), [](const auto& line) { return line.first == "flag"; }) != 1)
      table.back().errors.push_back(at + "the row ending here has not exactly one flag");
  };
  for (const std::string& line : lines) {
    const std::string at = "runs.txt line " + std::to_string(++number) + ": ";
    if (line.starts_with("== ")) {
      close(at);
      table.push_back({line.substr(3), {}, {}, {}});
      expecting = false;
    } else if (line == "-- expect") {
      expecting = true;
    } else if (!table.empty() && !line.empty() && line[0] != '#') {
      // The line, or the lines of the block that it uses: those after the block's mark end the row.
      const auto used = line.starts_with("use: ") ? blocks.find(line.substr(5)) : blocks.end();
      Pairs* into = expecting ? &table.back().expect : &table.back().setup;
      for (const std::string& part : used == blocks.end() ? std::vector{line} : used->second) {
        const std::size_t colon = part.find(": ");
        const std::string key = part.substr(0, colon), value = colon == std::string::npos ? "" : part.substr(colon + 2);
        const std::string misread = part == "-- the row's own lines" ? "" : Misread(key, value, expecting);
        if (!misread.empty()) table.back().errors.push_back(at + misread);
        if (part == "-- the row's own lines") into = &end;
        else into->emplace_back(key, value);
      }
    }
  }
  close("runs.txt line " + std::to_string(number) + ": ");
  std::erase_if(table, [&](const Row& row) { return marked && Setting(row, "sweep") == "-"; });
  return table;
}

// False, with a failure for each, when the row has lines that the runner cannot read.
bool Readable(const Row& row) {
  for (const std::string& error : row.errors) ADD_FAILURE() << row.name << ": " << error;
  return row.errors.empty();
}

// Where the row lays the logging library, the one library but the system's that may load.
std::u16string Library(const Row& row) {
  const std::string folder = Setting(row, "library");
  return (folder == "-" || folder == "none" ? kInstall : Text(folder)) + u"tracelib.dll";
}

// Lays the row's machine out on the current (fresh) simulated Windows.
void Prepare(const Row& row) {
  if (Setting(row, "library") != "none") sim::InstallModule(Library(row), TRACELIB_MODULE);
  if (Setting(row, "nostrings") == "-")
    for (const auto& entry : std::filesystem::directory_iterator(DATA_DIR))
      if (entry.path().extension() == ".xml")
        sim::InstallModule(kInstall + u"Data\\" + sim::Utf16(entry.path().filename().string()), entry.path().string());
  std::vector<std::u16string> processes;
  std::string answers;
  // The installer's "Path" comes first, so that a row may change or remove it.
  Pairs setup{{"reg", R"(HKLM\SOFTWARE\Orvane\DERVO\Path = sz C:\Program Files\Orvane\)"}};
  setup.insert(setup.end(), row.setup.begin(), row.setup.end());
  for (const auto& [key, value] : setup) {
    // "NAME = DATA" as its two sides; "ROOT\key\value" as its hive, key and value name.
    const std::size_t eq = value.find(" = ");
    const std::string name = value.substr(0, eq), data = eq == std::string::npos ? "" : value.substr(eq + 3);
    const std::u16string path = key == "reg" || key == "unset" ? Text(name) : key == "deny" ? Text(value + "\\x") : u"";
    const std::size_t first = path.find(u'\\'), last = path.rfind(u'\\');
    const sim::Hive hive = path.starts_with(u"HKLM\\") ? sim::Hive::LocalMachine : sim::Hive::CurrentUser;
    const std::u16string regKey = path.substr(first + 1, last - first - 1), valueName = path.substr(last + 1);
    if (key == "reg") sim::SetValue(hive, regKey, valueName, Encode(data).type, Encode(data).bytes);
    if (key == "unset") sim::DeleteValue(hive, regKey, valueName);
    if (key == "args") sim::SetCommandLine(u"\"" + kInstall + u"plainrunctl.exe\" " + Text(value));
    if (key == "file" || key == "file16") {
      const std::filesystem::path file = Host(Text(name));
      const std::u16string text = u"\uFEFF" + Text(data);
      std::filesystem::create_directories(file.parent_path());
      std::ofstream(file, std::ios::binary)
          << (key == "file" ? Bytes(data) : std::string(reinterpret_cast<const char*>(text.data()), 2 * text.size()));
    }
    if (key == "dir") std::filesystem::create_directories(Host(Text(value)));
    if (key == "plant")
      sim::InstallModule(Text(name), data == "three_exports"          ? THREE_EXPORTS_MODULE
                                     : data == "recording"            ? RECORDING_LOG_MODULE
                                     : name.ends_with("tracelib.dll") ? TRACELIB_MODULE
                                                                      : MAPI_STUB_MODULE);
    if (key == "path") sim::SetSearchPath(Text(value));
    if (key == "process") processes.push_back(Text(value));
    if (key == "answer") answers += value + "\n";
#ifndef _WIN32
    if (key == "deny") sim::DenyKey(hive, regKey);
    if (key == "fault") sim::FailNamed(value.substr(0, value.find(' ')), std::stoi(value.substr(value.find(' '))));
#endif
  }
  sim::SetProcesses(processes);
  std::ofstream(Host(u"C:\\mapistub-answers.txt"), std::ios::binary) << answers;
}

// What the row says must follow its run; a run of "parse" lines stands for the log of
// ParseCommandLine for those arguments, all twice when it gives a result (exactly one argument).
Outcome Expected(const Row& row) {
  Outcome outcome;
  std::vector<std::string> args{sim::Utf8(kInstall) + "plainrunctl.exe"};  // the parse being read
  for (std::size_t i = 0; i < row.expect.size(); ++i) {
    const auto& [key, value] = row.expect[i];
    if (key == "parse" && !value.empty()) args.push_back(Utf8(value));
    if (key != "parse")
      outcome[key].push_back(key == "flag" && value != "absent" ? Show(Encode(value))
                             : key == "mapi"                    ? value
                                                                : Utf8(value));
    if (key != "parse" || (i + 1 < row.expect.size() && row.expect[i + 1].first == "parse")) continue;
    const std::string result = args.size() == 2 ? args[1] : "";
    std::vector<std::string> once{"I ParseCommandLine >>", "I ParseCommandLine Command line arguments: "};
    for (const std::string& arg : args) once.push_back("I ParseCommandLine Argument: " + arg);
    once.push_back("I ParseCommandLine << result: " + result + " <<");
    for (int pass = result.empty() ? 1 : 2; pass > 0; --pass)
      outcome["log"].insert(outcome["log"].end(), once.begin(), once.end());
    args.resize(1);
  }
  return outcome;
}

// What the last run on the current machine left; a torn or headless log is an outcome "torn"
// that no row expects.
Outcome Observe(const Row& row) {
  Outcome outcome;
  const auto stored = sim::GetValue(sim::Hive::CurrentUser, u"SOFTWARE\\Orvane\\DERVO", u"DisableOutlookConnector");
  outcome["flag"].push_back(stored ? Show(*stored) : "absent");
  for (const sim::Event& event : sim::Events()) {
    if (event.kind == "msgbox")
      outcome["box"].push_back(sim::Utf8(event.fields[0]) + " | " + sim::Utf8(event.fields[1]) + " | 0x" +
                               (std::ostringstream() << std::hex << std::stoi(sim::Utf8(event.fields[2]))).str());
    if (event.kind == "debug") outcome["debug"].push_back(sim::Utf8(event.fields[0]));
    // Only the system's libraries (its folder and side-by-side store) and the row's logging library may load.
    const std::string loaded = event.kind == "load" ? Lower(sim::Utf8(event.fields[0])) : "";
    if (!loaded.empty() && loaded.rfind("c:\\windows\\", 0) != 0 && loaded != Lower(sim::Utf8(Library(row))))
      outcome["stray load"].push_back(sim::Utf8(event.fields[0]));
  }
  const std::filesystem::path log =
      Host(kProfile + u"\\AppData\\Local\\Orvane\\Keelstore\\DebugLogs\\logplainrunctl.csv");
  if (!std::filesystem::exists(log)) outcome["nolog"].push_back("");
  const Rows rows = ParseCsv((std::ostringstream() << std::ifstream(log, std::ios::binary).rdbuf()).str());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].size() != 6 || (i == 0) != (rows[i][1] == "Level")) {
      outcome["torn"].push_back("log row " + std::to_string(i) + " has " + std::to_string(rows[i].size()) + " fields");
      break;
    }
    if (i > 0) outcome["log"].push_back(rows[i][1].substr(0, 1) + " " + rows[i][5]);
  }
  for (const std::string& call : Lines(Host(u"C:\\mapistub-calls.txt"))) outcome["mapi"].push_back(call);
  for (const std::string& call : Lines(Host(u"C:\\tracelib-calls.txt"))) outcome["calls"].push_back(call);
  for (const auto& [key, value] : row.expect) {
    if (key == "keyclass")
      outcome[key].push_back(
          sim::Utf8(sim::KeyClass(sim::Hive::CurrentUser, u"SOFTWARE\\Orvane\\DERVO").value_or(u"none")));
    if (key == "folder" || key == "nofolder")
      outcome[std::filesystem::is_directory(Host(Text(value))) ? "folder" : "nofolder"].push_back(Utf8(value));
  }
  return outcome;
}

class Run : public ::testing::TestWithParam<Row> {};

TEST_P(Run, LeavesWhatTheRowSays) {
#ifdef _WIN32
  for (const char* key : {"fault", "deny", "native"})  // an injected fault, a refused key, or a noted reason
    if (Setting(GetParam(), key) != "-") GTEST_SKIP() << "played on the simulated Windows only";
#endif
  if (!Readable(GetParam())) return;
  sim::Machine machine;
  Prepare(GetParam());
  const sim::RunResult run = RunProgram();
  EXPECT_TRUE(run.exited && run.exitCode == 0) << run.exitCode;
#ifndef _WIN32
  EXPECT_EQ(run.handlesLeft, 0u);
  EXPECT_TRUE(run.comBalanced);
#endif
  EXPECT_EQ(Observe(GetParam()), Expected(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Table, Run, ::testing::ValuesIn(Table()));

#ifndef _WIN32

// Plays the row once for each failure k from 1 to count, armed by arm(k) before the program
// body runs: every run leaves a whole log of known lines, and the flag as before the run or as
// the row leaves it (or as enabling leaves it, when the failed call was the command-line split);
// check looks at what else each run must show.
template <typename Arm, typename Check>
void Sweep(const Row& row, std::uint64_t count, int (*body)(), Arm arm, Check check) {
  if (!Readable(row)) return;
  // Lines the program can write, whatever fails under it.
  static const std::regex known(
      "I ParseCommandLine (>>|Command line arguments: |Argument: .*|<< result: .* <<|CommandLineToArgvW retuned a null pointer)|"
      "I (Enable|Disable)OutlookConnector (>>|<<|Outlook Connector is (disable|enable), setting the disable flag to [01]\\.)|"
      "I IsOutlookRunning (>>|<< result: [01])|I ModuleStrings::Initialize Loading file .*|"
      "I OutlookInformation::GetOutlookLanguageID (MAPIDir : .*|Failed to obtain the MAPIDir with default MSIComponentId)|"
      "W ModuleStrings::Initialize Unable to find modulestrings file for language .*, using default EN-US file\\.|"
      "E ModuleStrings::Initialize Error loading xml file: 0x[0-9a-f]+\\(try [123]\\)|"
      "W ModuleStrings::GetString Error getting property IDS_(Title|EnableOC|DisableOC)\\.");
  const std::string after = Expected(row)["flag"][0];
  for (std::uint64_t k = 1; k <= count; ++k) {
    SCOPED_TRACE(k);
    sim::Machine machine;
    Prepare(row);
    const std::string before = Observe(row)["flag"][0];
    arm(k);
    const sim::RunResult run = RunProgram(body);
    arm(0);
    Outcome got = Observe(row);
    EXPECT_EQ(got.count("torn"), 0u) << got["torn"][0];
    const bool enables = run.firstFailed == "CommandLineToArgv" && before == "4:01000000";
    const std::string flag = got["flag"][0];
    EXPECT_TRUE(flag == before || flag == after || (enables && flag == "4:00000000"))
        << run.firstFailed << ": flag " << flag;
    for (const std::string& line : got["log"]) EXPECT_TRUE(std::regex_match(line, known)) << line;
    check(run, got);
  }
}

class FaultSweep : public ::testing::TestWithParam<Row> {};

// A failed call gives a default and at most a log line: exit code 0 and every handle released.
TEST_P(FaultSweep, EveryFailingCallEndsInADefault) {
  const std::uint64_t calls = [] {
    sim::Machine machine;
    Prepare(GetParam());
    return RunProgram().calls;
  }();
#ifdef PLAINRUN_SANITIZE
  for (const bool persistent : {false}) {  // a sanitized run costs ten times as much: each call fails once
#else
  for (const bool persistent : {false, true}) {
#endif
    Sweep(
        GetParam(), calls, nullptr, [&](std::uint64_t k) { sim::FailCall(k, persistent); },
        [&](const sim::RunResult& run, Outcome&) {
          EXPECT_TRUE(run.exited && run.exitCode == 0 && run.handlesLeft == 0)
              << run.firstFailed << (persistent ? " on" : " once") << ": exit " << run.exitCode;
        });
  }
}

#ifndef PLAINRUN_SANITIZE
// The program's run, counting its allocations; the count is left in C:\allocations.txt.
int CountedRun() {
  std::atexit([] {
    gCounting = false;
    std::ofstream out("C:/allocations.txt");
    out << gAllocations;
    for (int i = 0; i < gScratchCount; ++i) out << ' ' << gScratch[i];
  });
  gCounting = true;
  return wWinMain(nullptr, nullptr, nullptr, 0);
}

// The outcome without the kinds that hold nothing, as Observe and Expected give it.
Outcome Whole(Outcome outcome) {
  std::erase_if(outcome, [](const auto& kind) { return kind.second.empty(); });
  return outcome;
}

class OutOfMemory : public ::testing::TestWithParam<Row> {};

// The promise, for each allocation of the program that fails: where a looked-up text is copied,
// the warning for its id and that text empty in the box, the run otherwise as the row says;
// anywhere else the end of an uncaught exception (SIGABRT), with the log so far the row's log
// up to there. Every text long enough to allocate when copied meets the failure at its copy.
TEST_P(OutOfMemory, EveryAllocationFailingEndsAsPromised) {
  long allocations = 0;
  // For the n-th shell scratch buffer: its allocation's number, and the run when the shell
  // cannot give that folder, which is what a buffer that cannot be had must give.
  std::map<long, Outcome> scratch;
  {
    sim::Machine machine;
    Prepare(GetParam());
    ASSERT_EQ(RunProgram(CountedRun).exitCode, 0);
    std::ifstream counts(sim::HostPath(u"C:\\allocations.txt"));
    counts >> allocations;
    for (long at; counts >> at;) scratch[at];
  }
  int nth = 0;
  for (auto& [at, outcome] : scratch) {
    sim::Machine machine;
    Prepare(GetParam());
    sim::FailNamed("GetSpecialFolderPath", 1, nth++);
    (void)RunProgram();
    outcome = Observe(GetParam());
  }
  Outcome want = Expected(GetParam());
  // The box with its caption, or its text, empty; the ids of the two; whether the copy of each failed.
  const std::string box = want.count("box") ? want["box"][0] : " |  | ";
  const std::size_t bar = box.find(" | "), style = box.rfind(" | ");
  const std::string emptied[] = {box.substr(bar), box.substr(0, bar + 3) + box.substr(style)};
  const bool disabling = std::count(want["log"].begin(), want["log"].end(), "I DisableOutlookConnector >>") > 0;
  const std::string ids[] = {"IDS_Title", disabling ? "IDS_DisableOC" : "IDS_EnableOC"};
  bool caught[2] = {false, false};
  long failing = 0;
  Sweep(
      GetParam(), allocations, CountedRun,
      [&](std::uint64_t k) {
        gFailAt = static_cast<long>(k);
        if (k) failing = gFailAt;
      },
      [&](const sim::RunResult& run, Outcome& got) {
        if (scratch.count(failing)) {
          EXPECT_TRUE(run.exited && run.exitCode == 0);
          EXPECT_EQ(Whole(got), scratch[failing]) << "a shell scratch buffer that cannot be had";
        } else if (!run.exited) {
          EXPECT_EQ(run.exitCode, -SIGABRT);
          const std::vector<std::string>&log = got["log"], &all = want["log"];
          EXPECT_TRUE(log.size() <= all.size() && std::equal(log.begin(), log.end(), all.begin()))
              << "the log before the end is not the row's";
        } else {  // only a text's copy is caught: its warning, and that text empty in the box
          const int part = got["box"] == std::vector{emptied[0]} ? 0 : 1;
          EXPECT_EQ(got["box"], std::vector{emptied[part]}) << "a failed allocation that no copy explains";
          caught[part] = true;
          Outcome rest = got;
          rest["box"] = want["box"];
          const auto warning = std::find(rest["log"].begin(), rest["log"].end(),
                                         "W ModuleStrings::GetString Error getting property " + ids[part] + ".");
          EXPECT_TRUE(want.count("nolog") || warning != rest["log"].end()) << "no warning for " << ids[part];
          if (warning != rest["log"].end()) rest["log"].erase(warning);
          EXPECT_EQ(Whole(rest), Whole(want));
        }
      });
  // A text longer than the string's own room (7 UTF-16 units) allocates when it is copied.
  EXPECT_TRUE(sim::Utf16(box.substr(0, bar)).size() <= 7 || caught[0]);
  EXPECT_TRUE(sim::Utf16(box.substr(bar + 3, style - bar - 3)).size() <= 7 || caught[1]);
}

INSTANTIATE_TEST_SUITE_P(Table, OutOfMemory, ::testing::ValuesIn(Table(true)));
#endif
#ifdef PLAINRUN_SANITIZE
// Under the sanitizers a run costs ten times as much: the marked rows stand for the rest.
INSTANTIATE_TEST_SUITE_P(Table, FaultSweep, ::testing::ValuesIn(Table(true)));
#else
INSTANTIATE_TEST_SUITE_P(Table, FaultSweep, ::testing::ValuesIn(Table()));
#endif
#endif

}  // namespace
}  // namespace test
