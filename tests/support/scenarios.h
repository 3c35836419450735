// Whole-run scenarios shared by the fault sweeps: each sets up a machine and says which
// flag values a run may leave behind.
#pragma once

#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/harness.h"

namespace test {

struct Scenario {
  const char* name;
  const char16_t* arguments;
  std::optional<std::uint32_t> flagBefore;
  bool outlook;
  bool stringFiles;
  bool mapiStub;
  bool library;
  std::set<std::optional<std::uint32_t>> flagsAllowed;
  // A failing command-line split counts as no argument, which enables.
  std::set<std::optional<std::uint32_t>> flagsAllowedWithoutArguments;
};

const std::vector<Scenario>& Scenarios();

// Lays out a fresh machine for the scenario (the caller owns the machine).
void Prepare(const Scenario& scenario);

// True when every row of the log is one the program can write.
bool EveryLineIsKnown(const std::vector<std::string>& lines, std::string* unknown);

}  // namespace test
