// The whole-run table (tests/scenarios/runs.txt) on a machine: each row read, laid out on a
// fresh machine, played, and what the run left behind read back. Natively the machine is the
// simulated Windows; built for Windows it is the real one under Wine (tests/support/real_machine.cpp).
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "platform/sim/sim.h"

namespace test {

struct Row {
  std::string name;
  std::vector<std::pair<std::string, std::string>> setup;  // (key, value) before "-- expect"
  std::vector<std::pair<std::string, std::string>> expect;
};

inline void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// Every row of the table.
const std::vector<Row>& Table();
// The rows marked "sweep: memory".
std::vector<Row> MarkedRows();

// What a run left, by the table's names of it: "flag" (as "TYPE:HEX" or "absent"), "box",
// "log", "nolog", "mapi", "debug", "folder", "nofolder"; kinds with nothing in them are absent.
using Outcome = std::map<std::string, std::vector<std::string>>;

// Rows that only the simulated Windows can play: an injected fault, a refused key, or a noted reason.
bool NativeOnly(const Row& row);
// Lays the row's machine out on the current (fresh) simulated Windows.
void Prepare(const Row& row);
// What the row says must follow its run.
Outcome Expected(const Row& row);
// What the last run on the current machine left; the log is read strictly (throws on a torn row).
Outcome Observe(const Row& row);
// Runs the program in a fresh process on the current machine: natively wWinMain (or body), on
// Windows the installed plainrunctl.exe with the row's exact command line.
sim::RunResult RunProgram(int (*body)() = nullptr);

}  // namespace test
