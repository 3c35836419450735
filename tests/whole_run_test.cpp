// Whole runs of the program on the simulated Windows, each in a fresh process.
#include <gmock/gmock.h>

#include "tests/support/harness.h"

namespace test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

class WholeRun : public Machine {};

std::vector<std::string> ParseLines(const std::string& argument) {
  std::vector<std::string> lines{"I ParseCommandLine >>", "I ParseCommandLine Command line arguments: ",
                                 "I ParseCommandLine Argument: C:\\Program Files\\Orvane\\plainrunctl.exe"};
  if (!argument.empty()) lines.push_back("I ParseCommandLine Argument: " + argument);
  lines.push_back("I ParseCommandLine << result: " + argument + " <<");
  return lines;
}

TEST_F(WholeRun, DisableLogsEveryStepInOrder) {
  SetArguments(u"/plainrun");
  const sim::RunResult run = RunProgram();
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.handlesLeft, 0u);
  EXPECT_TRUE(run.comBalanced);
  EXPECT_EQ(Flag(), 1u);

  std::vector<std::string> expected = ParseLines("/plainrun");
  const auto again = ParseLines("/plainrun");
  expected.insert(expected.end(), again.begin(), again.end());
  expected.insert(expected.end(), {"I DisableOutlookConnector >>",
                                   "I DisableOutlookConnector Outlook Connector is enable, setting the disable flag to 1.",
                                   "I IsOutlookRunning >>", "I IsOutlookRunning << result: 0",
                                   "I DisableOutlookConnector <<"});
  EXPECT_THAT(LogLines(), ElementsAreArray(expected));
  for (const LogRow& row : ReadLog()) EXPECT_EQ(row.logger, "plainrunctl");
  EXPECT_EQ(KeyClass(), u"REG_DWORD");
  // The library is loaded once, from the installation folder, and unloaded once at exit.
  ASSERT_EQ(EventsOf("load").size(), 1u);
  EXPECT_EQ(EventsOf("load")[0].fields[0], u"C:\\Program Files\\Orvane\\tracelib.dll");
  EXPECT_EQ(EventsOf("free").size(), 1u);
  EXPECT_THAT(EventsOf("msgbox"), IsEmpty());
  EXPECT_THAT(EventsOf("debug"), IsEmpty());
}

TEST_F(WholeRun, EnableWithOutlookRunningShowsTheBoxAfterTheWrite) {
  InstallStringFiles();
  sim::SetDword(sim::Hive::CurrentUser, kProductKey, u"DisableOutlookConnector", 1);
  sim::SetProcesses({u"System", u"OUTLOOK.EXE"});
  SetArguments(u"");
  const sim::RunResult run = RunProgram();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(Flag(), 0u);
  const auto boxes = EventsOf("msgbox");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].fields[0], u"Outlook Connector");
  EXPECT_EQ(boxes[0].fields[1], u"The Outlook Connector has been enabled. Restart Outlook for the change to take effect.");
  EXPECT_EQ(boxes[0].fields[2], u"64");

  std::vector<std::string> expected = ParseLines("");
  expected.insert(expected.end(),
                  {"I EnableOutlookConnector >>",
                   "I EnableOutlookConnector Outlook Connector is disable, setting the disable flag to 0.",
                   "I IsOutlookRunning >>", "I IsOutlookRunning << result: 1",
                   "I ModuleStrings::Initialize Loading file C:\\Program Files\\Orvane\\\\Data\\modulestrings.xml",
                   "I EnableOutlookConnector <<"});
  EXPECT_THAT(LogLines(), ElementsAreArray(expected));
}

// Which command lines enable, disable or do nothing, from each starting flag.
TEST_F(WholeRun, DispatchAndFlagTable) {
  struct Case {
    const char16_t* arguments;
    std::optional<std::uint32_t> before;
    std::optional<std::uint32_t> after;
    int parses;
  };
  const Case cases[] = {
      {u"", 1, 0, 1},
      {u"", 0, 0, 1},
      {u"", 7, 7, 1},
      {u"", std::nullopt, std::nullopt, 1},
      {u"/plainrun", std::nullopt, 1, 2},
      {u"/plainrun", 0, 1, 2},
      {u"/plainrun", 7, 1, 2},
      {u"/plainrun", 1, 1, 2},
      {u"/PLAINRUN", 0, 0, 2},
      {u"plainrun", 0, 0, 2},
      {u"\"/plainrun \"", 0, 0, 2},
      {u"/plainrun x", 1, 0, 1},
      {u"\"\"", 1, 0, 1},
      {u"a b c", 1, 0, 1},
  };
  for (const Case& c : cases) {
    sim::Machine fresh;
    SetUp();
    SetArguments(c.arguments);
    if (c.before) sim::SetDword(sim::Hive::CurrentUser, kProductKey, u"DisableOutlookConnector", *c.before);
    sim::SetProcesses({u"outlook.exe"});
    const sim::RunResult run = RunProgram();
    SCOPED_TRACE(sim::Utf8(c.arguments));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(Flag(), c.after);
    int parses = 0;
    for (const std::string& line : LogLines()) parses += line == "I ParseCommandLine >>";
    EXPECT_EQ(parses, c.parses);
    const bool changed = c.before != c.after;
    EXPECT_EQ(EventsOf("msgbox").size(), changed ? 1u : 0u);
  }
}

