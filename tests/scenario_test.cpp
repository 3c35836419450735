// Every row of the whole-run table on the simulated Windows: the run as the row says, and the
// same run with each platform call failing in turn, once and from then on.
#include <gtest/gtest.h>

#include <regex>

#include "tests/support/runs.h"

namespace test {
namespace {

class Run : public ::testing::TestWithParam<Row> {};

std::string Name(const ::testing::TestParamInfo<Row>& info) {
  std::string name = std::to_string(info.index) + "_";
  for (const char c : info.param.name) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name.substr(0, 60);
}

TEST_P(Run, LeavesWhatTheRowSays) {
  sim::Machine machine;
  Prepare(GetParam());
  const sim::RunResult run = RunProgram();
  EXPECT_TRUE(run.exited && run.exitCode == 0) << run.exitCode;
  EXPECT_EQ(run.handlesLeft, 0u);
  EXPECT_TRUE(run.comBalanced);
  const Outcome want = Expected(GetParam()), got = Observe(GetParam());
  EXPECT_EQ(got.flag, want.flag);
  EXPECT_EQ(got.boxes, want.boxes);
  EXPECT_EQ(got.logFile, want.logFile);
  EXPECT_EQ(got.log, want.log);
  EXPECT_EQ(got.mapi, want.mapi);
  EXPECT_EQ(got.debug, want.debug);
  EXPECT_EQ(got.folders, want.folders);
}

// Lines the program can write, whatever fails under it.
bool Known(const std::string& line) {
  static const std::regex known(
      "I ParseCommandLine (>>|Command line arguments: |Argument: .*|<< result: .* <<|CommandLineToArgvW retuned a null pointer)|"
      "I (Enable|Disable)OutlookConnector (>>|<<|Outlook Connector is (disable|enable), setting the disable flag to [01]\\.)|"
      "I IsOutlookRunning (>>|<< result: [01])|"
      "I OutlookInformation::GetOutlookLanguageID (MAPIDir : .*|Failed to obtain the MAPIDir with default MSIComponentId)|"
      "I ModuleStrings::Initialize Loading file .*|"
      "W ModuleStrings::Initialize Unable to find modulestrings file for language .*, using default EN-US file\\.|"
      "E ModuleStrings::Initialize Error loading xml file: 0x[0-9a-f]+\\(try [123]\\)");
  return std::regex_match(line, known);
}

class FaultSweep : public ::testing::TestWithParam<Row> {};

// A failed call gives a default and at most a log line: exit code 0, every handle released,
// a whole log of known lines, and the flag as before the run or as the row leaves it (or as
// enabling leaves it, when the failed call was the command-line split).
TEST_P(FaultSweep, EveryFailingCallEndsInADefault) {
  std::uint64_t calls = 0;
  {
    sim::Machine machine;
    Prepare(GetParam());
    calls = RunProgram().calls;
  }
  for (const bool persistent : {false, true}) {
    for (std::uint64_t k = 1; k <= calls; ++k) {
      sim::Machine machine;
      Prepare(GetParam());
      const std::string before = Observe(GetParam()).flag;
      sim::FailCall(k, persistent);
      const sim::RunResult run = RunProgram();
      sim::FailCall(0, false);
      Outcome got;
      EXPECT_NO_THROW(got = Observe(GetParam())) << "call " << k;
      const std::string after = Expected(GetParam()).flag;
      const bool enables = run.firstFailed == "CommandLineToArgv" && before == "4:01000000";
      EXPECT_TRUE(got.flag == before || got.flag == after || (enables && got.flag == "4:00000000"))
          << "call " << k << " " << run.firstFailed << ": flag " << got.flag;
      EXPECT_TRUE(run.exited && run.exitCode == 0 && run.handlesLeft == 0)
          << "call " << k << " " << run.firstFailed << (persistent ? " on" : " once") << ": exit " << run.exitCode;
      for (const std::string& line : got.log) EXPECT_TRUE(Known(line)) << line;
    }
  }
  std::printf("%llu calls, each failed once and from then on\n", static_cast<unsigned long long>(calls));
}

INSTANTIATE_TEST_SUITE_P(Table, Run, ::testing::ValuesIn(Table()), Name);
#ifdef PLAINRUN_SANITIZE
// Under the sanitizers a run costs ten times as much: the marked rows stand for the rest.
INSTANTIATE_TEST_SUITE_P(Table, FaultSweep, ::testing::ValuesIn(MarkedRows()), Name);
#else
INSTANTIATE_TEST_SUITE_P(Table, FaultSweep, ::testing::ValuesIn(Table()), Name);
#endif

}  // namespace
}  // namespace test
