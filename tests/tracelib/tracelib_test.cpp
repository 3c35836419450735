// Drives tracelib the way the program does: loaded at run time, four calls,
// then reads the file back with a strict CSV reader.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
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

class TracelibTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_);
    ASSERT_TRUE(lib_->init && lib_->error && lib_->warning && lib_->info) << TRACELIB_PATH;
  }
  // Once the library is unloaded, no file it made is left open or under a temporary name.
  void TearDown() override {
    lib_.reset();
    for (const auto& file : fs::recursive_directory_iterator(dir_, ignored_)) {
      EXPECT_NE(file.path().extension(), ".tmp") << file.path();
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

// The header goes only into files the library creates; a file that ends in part of a row
// (a write cut short by a full disk) is cut back to its last CRLF before the next row.
// A log at its limit is renamed to ".1" (replacing an older one) at the next start.
TEST_F(TracelibTest, FirstRowFollowsWholeRowsAndFullLogsRollOver) {
  // straddle has its CRLF on two 2 KiB pages; mib is a whole row that fills 1 MiB.
  const std::string straddle = std::string(100, 'x') + "\r\n", mib = std::string((1 << 20) - 2, 'x') + "\r\n";
  const struct {
    const char* name;
    std::optional<std::string> existing;  // none: no file at the start
    std::string kept;                     // the file's start after one row
    int limit_mib = 10;
    std::string copy_before = "", copy_after = "";  // the ".1" file; empty: none
  } cases[] = {
      {"new", std::nullopt, kHeader}, {"existing", "earlier,row\r\n", "earlier,row\r\n"}, {"existing but empty", "", ""},
      {"torn row", kHeader + "a,b\r\nc,\"d\r", kHeader + "a,b\r\n"}, {"torn after a lone CR or LF", "a\r\nb\rc\nd", "a\r\n"},
      {"no whole row", "torn", ""}, {"long torn row", "a\r\n" + std::string(10000, 'y'), "a\r\n"},
      {"CRLF across reads", straddle + std::string(2047, 'y'), straddle}, {"exactly at limit", mib, kHeader, 1, "", mib},
      {"over limit, older copy replaced", mib + "12345678\r\n", kHeader, 1, "older", mib + "12345678\r\n"},
      {"just under limit", mib.substr(1), mib.substr(1), 1}, {"zero never rolls", mib + mib + mib, mib + mib + mib, 0},
      {"negative never rolls", mib, mib, -1, "older", "older"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path log = dir_ / c.name, copy = dir_ / (std::string(c.name) + ".1");
    if (c.existing) write(log, *c.existing);
    if (!c.copy_before.empty()) write(copy, c.copy_before);
    ASSERT_TRUE(init(log, c.limit_mib) == 1 && lib_->info("t", u"only row") == 1);
    const std::string text = read(log);
    EXPECT_TRUE(text.starts_with(c.kept) && test::ParseCsv(text.substr(c.kept.size())).size() == 1) << text.substr(0, 200);
    EXPECT_TRUE(read(copy) == c.copy_after) << read(copy).substr(0, 200);
  }
}

// While the roll-over is blocked (here by a folder of the ".1" file's name) the log may grow to
// twice the limit and no further, and the first start that can roll over does.
TEST_F(TracelibTest, BlockedRollOverStaysWithinTwiceTheLimit) {
  const fs::path log = dir_ / "log.csv", copy = dir_ / "log.csv.1";
  write(log, std::string((2 << 20) - 202, 'x') + "\r\n");
  fs::create_directory(copy);
  ASSERT_EQ(init(log, 1), 1);
  int written = 0;
  for (int i = 0; i < 10; ++i) written += lib_->info("t", u"row");
  const std::string before = read(log);
  EXPECT_TRUE(written > 0 && written < 10 && before.size() <= 2 << 20) << written;
  EXPECT_EQ(test::ParseCsv(before).size(), 1u + written);
  fs::remove_all(copy);
  ASSERT_TRUE(init(log, 1) == 1 && lib_->info("t", u"new row") == 1);
  EXPECT_TRUE(read(log).starts_with(kHeader) && read(log).ends_with(",t,new row\r\n") && read(copy) == before);
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
      {u"\xDC00\xD800", "svc,\xEF\xBF\xBD\xEF\xBF\xBD"}, {u"\xDBFF\xDC00", "svc,\xF4\x8F\xB0\x80"},
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

// Processes that race to create a missing log (and its folder) and then append to it at
// once: each row lands whole, the header once at the top, every writer's rows in their
// order, and no temporary file is left. Without the writers' lock Wine tears rows.
TEST_F(TracelibTest, ConcurrentWritersKeepEveryRowWhole) {
  constexpr int kWriters = 16, kRows = 40;
  // One writer: waits until the round's folder shows that all writers are started, then
  // writes rows numbered in order; true when every call succeeded.
  const auto write_rows = [](Library& lib, const fs::path& log) {
    for (int ms = 0; ms < 5000 && !fs::exists(log.parent_path().parent_path()); ++ms)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    bool all = lib.init("t", arg(log).c_str(), 10) == 1;
    for (int i = 0; i < kRows; ++i) all = lib.info("t", arg(std::to_string(i)).c_str()) == 1 && all;
    return all;
  };
#ifdef _WIN32
  if (const char* log = std::getenv("TRACELIB_TEST_WRITER")) {  // this test started again as one writer
    EXPECT_TRUE(write_rows(*lib_, log));
    return;
  }
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
#endif
  for (int round = 0; round < 6; ++round) {
    const fs::path log = dir_ / std::to_string(round) / "logs" / "log.csv";
#ifdef _WIN32
    SetEnvironmentVariableA("TRACELIB_TEST_WRITER", log.string().c_str());
    std::vector<intptr_t> writers(kWriters);
    for (auto& w : writers)
      w = _wspawnl(_P_NOWAIT, self, L"tracelib_test", L"--gtest_brief=1",
                   L"--gtest_filter=TracelibTest.ConcurrentWritersKeepEveryRowWhole", nullptr);
    SetEnvironmentVariableA("TRACELIB_TEST_WRITER", nullptr);
#else
    std::vector<pid_t> writers(kWriters);
    for (auto& w : writers)
      if ((w = fork()) == 0) lib_.emplace(), std::_Exit(write_rows(*lib_, log) ? 0 : 1);  // a library of its own
#endif
    fs::create_directory(log.parent_path().parent_path());
    for (const auto w : writers) {
      int code = -1;  // also when the writer could not be started
#ifdef _WIN32
      _cwait(&code, w, 0);
#else
      waitpid(w, &code, 0);
#endif
      EXPECT_EQ(code, 0);
    }
    const std::string text = read(log);
    ASSERT_TRUE(text.starts_with(kHeader)) << text.substr(0, 200);
    const auto rows = test::ParseCsv(text.substr(kHeader.size()));  // throws on a torn row
    std::map<std::string, int> next;  // each writer's next row number
    for (const auto& row : rows) ASSERT_EQ(row.at(5), std::to_string(next[row.at(2)]++)) << text;
    EXPECT_TRUE(rows.size() == kWriters * kRows && next.size() == kWriters) << rows.size() << " rows";
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
    ASSERT_TRUE(init(first) == 1 && init(first) == 1);  // the second start finds the file with its header
    EXPECT_EQ(lib_->init(nullptr, c.path ? arg(*c.path).c_str() : nullptr, 10), c.result);
    EXPECT_EQ(lib_->error(nullptr, u"after re-target"), c.result);
    EXPECT_EQ(read(first), kHeader) << "a row went to the previous file";
    EXPECT_TRUE(c.result == 0 || test::ParseCsv(read(*c.path)).size() == 2u);
  }
}

// Someone else's lock (a viewer's over the whole file on Windows, the writers' byte here)
// costs a process at most its 200 ms of waiting in all: then its rows are dropped at once.
// The next process to load the library writes again once the lock is gone.
TEST_F(TracelibTest, ForeignLockCostsAtMostTheWaitingBudget) {
  const fs::path log = dir_ / "log.csv";
  ASSERT_EQ(init(log), 1);
#ifdef _WIN32
  const HANDLE viewer = CreateFileW(fs::absolute(log).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  OVERLAPPED whole{};
  ASSERT_TRUE(LockFileEx(viewer, 0, 0, MAXDWORD, MAXDWORD, &whole));
#else
  const int viewer = open(log.c_str(), O_RDWR);
  struct flock writers {F_WRLCK, SEEK_SET, 0x7FFFFFFF00000000, 1, 0};
  ASSERT_EQ(fcntl(viewer, F_OFD_SETLK, &writers), 0);
#endif
  const auto start = std::chrono::steady_clock::now();
  int written = 0;
  for (int i = 0; i < 15; ++i) written += lib_->info("t", u"row");
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_TRUE(written == 0 && waited.count() >= 150 && waited.count() < 1000) << written << " rows in " << waited.count() << " ms";
#ifdef _WIN32
  CloseHandle(viewer);
#else
  close(viewer);
#endif
  lib_.emplace();
  ASSERT_TRUE(init(log) == 1 && lib_->info("t", u"row") == 1);
  EXPECT_EQ(test::ParseCsv(read(log)).size(), 2u);
}

}  // namespace
