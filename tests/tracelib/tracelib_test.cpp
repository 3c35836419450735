// Drives tracelib the way the program does: loaded at run time, four calls,
// then reads the file back with a strict CSV reader.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/csv.h"
#include "tracelib.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

namespace {

namespace fs = std::filesystem;
using LogCall = decltype(&LogErrorW);

const std::string kHeader = "Time (UTC),Level,Process,Thread,Logger,Message\r\n";

// "process,thread" as a row names them; tests run on the thread that starts the program.
#ifdef _WIN32
const std::string kIds = std::to_string(GetCurrentProcessId()) + ',' + std::to_string(GetCurrentThreadId());
#else
const std::string kIds = std::to_string(getpid()) + ',' + std::to_string(gettid());
#endif

// The library as the program sees it: loaded at run time, calls found by name.
struct Library {
#ifdef _WIN32
  HMODULE module = LoadLibraryA(TRACELIB_PATH);
  void* find(const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); }
  ~Library() { FreeLibrary(module); }
#else
  void* module = dlopen(TRACELIB_PATH, RTLD_NOW | RTLD_LOCAL);
  void* find(const char* name) { return module != nullptr ? dlsym(module, name) : nullptr; }
  ~Library() { if (module != nullptr) dlclose(module); }
#endif
#define FIND(name) reinterpret_cast<decltype(&name)>(find(#name))
  decltype(&LogInitialize) init = FIND(LogInitialize);
  LogCall error = FIND(LogErrorW), warning = FIND(LogWarningW), info = FIND(LogInformationW);
#undef FIND
};

// The program hands over Windows paths, so natively this also checks that '\\' separates folders.
std::u16string arg(const fs::path& path) {
  std::u16string out;
  for (const char ch : path.generic_string()) out.push_back(ch == '/' ? u'\\' : char16_t(ch));
  return out;
}

// The whole file; empty when there is none.
std::string read(const fs::path& path) {
  return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
}

