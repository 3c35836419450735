// Out of memory at every allocation of a whole run. The outcome is the one the program
// promises: the warning and an empty text where a looked-up text is copied, otherwise the
// process ends as on an uncaught exception (SIGABRT) - never another crash - and in every
// case the flag holds a value it may hold and the log has no torn row.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>

#include "app/app.h"
#include "tests/support/scenarios.h"

namespace {

long gFailAt = 0;      // the allocation to fail, counting from 1; 0: none
long gAllocations = 0;
bool gCounting = false;

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

namespace test {
namespace {

// The program's run, counting its allocations; the count is left in C:\allocations.txt.
int CountedRun() {
  std::atexit([] {
    gCounting = false;
    if (FILE* f = std::fopen("C:/allocations.txt", "w")) {
      std::fprintf(f, "%ld\n", gAllocations);
      std::fclose(f);
    }
  });
  gAllocations = 0;
  gCounting = true;
  return wWinMain(nullptr, nullptr, nullptr, 0);
}

long AllocationsOfLastRun() {
  std::ifstream in(sim::HostPath(u"C:\\allocations.txt"));
  long count = 0;
  in >> count;
  return count;
}

TEST(OutOfMemorySweep, EveryAllocationFailingEndsAsPromised) {
  for (const Scenario& scenario : Scenarios()) {
    SCOPED_TRACE(scenario.name);
    long allocations = 0;
    {
      sim::Machine machine;
      Prepare(scenario);
      gFailAt = 0;
      ASSERT_EQ(sim::RunInChild(CountedRun).exitCode, 0);
      allocations = AllocationsOfLastRun();
    }
    ASSERT_GT(allocations, 10);
    int survived = 0, exited = 0, aborted = 0;
    for (long k = 1; k <= allocations; ++k) {
      sim::Machine machine;
      Prepare(scenario);
      gFailAt = k;
      const sim::RunResult run = sim::RunInChild(CountedRun);
      gFailAt = 0;
      std::string torn;
      try {
        (void)LogLines();
      } catch (const std::exception& e) {
        torn = e.what();
      }
      const bool endedAsPromised = (run.exited && run.exitCode == 0) || (!run.exited && run.exitCode == -SIGABRT);
      const bool ok = endedAsPromised && torn.empty() && scenario.flagsAllowed.count(Flag()) == 1;
      exited += run.exited;
      aborted += !run.exited;
      survived += ok;
      EXPECT_TRUE(ok) << "allocation " << k << ": " << (run.exited ? "exit " : "signal ") << run.exitCode << " " << torn
                      << " flag " << (Flag() ? std::to_string(*Flag()) : "absent");
    }
    std::printf("%s: %d of %ld allocation failures ended as promised (%d exited with 0, %d ended as on an uncaught "
                "exception)\n",
                scenario.name, survived, allocations, exited, aborted);
  }
}

// The copy of a looked-up text is the one place where running out of memory is caught.
TEST(OutOfMemorySweep, CopyOfALookedUpTextFallsBackToAnEmptyText) {
  // Texts too long to be stored inside the string object, so that copying them allocates.
  auto prepare = [] {
    Prepare(Scenarios().front());
    sim::WriteFile(std::u16string(kInstallFolder) + u"Data\\modulestrings_1031.xml",
                   "<modulestrings><string id=\"IDS_Title\">A caption of some length</string>"
                   "<string id=\"IDS_EnableOC\">A message of some length</string></modulestrings>");
  };
  bool warned = false;
  for (long k = 1; k < 5000 && !warned; ++k) {
    sim::Machine machine;
    prepare();
    gFailAt = k;
    const sim::RunResult run = sim::RunInChild(CountedRun);
    gFailAt = 0;
    if (run.exited && AllocationsOfLastRun() < k) break;  // past the last allocation of a run
    for (const std::string& line : LogLines()) {
      if (line.rfind("W ModuleStrings::GetString Error getting property IDS_", 0) != 0) continue;
      warned = true;
      EXPECT_EQ(run.exitCode, 0);
      const std::vector<sim::Event> boxes = EventsOf("msgbox");
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_TRUE(boxes[0].fields[0].empty() || boxes[0].fields[1].empty()) << line;
    }
  }
  EXPECT_TRUE(warned);
}

}  // namespace
}  // namespace test
