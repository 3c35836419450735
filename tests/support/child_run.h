// The native runner: a program body run in a forked child on the current simulated machine.
#pragma once

#include "platform/sim/sim.h"

namespace test {
// Runs body in a forked child with the machine as it is, the way Windows would start a
// program, exits with what it returns and reports how the child ended.
sim::RunResult RunInChild(int (*body)());
}  // namespace test
