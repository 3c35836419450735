// Shared set-up for whole-run tests on the simulated Windows.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "tests/support/csv.h"

namespace test {

inline constexpr const char16_t* kProductKey = u"SOFTWARE\\Orvane\\DERVO";
inline constexpr const char16_t* kPolicyKey = u"Software\\Policies\\Orvane\\Keelbox";
inline constexpr const char16_t* kOutlookKey = u"Software\\Clients\\Mail\\Microsoft Outlook";
inline constexpr const char16_t* kInstallFolder = u"C:\\Program Files\\Orvane\\";
inline constexpr const char16_t* kLogFile =
    u"C:\\Users\\tester\\AppData\\Local\\Orvane\\Keelstore\\DebugLogs\\logplainrunctl.csv";

// One row of the CSV log.
struct LogRow {
  std::string level;
  std::string logger;
  std::string message;
  bool operator==(const LogRow&) const = default;
};
void PrintTo(const LogRow& row, std::ostream* out);

// A fresh machine with the product installed as the installer leaves it: "Path" with its
// trailing backslash, the logging library, and the string files of data/.
class Machine : public ::testing::Test {
 protected:
  void SetUp() override;
  // Installs the string files of the repository's data folder.
  void InstallStringFiles();
  // The program's command line after its path, e.g. u"/plainrun".
  void SetArguments(const std::u16string& arguments);
  std::optional<std::u16string> KeyClass() { return sim::KeyClass(sim::Hive::CurrentUser, kProductKey); }

  sim::Machine machine_;
};

// What the last run left on the current machine:
// the log as the logging library wrote it (header row checked and left out; throws on a torn row),
std::vector<LogRow> ReadLog();
// its messages, each prefixed with its level's first letter, e.g. "I ParseCommandLine >>",
std::vector<std::string> LogLines();
// the events of one kind ("msgbox", "debug", "load", "free"),
std::vector<sim::Event> EventsOf(const std::string& kind);
// and the disable flag, when it is a REG_DWORD.
std::optional<std::uint32_t> Flag();

// Runs the program's entry point in a fresh process on the current machine.
sim::RunResult RunProgram();


}  // namespace test