TEST_F(WholeRun, OnlyTheUsersFlagIsReadAndWritten) {
  sim::SetDword(sim::Hive::LocalMachine, kProductKey, u"DisableOutlookConnector", 1);
  SetArguments(u"");
  EXPECT_EQ(RunProgram().exitCode, 0);
  EXPECT_EQ(Flag(), std::nullopt);
  EXPECT_EQ(sim::GetValue(sim::Hive::LocalMachine, kProductKey, u"DisableOutlookConnector")->bytes[0], 1);
}

// Where the logging library comes from, and what happens when it is unusable.
TEST_F(WholeRun, LibraryBindingTable) {
  struct Case {
    const char* name;
    std::optional<std::u16string> path;  // "Path" as stored; nullopt: absent
    const char* module;                  // what lies at <Path>tracelib.dll
    bool logged;
  };
  const Case cases[] = {
      {"trailing backslash", u"C:\\Program Files\\Orvane\\", TRACELIB_SO, true},
      {"no trailing backslash", u"C:\\Program Files\\Orvane", TRACELIB_SO, false},
      {"three exports", u"C:\\Program Files\\Orvane\\", THREE_EXPORTS_SO, false},
      {"no library", u"C:\\Program Files\\Orvane\\", nullptr, false},
      {"Path absent", std::nullopt, TRACELIB_SO, false},
      {"Path empty", u"", TRACELIB_SO, false},
      {"Path relative", u"Orvane\\", TRACELIB_SO, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine fresh;
    if (c.path) sim::SetString(sim::Hive::LocalMachine, kProductKey, u"Path", *c.path);
    if (c.module) sim::InstallModule(u"C:\\Program Files\\Orvane\\tracelib.dll", c.module);
    // Planted copies in the current folder, the program's folder and the system folder;
    // with Outlook running the MAPI stub is looked up by its bare name too.
    for (const char16_t* folder : {u"C:\\cwd\\", u"C:\\cwd\\Orvane\\", u"C:\\Program Files\\Orvane\\"}) {
      sim::InstallModule(std::u16string(folder) + u"mapistub.dll", MAPI_STUB_SO);
      sim::InstallModule(std::u16string(folder) + u"mapi32.dll", MAPI_STUB_SO);
      if (std::u16string(folder) != u"C:\\Program Files\\Orvane\\") sim::InstallModule(std::u16string(folder) + u"tracelib.dll", TRACELIB_SO);
    }
    sim::InstallModule(u"C:\\Windows\\System32\\tracelib.dll", TRACELIB_SO);
    sim::SetProcesses({u"OUTLOOK.EXE"});
    SetArguments(u"/plainrun");
    const sim::RunResult run = RunProgram();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.handlesLeft, 0u);
    EXPECT_EQ(Flag(), 1u);
    EXPECT_EQ(!ReadLog().empty(), c.logged);
    EXPECT_FALSE(sim::Exists(u"C:\\three-exports-called"));
    for (const auto& load : EventsOf("load")) EXPECT_EQ(load.fields[0], u"C:\\Program Files\\Orvane\\tracelib.dll");
    EXPECT_EQ(EventsOf("msgbox").size(), 1u);
    EXPECT_EQ(EventsOf("load").size(), EventsOf("free").size());
  }
}

TEST_F(WholeRun, ArgumentsWithPercentSignsReachTheLogUnchanged) {
  SetArguments(u"%s%d%n%%");
  EXPECT_EQ(RunProgram().exitCode, 0);
  const auto lines = LogLines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[3], "I ParseCommandLine Argument: %s%d%n%%");
  EXPECT_EQ(lines[4], "I ParseCommandLine << result: %s%d%n%% <<");
}

}  // namespace
}  // namespace test
