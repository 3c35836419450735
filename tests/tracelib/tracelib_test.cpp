// Drives tracelib the way the program does: loaded at run time, four calls,
// then reads the file back with a strict CSV reader.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "tests/support/csv.h"
#include "tracelib.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using test::Rows;
using LogCall = decltype(&LogErrorW);

const std::string kHeader = "Time (UTC),Level,Process,Thread,Logger,Message\r\n";

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

// The program hands over Windows paths, so natively this also checks that '\\' separates folders.
std::u16string arg(const fs::path& path) {
  std::u16string out;
  for (const char ch : path.generic_string()) out.push_back(ch == '/' ? u'\\' : char16_t(ch));
  return out;
}

std::string read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

#ifdef _WIN32
std::string this_process() { return std::to_string(GetCurrentProcessId()); }
std::string this_thread() { return std::to_string(GetCurrentThreadId()); }
#else
std::string this_process() { return std::to_string(getpid()); }
std::string this_thread() { return std::to_string(gettid()); }
#endif

class TracelibTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path("tracelib_test_" + this_process()) / testing::UnitTest::GetInstance()->current_test_info()->name();
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

// The header goes only into files the library creates; a file that ends in part of a row
// (a write cut short by a full disk) is cut back to its last CRLF before the next row.
TEST_F(TracelibTest, FirstRowFollowsWholeRowsOnly) {
  const std::string straddle = std::string(100, 'x') + "\r\n";  // its CRLF on two 2 KiB pages
  const struct {
    const char* name;
    std::optional<std::string> existing;
    std::string kept;
    int inits = 1;
  } cases[] = {
      {"new", std::nullopt, kHeader},
      {"new, initialised twice", std::nullopt, kHeader, 2},
      {"existing", "earlier,row\r\n", "earlier,row\r\n"},
      {"existing but empty", "", ""},
      {"torn row", kHeader + "a,b\r\nc,\"d\r", kHeader + "a,b\r\n"},
      {"torn after a lone CR or LF", "a\r\nb\rc\nd", "a\r\n"},
      {"no whole row", "torn", ""},
      {"long torn row", "a\r\n" + std::string(10000, 'y'), "a\r\n"},
      {"CRLF across reads", straddle + std::string(2047, 'y'), straddle},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path log = dir_ / c.name;
    if (c.existing) write(log, *c.existing);
    for (int i = 0; i < c.inits; ++i) ASSERT_EQ(lib().init("t", arg(log).c_str(), 10), 1);
    ASSERT_EQ(lib().info("t", u"only row"), 1);
    const std::string text = read(log);
    EXPECT_EQ(text.substr(0, c.kept.size()), c.kept);
    EXPECT_EQ(test::ParseCsv(text.substr(c.kept.size())).size(), 1u) << text;
  }
}

// Each call writes one row: the time, its level, this process and thread, then the logger
// and the message as cells that are quoted, defused against formulas and UTF-8 as needed.
TEST_F(TracelibTest, RowsHoldEveryColumn) {
  std::u16string long_line;
  std::string long_cell = "\"";
  for (int i = 0; i < 10000; ++i) long_line += u"x,\"\u00e9\n", long_cell += "x,\"\"\xC3\xA9\n";
  long_cell += '"';
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
  // Whole seconds, with a margin: coarse clocks may lag a little. The format sorts like
  // the instants it names, so comparing the texts bounds the time.
  auto utc_now = [](int shift_seconds) {
    const std::time_t now = std::time(nullptr) + shift_seconds;
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", std::gmtime(&now));
    return std::string(text);
  };
  const std::pair<LogCall, std::string> levels[] = {{lib().error, "ERROR"}, {lib().warning, "WARNING"}, {lib().info, "INFO"}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].cells.substr(0, 40));
    const fs::path log = dir_ / std::to_string(i);
    ASSERT_EQ(lib().init("t", arg(log).c_str(), 10), 1);
    const std::string earliest = utc_now(-1);
    ASSERT_EQ(levels[i % 3].first(cases[i].logger, cases[i].line), 1);
    const std::string text = read(log), latest = utc_now(2);
    const Rows rows = test::ParseCsv(text);
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(rows[1].size(), 6u);
    EXPECT_TRUE(rows[1][0].size() == earliest.size() && earliest <= rows[1][0] && rows[1][0] < latest) << rows[1][0];
    EXPECT_EQ(std::vector<std::string>(rows[1].begin() + 1, rows[1].begin() + 4),
              (std::vector<std::string>{levels[i % 3].second, this_process(), this_thread()}));
    EXPECT_TRUE(text.ends_with("," + cases[i].cells + "\r\n")) << text.substr(kHeader.size());
  }
}

// A log at its limit is renamed to ".1" at the next start. While that is blocked it may
// grow to twice the limit and no further, and the first start that can roll over does.
TEST_F(TracelibTest, RollsOverOrStaysWithinTwiceTheLimit) {
  constexpr std::size_t kMiB = 1 << 20;
  const struct {
    const char* name;
    std::size_t size;
    int limit;
    bool older_copy, rolls, blocked = false;
  } cases[] = {
      {"exactly at limit", kMiB, 1, false, true},
      {"over limit, older copy replaced", kMiB + 10, 1, true, true},
      {"just under limit", kMiB - 1, 1, false, false},
      {"zero never rolls", 3 * kMiB, 0, false, false},
      {"negative never rolls", kMiB, -1, true, false},
      {"a folder in the way", 2 * kMiB - 200, 1, false, true, true},
#ifdef _WIN32
      {"older copy open without delete sharing", 2 * kMiB - 200, 1, true, true, true},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path log = dir_ / c.name, copy = dir_ / (std::string(c.name) + ".1");
    const std::string old = std::string(c.size - 2, 'x') + "\r\n";
    write(log, old);
    if (c.older_copy) write(copy, "older");
    if (c.blocked && !c.older_copy) fs::create_directory(copy);
#ifdef _WIN32
    const HANDLE viewer = c.blocked && c.older_copy ? CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                                  OPEN_EXISTING, 0, nullptr)
                                                    : INVALID_HANDLE_VALUE;
#endif
    ASSERT_EQ(lib().init("t", arg(log).c_str(), c.limit), 1);
    std::string before = old;
    if (c.blocked) {
      int written = 0;
      for (int i = 0; i < 10; ++i) written += lib().info("t", u"row");
      EXPECT_TRUE(written > 0 && written < 10) << written;
      EXPECT_LE(fs::file_size(log), 2 * kMiB);
      EXPECT_EQ(test::ParseCsv(read(log)).size(), static_cast<std::size_t>(1 + written));
#ifdef _WIN32
      CloseHandle(viewer);
#endif
      fs::remove_all(copy);
      before = read(log);
      ASSERT_EQ(lib().init("t", arg(log).c_str(), c.limit), 1);
    }
    ASSERT_EQ(lib().info("t", u"new row"), 1);
    const std::string text = read(log);
    EXPECT_TRUE(text.starts_with(c.rolls ? kHeader : old) && text.ends_with(",t,new row\r\n"));
    const std::string older = c.older_copy && !c.blocked ? "older" : "";
    EXPECT_TRUE((fs::exists(copy) ? read(copy) : "") == (c.rolls ? before : older));
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
    EXPECT_TRUE(c.result == 0 || test::ParseCsv(read(*c.path)).size() == 2u);
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
  const HANDLE handle = CreateFileW(fs::absolute(log).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
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

}  // namespace

