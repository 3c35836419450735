// The whole-run table (tests/scenarios/runs.txt) on the simulated Windows: each row read,
// laid out on a fresh machine, played, and what the run left behind read back.
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

// Lays the row's machine out on the current (fresh) simulated Windows.
void Prepare(const Row& row);
// What the row says must follow its run.
Outcome Expected(const Row& row);
// What the last run on the current machine left; the log is read strictly (throws on a torn row).
Outcome Observe(const Row& row);
// Runs wWinMain in a fresh process on the current machine.
sim::RunResult RunProgram(int (*body)() = nullptr);

}  // namespace test
