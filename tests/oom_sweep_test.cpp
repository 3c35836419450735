// Out of memory at every allocation of every whole run of the table. The outcome is the one
// the program promises: the warning and an empty text where a looked-up text is copied,
// otherwise the process ends as on an uncaught exception (SIGABRT), never another crash; in
// every case the flag holds a value it may hold and the log has no torn row.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <regex>

#include "app/app.h"
#include "tests/support/runs.h"

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
  gCounting = true;
  return wWinMain(nullptr, nullptr, nullptr, 0);
}

class OutOfMemory : public ::testing::TestWithParam<Row> {};

TEST_P(OutOfMemory, EveryAllocationFailingEndsAsPromised) {
  long allocations = 0;
  std::string before;
  {
    sim::Machine machine;
    Prepare(GetParam());
    before = Observe(GetParam()).flag;
    gFailAt = 0;
    ASSERT_EQ(RunProgram(CountedRun).exitCode, 0);
    std::ifstream(sim::HostPath(u"C:\\allocations.txt")) >> allocations;
  }
  const Outcome expected = Expected(GetParam());
  const std::string after = expected.flag;
  int warnings = 0;
  for (long k = 1; k <= allocations; ++k) {
    sim::Machine machine;
    Prepare(GetParam());
    gFailAt = k;
    const sim::RunResult run = RunProgram(CountedRun);
    gFailAt = 0;
    Outcome got;
    EXPECT_NO_THROW(got = Observe(GetParam())) << "allocation " << k;
    EXPECT_TRUE((run.exited && run.exitCode == 0) || (!run.exited && run.exitCode == -SIGABRT))
        << "allocation " << k << ": " << run.exitCode;
    EXPECT_TRUE(got.flag == before || got.flag == after) << "allocation " << k << ": flag " << got.flag;
    for (const std::string& line : got.log) {
      if (line.rfind("W ModuleStrings::GetString", 0) != 0) {
        continue;
      }
      ++warnings;
      EXPECT_TRUE(std::regex_match(line, std::regex("W ModuleStrings::GetString Error getting property "
                                                    "IDS_(Title|EnableOC|DisableOC)\\."))) << line;
      EXPECT_EQ(got.boxes.size(), 1u) << "allocation " << k;
    }
  }
  // A shown text long enough to allocate when copied meets the failure at its copy.
  if (expected.logFile && !expected.boxes.empty() && expected.boxes[0].size() > 40) {
    EXPECT_GT(warnings, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, OutOfMemory, ::testing::ValuesIn(MarkedRows()), [](const auto& row) {
  return "row" + std::to_string(row.index);
});

}  // namespace
}  // namespace test