void write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The time shift_seconds from now, as a row's first cell names a whole second.
std::string utc(int shift_seconds) {
  const std::time_t time = std::time(nullptr) + shift_seconds;
  char text[32];
  return {text, std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", std::gmtime(&time))};
}

// One writer process: waits until the log's grandparent folder shows that all writers are
// started, then from each of two threads at once starts the log and writes `rows` rows
// numbered in order; true when every call succeeded.
bool write_rows(Library& lib, const fs::path& log, int rows) {
  for (int ms = 0; ms < 5000 && !fs::exists(log.parent_path().parent_path()); ++ms)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  bool all[2] = {true, true};
  const auto write = [&](bool& ok) {
    ok = lib.init("t", arg(log).c_str(), 1) == 1;
    for (int i = 0; i < rows; ++i) ok = lib.info("t", arg(std::to_string(i)).c_str()) == 1 && ok;
  };
  std::thread second(write, std::ref(all[1]));
  write(all[0]);
  second.join();
  return all[0] && all[1];
}

// Starts `count` writer processes, each with a library of its own (natively forked, under
// Windows this test program started again in its writer role), lets them go at once by
// making the log's grandparent folder, and waits until each has ended well.
void run_writers(std::optional<Library>& lib, int count, const fs::path& log, int rows) {
#ifdef _WIN32
  (void)lib;  // each writer is a process of its own
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  SetEnvironmentVariableA("TRACELIB_TEST_WRITER", log.string().c_str());
  SetEnvironmentVariableA("TRACELIB_TEST_ROWS", std::to_string(rows).c_str());
  std::vector<intptr_t> writers(count);
  for (auto& w : writers)
    w = _wspawnl(_P_NOWAIT, self, L"tracelib_test", L"--gtest_brief=1",
                 L"--gtest_filter=TracelibTest.ConcurrentWritersKeepEveryRowWhole", nullptr);
  SetEnvironmentVariableA("TRACELIB_TEST_WRITER", nullptr);
#else
  std::vector<pid_t> writers(count);
  for (auto& w : writers)
    if ((w = fork()) == 0) lib.emplace(), std::_Exit(write_rows(*lib, log, rows) ? 0 : 1);
#endif
  fs::create_directories(log.parent_path().parent_path());
  for (const auto w : writers) {
    int code = -1;  // also when the writer could not be started
#ifdef _WIN32
    _cwait(&code, w, 0);
#else
    waitpid(w, &code, 0);
#endif
    EXPECT_EQ(code, 0);
  }
}

class TracelibTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_);
    ASSERT_TRUE(lib_->init && lib_->error && lib_->warning && lib_->info) << TRACELIB_PATH;
  }
  // Once the library is unloaded, no file it made is left open.
  void TearDown() override {
    lib_.reset();
    for (const auto& file : fs::recursive_directory_iterator(dir_, ignored_)) {
#ifdef _WIN32
      // Opening with no sharing fails while any other handle is still open.
      const HANDLE handle = CreateFileW(fs::absolute(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      EXPECT_NE(handle, INVALID_HANDLE_VALUE) << file.path();
      CloseHandle(handle);
#else
      // Compared by identity: a descriptor may still carry the name it was created under.
      for (const auto& fd : fs::directory_iterator("/proc/self/fd"))
        EXPECT_FALSE(fs::equivalent(fd.path(), file, ignored_)) << file.path();
#endif
    }
    fs::remove_all(dir_.parent_path(), ignored_);
  }
  int init(const fs::path& log, int limit_mib = 10) { return lib_->init("t", arg(log).c_str(), limit_mib); }

  const fs::path dir_ = fs::path("tracelib_test_" + kIds) / testing::UnitTest::GetInstance()->current_test_info()->name();
  std::optional<Library> lib_{std::in_place};
  std::error_code ignored_;
};

// Whatever a file held before (an editor's LF rows, a note without a final line break, a torn
// row, UTF-16, random bytes, nothing at all, a size around the roll-over) and whatever runs
// follow (one process after another, several at once): the log, read together with the ".1"
// that it may have rolled into, begins with exactly the bytes it held, and after them (and at
// most one CRLF) holds whole rows only, with the header wherever rows started an empty file.
TEST_F(TracelibTest, BytesFoundStayAndOnlyWholeRowsFollow) {
  constexpr std::size_t kLimit = 1 << 20;  // the roll-over size at 1 MiB
#ifdef _WIN32
  constexpr int kCases = 150;  // a writer process costs about 50 ms under Wine
#else
  constexpr int kCases = 300;
#endif
  std::mt19937 random(20261207);
  const auto draw = [&random](std::size_t low, std::size_t high) { return std::uniform_int_distribution(low, high)(random); };
  const auto text = [&draw](std::size_t size, std::string_view alphabet) {
    std::string out(size, ' ');
    for (char& c : out) c = alphabet[draw(0, alphabet.size() - 1)];
    return out;
  };
  std::string bytes, utf16 = "\xFF\xFE";
  for (int b = 0; b < 256; ++b) bytes += char(b);
  for (const char c : std::string("Notiz\r\nzweite Zeile")) utf16 += {c, '\0'};
  const std::string header_lf = "Time (UTC),Level,Process,Thread,Logger,Message\n";
  const std::string row = "2026-01-01T00:00:00.000Z,INFO,1,2,t,\"a,\"\"b\"\"\"\r\n";
  // What a file held before the first run; none: there was no file.
  const std::function<std::optional<std::string>()> kinds[] = {
      [] { return std::nullopt; },
      [] { return std::string(); },
      [&] { std::string lines; for (std::size_t n = draw(1, 3); n > 0; --n) lines += "\r\n"; return lines; },  // CRLF only
      [&] { return text(draw(0, 3) ? draw(1, 3000) : 1, "ab, \"=\n\xC3"); },      // no CRLF at all
      [&] { return header_lf + text(draw(0, 400), "ab,\n"); },                        // LF rows
      [&] { return kHeader + row + text(draw(1, 100), "ab,\"\r"); },                   // a torn last row
      [&] { return utf16; },
      [&] { return text(draw(1, 5000), bytes); },
      [&] { return text(kLimit - draw(1, 100), "xy,\r\n"); },                           // just below the roll-over
      [&] { return std::string(kLimit - 2, 'x') + "\r\n"; },                            // at it
      [&] { return text(kLimit + draw(0, 100), "xy,\r\n"); },                           // above it
  };
  for (int i = 0; i < kCases; ++i) {
    const fs::path log = dir_ / std::to_string(i) / "log.csv", copy = log.string() + ".1";
    fs::create_directory(log.parent_path());
    const std::optional<std::string> found = kinds[draw(0, std::size(kinds) - 1)]();
    const std::string older = draw(0, 1) == 0 ? "" : "older " + std::to_string(i);
    if (found) write(log, *found);
    if (!older.empty()) write(copy, older);
    SCOPED_TRACE("case " + std::to_string(i) + ", " + std::to_string(found ? found->size() : -1) + " bytes before");
    std::size_t written = 0;
    for (std::size_t run = draw(1, 3); run > 0; --run) {
      const int rows = static_cast<int>(draw(0, 4));
      if (draw(0, 7) == 0) {
        run_writers(lib_, 3, log, rows);
        written += 6 * rows;
        continue;
      }
      lib_.emplace();
      ASSERT_TRUE(write_rows(*lib_, log, rows));
      written += 2 * rows;
    }
    const std::string now = read(log), copy_now = read(copy), before = found.value_or("");
    const bool rolled = copy_now != older;
    const std::string history = (rolled ? copy_now : "") + now;
    ASSERT_TRUE(history.starts_with(before)) << history.substr(0, 200);
    ASSERT_TRUE(!rolled || (copy_now.size() >= before.size() && (now.empty() || now.starts_with(kHeader))));
    std::string rest = history.substr(before.size());
    // A line break goes before a row only where the bytes found do not end one, in their own file.
    if (!before.empty() && !before.ends_with("\r\n") && rest.size() > (rolled ? now.size() : 0)) {
      ASSERT_EQ(rest.substr(0, 2), "\r\n");
      rest.erase(0, 2);
    }
    const auto rows = test::ParseCsv(rest);  // throws on a torn row
    const std::vector<std::string> header = {"Time (UTC)", "Level", "Process", "Thread", "Logger", "Message"};
    std::size_t headers = 0;
    for (const auto& r : rows) {
      if (r == header) ++headers;
      else EXPECT_TRUE(r.size() == 6 && r[1] == "INFO" && r[4] == "t") << rest.substr(0, 300);
    }
    EXPECT_EQ(rows.size() - headers, written);
    const bool started_empty = before.empty() && written > 0;
    EXPECT_EQ(headers, (started_empty ? 1u : 0u) + (rolled && !now.empty() ? 1u : 0u));
    EXPECT_TRUE(!started_empty || rows.front() == header);
  }
}

// While the roll-over is blocked (here by a folder of the ".1" file's name) the log may grow to
// twice the limit and no further, keeping the torn row it ended in, and the first start that
// can roll over does.
TEST_F(TracelibTest, BlockedRollOverStaysWithinTwiceTheLimit) {
  const fs::path log = dir_ / "log.csv", copy = dir_ / "log.csv.1";
  const std::string found((2 << 20) - 204, 'x');
  write(log, found);
  fs::create_directory(copy);
  ASSERT_EQ(init(log, 1), 1);
  int written = 0;
  for (int i = 0; i < 10; ++i) written += lib_->info("t", u"row");
  const std::string before = read(log);
  EXPECT_TRUE(written > 0 && written < 10 && before.size() <= 2 << 20 && before.starts_with(found + "\r\n")) << written;
  EXPECT_EQ(test::ParseCsv(before).size(), 1u + written);
  ASSERT_TRUE(init(log, 0) == 1 && lib_->info("t", u"unlimited") == 1);  // no roll-over size: no cap either
  fs::remove_all(copy);
  ASSERT_TRUE(init(log, 1) == 1 && lib_->info("t", u"new row") == 1);
  EXPECT_TRUE(read(log).starts_with(kHeader) && read(log).ends_with(",t,new row\r\n") && read(copy).starts_with(before) &&
              read(copy).ends_with(",t,unlimited\r\n") && test::ParseCsv(read(copy)).size() == 2u + written);
}

// Each call writes one row: the time, its level, this process and thread, then the logger
// and the message as cells that are quoted, defused against formulas and UTF-8 as needed.
TEST_F(TracelibTest, RowsHoldEveryColumn) {
  std::u16string long_line;
  std::string long_cell;
  for (int i = 0; i < 10000; ++i) long_line += u"x,\"\u00e9\n", long_cell += "x,\"\"\xC3\xA9\n";
  // cells: Logger and Message exactly as the file must hold them.
  const struct { const char16_t* line; std::string cells; const char* logger = "svc"; } cases[] = {
      {u"hello world", "svc,hello world"}, {u"a,b", "svc,\"a,b\""}, {u"say \"hi\"", "svc,\"say \"\"hi\"\"\""},
      {u"cr\rlf\ncrlf\r\nend", "svc,\"cr\rlf\ncrlf\r\nend\""}, {u"=1+2", "svc,'=1+2"}, {u"+1", "svc,'+1"},
      {u"-1", "svc,'-1"}, {u"@SUM(A1)", "svc,'@SUM(A1)"}, {u"a=1 -2 +3 @4", "svc,a=1 -2 +3 @4"},
      {u"=HYPERLINK(\"x\",\"y\")", "svc,\"'=HYPERLINK(\"\"x\"\",\"\"y\"\")\""}, {u"m", "'=cmd,m", "=cmd"},
      {u"m", "\"a,b\",m", "a,b"}, {u"m", "\xEF\xBF\xBD" "caf\xEF\xBF\xBD\xEF\xBF\xBD,m", "\x80" "caf\xC3\xA9"},
      {u"no logger", ",no logger", nullptr}, {nullptr, "svc,"}, {u"a\xD800", "svc,a\xEF\xBF\xBD"},
      {u"\u00e9\u20ac\U0001D11E", "svc,\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E"}, {u"\xD800x", "svc,\xEF\xBF\xBDx"},
      {u"\xDC00\xD800", "svc,\xEF\xBF\xBD\xEF\xBF\xBD"}, {u"\xDBFF\xDC00", "svc,\xF4\x8F\xB0\x80"}, {u"\xD800\xE000", "svc,\xEF\xBF\xBD\xEE\x80\x80"},
      {long_line.c_str(), "svc,\"" + long_cell + '"'},
  };
  const std::pair<LogCall, std::string> levels[] = {{lib_->error, "ERROR"}, {lib_->warning, "WARNING"}, {lib_->info, "INFO"}};
  // Whole seconds, with a margin: coarse clocks may lag a little. The format sorts like
  // the instants it names, so comparing the texts bounds the time.
  const std::string earliest = utc(-1);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].cells.substr(0, 40));
    const auto& [call, level] = levels[i % 3];
    ASSERT_TRUE(init(dir_ / std::to_string(i)) == 1 && call(cases[i].logger, cases[i].line) == 1);
    const std::string text = read(dir_ / std::to_string(i)), latest = utc(2);
    const auto rows = test::ParseCsv(text);
    ASSERT_TRUE(rows.size() == 2 && rows[1].size() == 6) << text;
    EXPECT_TRUE(rows[1][0].size() == earliest.size() && earliest <= rows[1][0] && rows[1][0] < latest) << rows[1][0];
    EXPECT_TRUE(text.ends_with("," + level + "," + kIds + "," + cases[i].cells + "\r\n")) << text.substr(kHeader.size());
  }
}

