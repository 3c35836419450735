// Every row of the whole-run table: the run as the row says, on the simulated Windows and
// (built for Windows) against the real program under Wine; natively also the same run with
// each platform call failing in turn, once and from then on, and the marked rows with each
// allocation failing in turn.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <new>
#include <regex>

#include "tests/support/runs.h"

#ifndef _WIN32
#include "platform/entry.h"
#endif

#if !defined(PLAINRUN_SANITIZE) && !defined(_WIN32)
namespace {
long gFailAt = 0;  // the allocation to fail, counting from 1; 0: none
long gAllocations = 0;
bool gCounting = false;

// malloc-backed, so that the deletes below may free what the program's news returned.
void* Allocate(std::size_t size) {
  if (gCounting && ++gAllocations == gFailAt) return nullptr;
  return std::malloc(size ? size : 1);
}
}  // namespace

void* operator new(std::size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace test {
namespace {

class Run : public ::testing::TestWithParam<Row> {};

std::string Name(const ::testing::TestParamInfo<Row>& info) {
  std::string name = std::to_string(info.index) + "_";
  for (const char c : info.param.name) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name.substr(0, 60);
}

TEST_P(Run, LeavesWhatTheRowSays) {
#ifdef _WIN32
  if (NativeOnly(GetParam())) GTEST_SKIP() << "played on the simulated Windows only";
#endif
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

INSTANTIATE_TEST_SUITE_P(Table, Run, ::testing::ValuesIn(Table()), Name);

#ifndef _WIN32

// Lines the program can write, whatever fails under it.
bool Known(const std::string& line) {
  static const std::regex known(
      "I ParseCommandLine (>>|Command line arguments: |Argument: .*|<< result: .* <<|CommandLineToArgvW retuned a null pointer)|"
      "I (Enable|Disable)OutlookConnector (>>|<<|Outlook Connector is (disable|enable), setting the disable flag to [01]\\.)|"
      "I IsOutlookRunning (>>|<< result: [01])|"
      "I OutlookInformation::GetOutlookLanguageID (MAPIDir : .*|Failed to obtain the MAPIDir with default MSIComponentId)|"
      "I ModuleStrings::Initialize Loading file .*|"
      "W ModuleStrings::Initialize Unable to find modulestrings file for language .*, using default EN-US file\\.|"
      "E ModuleStrings::Initialize Error loading xml file: 0x[0-9a-f]+\\(try [123]\\)|"
      "W ModuleStrings::GetString Error getting property IDS_(Title|EnableOC|DisableOC)\\.");
  return std::regex_match(line, known);
}

// Plays the row once for each failure k from 1 to count, armed by arm(k) before the program
// body runs: every run leaves a whole log of known lines, and the flag as before the run or as
// the row leaves it (or as enabling leaves it, when the failed call was the command-line split);
// check looks at what else each run must show.
template <typename Arm, typename Check>
void Sweep(const Row& row, std::uint64_t count, int (*body)(), Arm arm, Check check) {
  const std::string after = Expected(row)["flag"][0];
  for (std::uint64_t k = 1; k <= count; ++k) {
    SCOPED_TRACE(k);
    sim::Machine machine;
    Prepare(row);
    const std::string before = Observe(row)["flag"][0];
    arm(k);
    const sim::RunResult run = RunProgram(body);
    arm(0);
    Outcome got;
    EXPECT_NO_THROW(got = Observe(row));
    const bool enables = run.firstFailed == "CommandLineToArgv" && before == "4:01000000";
    const std::string flag = got["flag"][0];
    EXPECT_TRUE(flag == before || flag == after || (enables && flag == "4:00000000")) << run.firstFailed << ": flag " << flag;
    for (const std::string& line : got["log"]) EXPECT_TRUE(Known(line)) << line;
    check(run, got);
  }
}

class FaultSweep : public ::testing::TestWithParam<Row> {};

// A failed call gives a default and at most a log line: exit code 0 and every handle released.
TEST_P(FaultSweep, EveryFailingCallEndsInADefault) {
  std::uint64_t calls = 0;
  {
    sim::Machine machine;
    Prepare(GetParam());
    calls = RunProgram().calls;
  }
#ifdef PLAINRUN_SANITIZE
  for (const bool persistent : {false}) {  // a sanitized run costs ten times as much: each call fails once
#else
  for (const bool persistent : {false, true}) {
#endif
    Sweep(GetParam(), calls, nullptr, [&](std::uint64_t k) { sim::FailCall(k, persistent); },
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
    std::ofstream("C:/allocations.txt") << gAllocations;
  });
  gCounting = true;
  return wWinMain(nullptr, nullptr, nullptr, 0);
}

class OutOfMemory : public ::testing::TestWithParam<Row> {};

// The promise: the warning and an empty text where a looked-up text is copied, otherwise the
// end of an uncaught exception (SIGABRT), never another crash.
TEST_P(OutOfMemory, EveryAllocationFailingEndsAsPromised) {
  long allocations = 0;
  {
    sim::Machine machine;
    Prepare(GetParam());
    ASSERT_EQ(RunProgram(CountedRun).exitCode, 0);
    std::ifstream(sim::HostPath(u"C:\\allocations.txt")) >> allocations;
  }
  int warnings = 0;
  Sweep(GetParam(), allocations, CountedRun, [](std::uint64_t k) { gFailAt = static_cast<long>(k); },
        [&](const sim::RunResult& run, Outcome& got) {
          EXPECT_TRUE((run.exited && run.exitCode == 0) || (!run.exited && run.exitCode == -SIGABRT));
          for (const std::string& line : got["log"])
            warnings += line.rfind("W ModuleStrings::GetString", 0) == 0 && got["box"].size() == 1;
        });
  // A shown text long enough to allocate when copied meets the failure at its copy.
  Outcome expected = Expected(GetParam());
  if (!expected.count("nolog") && expected.count("box") && expected["box"][0].size() > 40) {
    EXPECT_GT(warnings, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, OutOfMemory, ::testing::ValuesIn(MarkedRows()), Name);
#endif
#ifdef PLAINRUN_SANITIZE
// Under the sanitizers a run costs ten times as much: the marked rows stand for the rest.
INSTANTIATE_TEST_SUITE_P(Table, FaultSweep, ::testing::ValuesIn(MarkedRows()), Name);
#else
INSTANTIATE_TEST_SUITE_P(Table, FaultSweep, ::testing::ValuesIn(Table()), Name);
#endif
#endif

}  // namespace
}  // namespace test
