// Every platform call of a whole run, failed in turn, once and from then on: the run still
// exits with 0, releases every handle, leaves the flag at a value it may hold and logs only
// lines the program can write.
#include "tests/support/scenarios.h"

namespace test {
namespace {

TEST(FaultSweep, EveryPlatformCallFailingLeavesADocumentedOutcome) {
  for (const Scenario& scenario : Scenarios()) {
    SCOPED_TRACE(scenario.name);
    std::uint64_t calls = 0;
    {
      sim::Machine machine;
      Prepare(scenario);
      const sim::RunResult clean = RunProgram();
      ASSERT_EQ(clean.exitCode, 0);
      calls = clean.calls;
    }
    ASSERT_GT(calls, 10u);
    int survived = 0, total = 0;
    for (const bool persistent : {false, true}) {
      for (std::uint64_t k = 1; k <= calls; ++k) {
        sim::Machine machine;
        Prepare(scenario);
        sim::FailCall(k, persistent);
        const sim::RunResult run = RunProgram();
        sim::FailCall(0, false);
        std::vector<std::string> lines;
        std::string problem;
        try {
          lines = LogLines();
        } catch (const std::exception& e) {
          problem = e.what();
        }
        std::string unknown;
        const auto flag = Flag();
        const bool ok = run.exited && run.exitCode == 0 && run.handlesLeft == 0 && problem.empty() &&
                        EveryLineIsKnown(lines, &unknown) && (run.firstFailed == "CommandLineToArgv" ? scenario.flagsAllowedWithoutArguments
                                                                                 : scenario.flagsAllowed)
                                .count(flag) == 1;
        ++total;
        survived += ok;
        EXPECT_TRUE(ok) << "call " << k << " (" << run.firstFailed << ")" << (persistent ? " on" : " once") << ": exit " << run.exitCode << ", handles "
                        << run.handlesLeft << ", flag " << (flag ? std::to_string(*flag) : "absent") << ", log "
                        << problem << unknown;
      }
    }
    std::printf("%s: %d of %d faults survived (%llu calls, failed once and from then on)\n", scenario.name, survived,
                total, static_cast<unsigned long long>(calls));
  }
}

}  // namespace
}  // namespace test
