// Drives tracelib the way the program does: loaded at run time, four calls,
// then reads the file back with a strict CSV reader.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/csv.h"
#include "tracelib.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using test::Rows;
using LogCall = decltype(&LogErrorW);

const std::string kHeader = "Time (UTC),Level,Process,Thread,Logger,Message\r\n";
constexpr int kWriters = 8;
constexpr int kRowsPerWriter = 500;

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
  decltype(&LogInitialize) init = reinterpret_cast<decltype(&LogInitialize)>(find("LogInitialize"));
  LogCall error = reinterpret_cast<LogCall>(find("LogErrorW"));
  LogCall warning = reinterpret_cast<LogCall>(find("LogWarningW"));
  LogCall info = reinterpret_cast<LogCall>(find("LogInformationW"));
  bool loaded() const { return init && error && warning && info; }
};

std::u16string widen(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

// The program hands over Windows paths, so natively this also checks that '\\' separates folders.
std::u16string arg(const fs::path& path) {
  std::u16string out = widen(path.generic_string());
  for (char16_t& ch : out)
    if (ch == u'/') ch = u'\\';
  return out;
}

std::string read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Whole seconds only, with a margin the caller picks: coarse clocks may lag a little.
std::string utc_now(int shift_seconds) {
  const std::time_t now =
      std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()) + shift_seconds;
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", std::gmtime(&now));
  return text;
}

#ifdef _WIN32
std::string this_process() { return std::to_string(GetCurrentProcessId()); }
std::string this_thread() { return std::to_string(GetCurrentThreadId()); }
#else
std::string this_process() { return std::to_string(getpid()); }
std::string this_thread() { return std::to_string(gettid()); }
#endif

// What writer w logs as its row-th row: ASCII that needs quoting, then non-ASCII.
std::string writer_text(int w, int row) {
  return "w" + std::to_string(w) + " row " + std::to_string(row) + ", \"quoted\"\r\nnext";
}

int write_rows(const fs::path& log, int writer, int rows) {
  Library lib;
  if (!lib.loaded() || lib.init("writer", arg(log).c_str(), 10) != 1) return 1;
  for (int row = 0; row < rows; ++row)
    if (lib.info("writer", (widen(writer_text(writer, row)) + u" \u00e9 \U0001D11E").c_str()) != 1)
      return 1;
  return 0;
}

class TracelibTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path("tracelib_test_" + this_process()) /
           testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(dir_);
    lib_.emplace();
    ASSERT_TRUE(lib_->loaded()) << TRACELIB_PATH;
  }
  void TearDown() override {
    lib_.reset();
    std::error_code ignored;
    fs::remove_all(dir_.parent_path(), ignored);
  }
  Library& lib() { return *lib_; }

  fs::path dir_;
  std::optional<Library> lib_;
};

TEST_F(TracelibTest, HeaderOnlyInFilesTheLibraryCreates) {
  const struct {
    const char* name;
    std::optional<std::string> existing;
    int inits;
  } cases[] = {
      {"new", std::nullopt, 1},
      {"new, initialised twice", std::nullopt, 2},
      {"existing", "earlier,row\r\n", 1},
      {"existing but empty", "", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path log = dir_ / c.name;
    if (c.existing) write(log, *c.existing);
    for (int i = 0; i < c.inits; ++i) ASSERT_EQ(lib().init("t", arg(log).c_str(), 10), 1);
    ASSERT_EQ(lib().info("t", u"only row"), 1);

    const std::string text = read(log);
    const std::string before = c.existing.value_or(kHeader);
    EXPECT_EQ(text.substr(0, before.size()), before);
    EXPECT_EQ(test::ParseCsv(text.substr(before.size())).size(), 1u) << text;
  }
}

TEST_F(TracelibTest, CellsAreQuotedDefusedAndUtf8) {
  std::u16string long_line;
  std::string long_cell = "\"";
  for (int i = 0; i < 10000; ++i) {
    long_line += u"x,\"\u00e9\n";
    long_cell += "x,\"\"\xC3\xA9\n";
  }
  long_cell += "\"";

  const struct {
    const char* logger;
    const char16_t* line;
    std::string cells;  // Logger and Message exactly as the file must hold them.
  } cases[] = {
      {"svc", u"hello world", "svc,hello world"},
      {"svc", u"a,b", "svc,\"a,b\""},
      {"svc", u"say \"hi\"", "svc,\"say \"\"hi\"\"\""},
      {"svc", u"cr\rlf\ncrlf\r\nend", "svc,\"cr\rlf\ncrlf\r\nend\""},
      {"svc", u"=1+2", "svc,'=1+2"},
      {"svc", u"+1", "svc,'+1"},
      {"svc", u"-1", "svc,'-1"},
      {"svc", u"@SUM(A1)", "svc,'@SUM(A1)"},
      {"svc", u"=HYPERLINK(\"x\",\"y\")", "svc,\"'=HYPERLINK(\"\"x\"\",\"\"y\"\")\""},
      {"svc", u"a=1 -2 +3 @4", "svc,a=1 -2 +3 @4"},
      {"=cmd", u"m", "'=cmd,m"},
      {"a,b", u"m", "\"a,b\",m"},
      {"caf\xC3\xA9", u"m", "caf\xEF\xBF\xBD\xEF\xBF\xBD,m"},
      {nullptr, u"no logger", ",no logger"},
      {"svc", nullptr, "svc,"},
      {"svc", u"\u00e9\u20ac\U0001D11E", "svc,\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E"},
      {"svc", u"a\xD800", "svc,a\xEF\xBF\xBD"},
      {"svc", u"\xD800x", "svc,\xEF\xBF\xBDx"},
      {"svc", u"\xDC00\xD800", "svc,\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"svc", long_line.c_str(), "svc," + long_cell},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].cells.substr(0, 40));
    const fs::path log = dir_ / std::to_string(i);
    ASSERT_EQ(lib().init("t", arg(log).c_str(), 10), 1);
    ASSERT_EQ(lib().info(cases[i].logger, cases[i].line), 1);
    const std::string text = read(log);
    const Rows rows = test::ParseCsv(text);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].size(), 6u);
    const std::string tail = "," + cases[i].cells + "\r\n";
    EXPECT_TRUE(text.size() > tail.size() && text.ends_with(tail)) << text.substr(kHeader.size());
  }
}