// Processes of two threads each that race to create a missing log (and its folder) and then
// append to it at once: each row lands whole, the header once at the top, every thread's rows
// in their order, and no temporary file is left. Without the writers' lock Wine tears rows.
TEST_F(TracelibTest, ConcurrentWritersKeepEveryRowWhole) {
  constexpr int kWriters = 16, kRows = 40;
#ifdef _WIN32
  if (const char* log = std::getenv("TRACELIB_TEST_WRITER")) {  // started again as one writer
    EXPECT_TRUE(write_rows(*lib_, log, std::atoi(std::getenv("TRACELIB_TEST_ROWS"))));
    return;
  }
#endif
  for (int round = 0; round < 6; ++round) {
    const fs::path log = dir_ / std::to_string(round) / "logs" / "log.csv";
    run_writers(lib_, kWriters, log, kRows);
    const std::string text = read(log);
    ASSERT_TRUE(text.starts_with(kHeader)) << text.substr(0, 200);
    const auto rows = test::ParseCsv(text.substr(kHeader.size()));  // throws on a torn row
    std::map<std::string, int> next;  // each writer thread's next row number
    for (const auto& row : rows) ASSERT_EQ(row.at(5), std::to_string(next[row.at(2) + ',' + row.at(3)]++)) << text;
    EXPECT_TRUE(rows.size() == 2 * kWriters * kRows && next.size() == 2 * kWriters) << rows.size() << " rows";
    EXPECT_EQ(std::distance(fs::directory_iterator(log.parent_path()), {}), 1) << "a temporary file is left";
  }
}

