// Folder tokens, folder-tree creation and the folders AppPaths works out.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "paths/app_paths.h"
#include "tests/support/harness.h"

namespace test {
namespace {

constexpr const char16_t* kDocuments = u"C:\\Users\\tester\\Documents";

TEST(FolderTokens, ExpansionTable) {
  struct Case {
    std::u16string text;
    std::u16string expected;
  };
  const Case cases[] = {
      {u"%APPLICATIONDATA%\\Mail", u"C:\\Users\\tester\\AppData\\Roaming\\mail"},
      {u"%AppData%\\x", u"%appdata%\\x"},
      {u"%userprofile%\\%mydocuments%", u"%userprofile%\\C:\\Users\\tester\\Documents"},
      {u"%mydocuments%;%MyDocuments%", u"C:\\Users\\tester\\Documents;C:\\Users\\tester\\Documents"},
      {u"%LocalApplicationData%\\x", u"C:\\Users\\tester\\AppData\\Local\\x"},
      {u"D:\\Data\\X", u"d:\\data\\x"},
      {u"\u00C4\u00C9%USERPROFILE%", u"\u00C4\u00C9C:\\Users\\tester"},
      {u"%mydocuments%%mydocuments%", u"C:\\Users\\tester\\DocumentsC:\\Users\\tester\\Documents"},
      {u"", u""},
  };
  sim::Machine machine;
  for (const Case& c : cases) {
    std::u16string text = c.text;
    AppPaths::ExpandFolderTokens(text);
    EXPECT_EQ(text, c.expected) << sim::Utf8(c.text);
  }
  // A folder the shell cannot give removes its token.
  sim::SetSpecialFolder(AppPaths::kCsidlProfile, u"");
  std::u16string text = u"%userprofile%\\x";
  AppPaths::ExpandFolderTokens(text);
  EXPECT_EQ(text, u"\\x");
}

TEST(FolderTree, CreationTable) {
  struct Case {
    std::u16string path;
    bool result;
    std::vector<std::u16string> exist;
  };
  sim::Machine machine;
  sim::WriteFile(u"C:\\blocked", "a file");
  const Case cases[] = {
      {u"C:\\a\\b", true, {u"C:\\a", u"C:\\a\\b"}},
      {u"C:\\a\\b\\", true, {u"C:\\a\\b"}},
      {u"x", true, {}},
      {u"ab", true, {u"C:\\cwd\\ab"}},
      {u"C:\\blocked\\inner\\deeper", false, {}},
      {u"C:\\two\\\\slashes", true, {u"C:\\two\\slashes"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AppPaths::CreateFolderTree(c.path), c.result) << sim::Utf8(c.path);
    for (const auto& folder : c.exist) EXPECT_TRUE(sim::Exists(folder)) << sim::Utf8(folder);
  }
  EXPECT_FALSE(sim::Exists(u"C:\\blocked\\inner\\deeper"));
  EXPECT_THROW(AppPaths::CreateFolderTree(u""), std::invalid_argument);
}

// Builds AppPaths in a child and records what it found.
int RecordFolders() {
  AppPaths& paths = AppPaths::GetInstance();
  sim::WriteFile(u"C:\\folders.txt", sim::Utf8(paths.InstallFolder() + u"|" + paths.DataFolder() + u"|" +
                                               paths.LogFolder()));
  return 0;
}

TEST(AppPathsConstruction, DataPathTable) {
  struct Case {
    const char* name;
    std::optional<std::u16string> dataPath;
    const char16_t* makeFirst;  // a folder that exists before the run
    std::vector<std::u16string> debug;
    std::u16string keelstore;  // where the product folder is made
  };
  const Case cases[] = {
      {"no policy", std::nullopt, nullptr, {}, u"C:\\Users\\tester\\AppData\\Local\\Orvane\\Keelstore"},
      {"tokens, trimmed", u"  %MyDocuments%\\Mail  ", u"C:\\Users\\tester\\Documents\\mail",
       {u"C:\\Users\\tester\\Documents\\mail"}, u"C:\\Users\\tester\\Documents\\mail\\Orvane\\Keelstore"},
      {"no token", u"D:\\Vault", u"D:\\vault", {u"d:\\vault"}, u"D:\\vault\\Orvane\\Keelstore"},
      {"missing folder", u"D:\\Missing\\Sub", nullptr, {u"d:\\missing\\sub"},
       u"C:\\Users\\tester\\AppData\\Local\\Orvane\\Keelstore"},
      {"white space only", u" \t ", nullptr, {}, u"C:\\Users\\tester\\AppData\\Local\\Orvane\\Keelstore"},
      {"trailing backslash", u"D:\\Vault\\", u"D:\\vault", {u"d:\\vault\\"}, u"D:\\vault\\Orvane\\Keelstore"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine machine;
    sim::SetString(sim::Hive::LocalMachine, kProductKey, u"Path", u"C:\\Prog\\");
    if (c.dataPath) sim::SetString(sim::Hive::CurrentUser, kPolicyKey, u"DataPath", *c.dataPath);
    if (c.makeFirst) std::filesystem::create_directories(sim::HostPath(c.makeFirst));
    const sim::RunResult run = sim::RunInChild(RecordFolders);
    EXPECT_EQ(run.exitCode, 0);
    std::vector<std::u16string> debug;
    for (const auto& event : sim::Events())
      if (event.kind == "debug") debug.push_back(event.fields[0]);
    EXPECT_EQ(debug, c.debug);
    EXPECT_TRUE(sim::Exists(c.keelstore));
    EXPECT_TRUE(sim::Exists(u"C:\\Users\\tester\\AppData\\Local\\Orvane\\Keelstore\\DebugLogs"));
    EXPECT_FALSE(sim::Exists(u"D:\\Missing"));
    std::ifstream in(sim::HostPath(u"C:\\folders.txt"));
    std::string folders;
    std::getline(in, folders);
    EXPECT_EQ(folders,
              "C:\\Prog\\|C:\\Prog\\\\Data|C:\\Users\\tester\\AppData\\Local\\Orvane\\Keelstore\\DebugLogs");
  }
}

TEST(AppPathsConstruction, NoShellFolderPutsTheLogAtTheDriveRoot) {
  sim::Machine machine;
  sim::SetSpecialFolder(AppPaths::kCsidlLocalAppData, u"");
  EXPECT_EQ(sim::RunInChild(RecordFolders).exitCode, 0);
  std::ifstream in(sim::HostPath(u"C:\\folders.txt"));
  std::string folders;
  std::getline(in, folders);
  EXPECT_EQ(folders, "|\\Data|\\Orvane\\Keelstore\\DebugLogs");
  EXPECT_TRUE(sim::Exists(u"C:\\Orvane\\Keelstore\\DebugLogs"));
}

}  // namespace
}  // namespace test