TEST_F(TracelibTest, LevelsAndColumns) {
  const struct {
    LogCall Library::*call;
    const char* level;
  } cases[] = {{&Library::error, "ERROR"}, {&Library::warning, "WARNING"}, {&Library::info, "INFO"}};
  const fs::path log = dir_ / "log.csv";
  ASSERT_EQ(lib().init("t", arg(log).c_str(), 10), 1);
  const std::string earliest = utc_now(-1);
  for (const auto& c : cases) ASSERT_EQ((lib().*c.call)("svc", u"m"), 1);
  const std::string latest = utc_now(2);

  const Rows rows = test::ParseCsv(read(log));
  ASSERT_EQ(rows.size(), std::size(cases) + 1);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"Time (UTC)", "Level", "Process", "Thread", "Logger",
                                                "Message"}));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::vector<std::string>& row = rows[i + 1];
    ASSERT_EQ(row.size(), 6u);
    // This format sorts like the instants it names, so bounds check both.
    EXPECT_EQ(row[0].size(), earliest.size());
    EXPECT_TRUE(earliest <= row[0] && row[0] < latest) << row[0] << " not in " << earliest << "..";
    EXPECT_EQ(row[1], cases[i].level);
    EXPECT_EQ(row[2], this_process());
    EXPECT_EQ(row[3], this_thread());
    EXPECT_EQ(row[4], "svc");
  }
}