#ifndef _WIN32
// A full disk (here a file size limit) cuts a row short: the part that got in is cut off
// again at once, and once there is room the next row follows the whole rows.
TEST_F(TracelibTest, RowCutShortByAFullDiskIsRemoved) {
  const fs::path log = dir_ / "log.csv";
  ASSERT_EQ(init(log), 1);
  const pid_t child = fork();
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);  // a write beyond the limit then fails with EFBIG
    // A row here is 39 bytes and the process id twice (it is also the thread's): an odd
    // length, so no number of rows fills the 100 bytes and one row is cut short.
    const rlimit limit{fs::file_size(log) + 100, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &limit);
    int written = 0;
    while (written < 10 && lib_->info("t", u"row") == 1) ++written;
    std::_Exit(written);
  }
  int status = 0;
  waitpid(child, &status, 0);
  const int written = WEXITSTATUS(status);  // 0 also when the child was killed
  EXPECT_TRUE(written > 0 && written < 10) << status;
  EXPECT_EQ(test::ParseCsv(read(log)).size(), 1u + written);  // throws on a torn row
  EXPECT_TRUE(lib_->info("t", u"after") == 1 && test::ParseCsv(read(log)).size() == 2u + written &&
              read(log).ends_with(",t,after\r\n"));
}
#endif

TEST_F(TracelibTest, MisuseNeverCrashesOrMisdirectsRows) {
  for (const LogCall call : {lib_->error, lib_->warning, lib_->info})
    EXPECT_TRUE(call("t", u"before initialise") == 0 && call(nullptr, nullptr) == 0);
  const struct { const char* name; std::optional<fs::path> path; int result; } cases[] = {
      {"null path", std::nullopt, 0}, {"empty path", fs::path(), 0}, {"path is a folder", dir_, 0},
      {"missing folders are created", dir_ / "a" / "b" / "log.csv", 1}, {"second file", dir_ / "second.csv", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path first = dir_ / (std::string(c.name) + " first.csv");
    ASSERT_TRUE(init(first) == 1 && lib_->info("t", u"first") == 1 && init(first) == 1);
    const std::string kept = read(first);
    EXPECT_EQ(lib_->init(nullptr, c.path ? arg(*c.path).c_str() : nullptr, 10), c.result);
    EXPECT_EQ(lib_->error(nullptr, u"after re-target"), c.result);
    EXPECT_EQ(read(first), kept) << "a row went to the previous file";
    EXPECT_TRUE(c.result == 0 || test::ParseCsv(read(*c.path)).size() == 2u);
  }
}

// Someone else who holds the lock (a whole-file lock on Windows, the writers' byte natively)
// and keeps appending to the log costs a process at most its 200 ms of waiting in all: then
// its rows are dropped at once. The next process to load the library writes again once the
// lock is gone.
TEST_F(TracelibTest, ForeignLockCostsAtMostTheWaitingBudget) {
  const fs::path log = dir_ / "log.csv";
  ASSERT_TRUE(init(log) == 1 && lib_->info("t", u"first") == 1);
  const std::string first = read(log);
  lib_.emplace();  // as a new process would, that has not written yet
#ifdef _WIN32
  const HANDLE holder = CreateFileW(fs::absolute(log).c_str(), FILE_APPEND_DATA | GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  OVERLAPPED whole{};
  ASSERT_TRUE(LockFileEx(holder, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole));
  const auto append = [holder] { DWORD done = 0; WriteFile(holder, "foreign\r\n", 9, &done, nullptr); };
  const auto release = [holder] { CloseHandle(holder); };
#else
  const int holder = open(log.c_str(), O_RDWR | O_APPEND);
  struct flock writers {F_WRLCK, SEEK_SET, 0x7FFFFFFF00000000, 1, 0};
  ASSERT_EQ(fcntl(holder, F_OFD_SETLK, &writers), 0);
  const auto append = [holder] { EXPECT_EQ(::write(holder, "foreign\r\n", 9), 9); };
  const auto release = [holder] { close(holder); };
#endif
  std::atomic<bool> done{false};
  std::thread appender([&] {  // stops after 3 s at the latest, so that a run that never gives up fails
    for (int ms = 0; ms < 3000 && !done; ms += 2) append(), std::this_thread::sleep_for(std::chrono::milliseconds(2));
  });
  const auto start = std::chrono::steady_clock::now();
  int written = 0;
  ASSERT_EQ(init(log), 1);
  for (int i = 0; i < 15; ++i) written += lib_->info("t", u"row");
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  done = true;
  appender.join();
  EXPECT_TRUE(written == 0 && waited.count() >= 150 && waited.count() < 1000) << written << " rows in " << waited.count() << " ms";
  release();
  lib_.emplace();
  ASSERT_TRUE(init(log) == 1 && lib_->info("t", u"row") == 1);
  EXPECT_TRUE(read(log).starts_with(first + "foreign\r\n") && read(log).ends_with(",t,row\r\n"));
}

// A link at the log's name or at its ".1", or a link as its folder, is never written through,
// cut or renamed: the other file keeps every byte and no row lands in it. A row meant for a
// link is dropped; a link at ".1" blocks the roll-over, so the rows stay in the log.
TEST_F(TracelibTest, LinksAreNeverWrittenThrough) {
  const std::string other_bytes = std::string(50 * 1024, 'o') + "\r\n", full = std::string((1 << 20) - 2, 'x') + "\r\n";
  enum Link { kHard, kSymbolic, kFolder };
  const struct { const char* name; Link link; bool at_copy; } cases[] = {
      {"hard link at the log", kHard, false}, {"hard link at .1", kHard, true},
#ifndef _WIN32  // Wine shows a symbolic link as the file it leads to
      {"symbolic link at the log", kSymbolic, false}, {"symbolic link at .1", kSymbolic, true},
      {"log folder is a symbolic link", kFolder, false},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path here = dir_ / c.name, other = here / "other.csv", log = here / "logs" / "log.csv";
    const fs::path copy = log.string() + ".1", at = c.at_copy ? copy : log;
    fs::create_directories(here / (c.link == kFolder ? "real" : "logs"));
    write(other, other_bytes);
    if (c.at_copy) write(log, full);
    if (c.link == kHard) fs::create_hard_link(other, at);
    if (c.link == kSymbolic) fs::create_symlink(fs::absolute(other), at);
    if (c.link == kFolder) fs::create_directory_symlink(fs::absolute(here / "real"), log.parent_path());
    lib_.emplace();
    EXPECT_EQ(init(log, 1), c.at_copy ? 1 : 0);
    EXPECT_EQ(lib_->info("t", u"row"), c.at_copy ? 1 : 0);
    EXPECT_EQ(read(other), other_bytes);
    EXPECT_TRUE(!c.at_copy || (read(log).starts_with(full) && read(log).ends_with(",t,row\r\n")));
    EXPECT_FALSE(fs::exists(here / "real" / "log.csv"));
  }
}

}  // namespace