TEST_F(TracelibTest, RollsOverAtTheSizeLimit) {
  constexpr std::size_t kMiB = 1 << 20;
  const struct {
    const char* name;
    std::size_t size;
    int limit;
    bool older_copy;
    bool rolls;
  } cases[] = {
      {"exactly at limit", kMiB, 1, false, true},
      {"over limit, older copy replaced", kMiB + 10, 1, true, true},
      {"just under limit", kMiB - 1, 1, false, false},
      {"zero never rolls", kMiB, 0, false, false},
      {"negative never rolls", kMiB, -1, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path log = dir_ / c.name, copy = dir_ / (std::string(c.name) + ".1");
    const std::string old(c.size, 'x');
    write(log, old);
    if (c.older_copy) write(copy, "older");
    ASSERT_EQ(lib().init("t", arg(log).c_str(), c.limit), 1);
    ASSERT_EQ(lib().info("t", u"new row"), 1);

    const std::string text = read(log);
    if (c.rolls) {
      EXPECT_TRUE(read(copy) == old);
      EXPECT_EQ(text.substr(0, kHeader.size()), kHeader);
      EXPECT_EQ(test::ParseCsv(text).size(), 2u);
    } else {
      EXPECT_TRUE(text.starts_with(old));
      EXPECT_TRUE(text.ends_with(",t,new row\r\n"));
      EXPECT_EQ(fs::exists(copy) ? read(copy) : "", c.older_copy ? "older" : "");
    }
  }
}

TEST_F(TracelibTest, MisuseNeverCrashesOrMisdirectsRows) {
  for (const LogCall call : {lib().error, lib().warning, lib().info}) {
    EXPECT_EQ(call("t", u"before initialise"), 0);
    EXPECT_EQ(call(nullptr, nullptr), 0);
  }
  const fs::path first = dir_ / "first.csv";
  const struct {
    const char* name;
    std::optional<fs::path> path;
    int result;
  } cases[] = {
      {"null path", std::nullopt, 0},
      {"empty path", fs::path(), 0},
      {"path is a folder", dir_, 0},
      {"missing folders are created", dir_ / "a" / "b" / "log.csv", 1},
      {"second file", dir_ / "second.csv", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(first);
    ASSERT_EQ(lib().init("t", arg(first).c_str(), 10), 1);
    const std::u16string path = c.path ? arg(*c.path) : u"";
    EXPECT_EQ(lib().init(nullptr, c.path ? path.c_str() : nullptr, 10), c.result);
    EXPECT_EQ(lib().error(nullptr, u"after re-target"), c.result);

    EXPECT_EQ(read(first), kHeader) << "a row went to the previous file";
    if (c.result == 1) {
      EXPECT_EQ(test::ParseCsv(read(*c.path)).size(), 2u);
    }
  }
  for (const auto& entry : fs::recursive_directory_iterator(dir_.parent_path()))
    EXPECT_FALSE(entry.path().string().ends_with(".tmp")) << entry.path();
}

TEST_F(TracelibTest, UnloadingClosesTheFile) {
  const fs::path log = dir_ / "log.csv";
  ASSERT_EQ(lib().init("t", arg(log).c_str(), 10), 1);
  lib_.reset();
#ifdef _WIN32
  // Opening with no sharing fails while any other handle is still open.
  const HANDLE handle = CreateFileW(fs::absolute(log).c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
#else
  // Compared by identity: the descriptor may still carry the name it was created under.
  for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
    std::error_code gone;
    EXPECT_FALSE(fs::equivalent(fd.path(), log, gone)) << fd.path();
  }
#endif
}

#ifdef _WIN32
// Every version of the library that may share a log must lock the same byte, so the
// place of the writers' lock is part of the file format. A writer waits for it, but a
// lock that is never released must not hang the program: the row is written anyway.
TEST_F(TracelibTest, WritersWaitForTheSharedLockButNotForever) {
  const struct {
    const char* name;
    DWORD hold_ms;  // INFINITE: held until the row is written
    DWORD min_ms, max_ms;
  } cases[] = {
      {"released after 500 ms", 500, 450, 3000},
      {"never released", INFINITE, 4500, 15000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path log = dir_ / "locked.csv";
    fs::remove(log);
    ASSERT_EQ(lib().init("t", arg(log).c_str(), 10), 1);
    const HANDLE other = CreateFileW(fs::absolute(log).c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    OVERLAPPED range{};
    range.OffsetHigh = 0xFFFFFFFF;
    ASSERT_TRUE(LockFileEx(other, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range));

    const ULONGLONG start = GetTickCount64();
    std::atomic<ULONGLONG> done_at{0};
    std::thread writer([&] {
      EXPECT_EQ(lib().info("t", u"waited"), 1);
      done_at = GetTickCount64();
    });
    if (c.hold_ms != INFINITE) {
      Sleep(c.hold_ms);
      UnlockFileEx(other, 0, 1, 0, &range);
    }
    writer.join();
    if (c.hold_ms == INFINITE) UnlockFileEx(other, 0, 1, 0, &range);
    CloseHandle(other);

    const ULONGLONG elapsed = done_at - start;
    EXPECT_GE(elapsed, c.min_ms);
    EXPECT_LE(elapsed, c.max_ms);
    EXPECT_TRUE(read(log).ends_with(",t,waited\r\n"));
  }
}
#endif

TEST_F(TracelibTest, ConcurrentWritersKeepEveryRowWhole) {
  const fs::path log = dir_ / "shared.csv";
  const int rows_each = kRowsPerWriter;
#ifdef _WIN32
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::vector<PROCESS_INFORMATION> writers;
  for (int w = 0; w < kWriters; ++w) {
    std::wstring command = L"\"" + std::wstring(self) + L"\" --tracelib-writer " +
                           log.wstring() + L" " + std::to_wstring(w) + L" " +
                           std::to_wstring(rows_each);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    CloseHandle(process.hThread);
    writers.push_back(process);
  }
  for (const PROCESS_INFORMATION& process : writers) {
    DWORD code = 1;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    EXPECT_EQ(code, 0u);
  }
#else
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(write_rows(log, w, rows_each));
    writers.push_back(child);
  }
  for (const pid_t child : writers) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
#endif
  std::set<std::string> expected;
  for (int w = 0; w < kWriters; ++w)
    for (int row = 0; row < rows_each; ++row)
      expected.insert(writer_text(w, row) + " \xC3\xA9 \xF0\x9D\x84\x9E");

  const Rows rows = test::ParseCsv(read(log));
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(1 + kWriters * rows_each));
  EXPECT_EQ(rows[0][0], "Time (UTC)");
  std::set<std::string> processes;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 6u) << "row " << i;
    EXPECT_EQ(rows[i][4], "writer");
    processes.insert(rows[i][2]);
    EXPECT_EQ(expected.erase(rows[i][5]), 1u) << "duplicate or mangled: " << rows[i][5];
  }
  EXPECT_TRUE(expected.empty());
  EXPECT_EQ(processes.size(), static_cast<std::size_t>(kWriters));
}

}  // namespace

// Besides running the tests, the executable doubles as one writer process of
// the concurrency test where the platform cannot fork.
int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--tracelib-writer")
    return write_rows(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
