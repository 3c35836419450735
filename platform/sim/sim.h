// The simulated Windows behind the sim backend, as the native tests drive it.
//
// A machine lives in a host folder: its drives under <root>/fs (C:\x is <root>/fs/C:/x,
// looked up without regard to case), its registry under <root>/registry (a folder per key,
// a file per value), and what a run showed (message boxes, debugger output, modules loaded)
// in <root>/events. So a run in a forked child leaves on disk all that the parent checks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sim {

using platform::Hive;

// A fresh machine in a new temporary folder, removed again on destruction. Only one
// machine is current at a time: the last one made.
class Machine {
 public:
  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;
  [[nodiscard]] const std::string& root() const noexcept { return root_; }

 private:
  std::string root_;
};

// ---- Registry ----
struct Value {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> bytes;
};
void SetValue(Hive hive, const std::u16string& key, const std::u16string& name, std::uint32_t type,
              std::vector<std::uint8_t> bytes);
void DeleteValue(Hive hive, const std::u16string& key, const std::u16string& name);
// The key exists but opening it is refused.
void DenyKey(Hive hive, const std::u16string& key);
[[nodiscard]] std::optional<Value> GetValue(Hive hive, const std::u16string& key, const std::u16string& name);
[[nodiscard]] std::optional<std::u16string> KeyClass(Hive hive, const std::u16string& key);

// ---- Processes, command line, shell folders ----
// These run beside System and explorer.exe.
void SetProcesses(std::vector<std::u16string> exeNames);
void SetCommandLine(const std::u16string& commandLine);
// A folder on PATH, searched for bare DLL names after the current folder unless the search is restricted.
void SetSearchPath(const std::u16string& folder);

// ---- Files ----
// Host path of a Windows path on this machine (relative paths start at the current folder).
[[nodiscard]] std::string HostPath(const std::u16string& windowsPath);
void WriteFile(const std::u16string& windowsPath, const std::string& content);
// Puts a host shared object on the machine as a DLL (a symbolic link to it).
void InstallModule(const std::u16string& windowsPath, const std::string& hostObject);
[[nodiscard]] bool Exists(const std::u16string& windowsPath);
inline constexpr const char16_t* kCurrentFolder = u"C:\\cwd";
inline constexpr const char16_t* kSystemFolder = u"C:\\Windows\\System32";

// ---- Faults ----
// Fails platform call number n (counting from 1), once or from then on. 0 turns it off.
void FailCall(std::uint64_t n, bool persistent);
// Lets `skip` calls of the platform function named call (e.g. "DomLoad") pass, then fails the
// next `times` of them.
void FailNamed(const std::string& call, int times, int skip = 0);
[[nodiscard]] std::uint64_t OpenHandles();
// True while a simulated platform call runs (its allocations are the simulator's, not the program's).
[[nodiscard]] bool InsideSimulator() noexcept;

// ---- What a run showed ----
struct Event {
  std::string kind;  // "msgbox", "debug", "load"
  std::vector<std::u16string> fields;
};
[[nodiscard]] std::vector<Event> Events();

// Result of a whole run of the program in a child process.
struct RunResult {
  bool exited = false;  // ended normally, not by a signal
  int exitCode = -1;
  std::uint64_t calls = 0;  // platform calls the run made
  std::uint64_t handlesLeft = 0;
  bool comBalanced = false;
  std::string firstFailed;  // the platform function whose call the fault plan failed first, or "-"
};
// For a runner that plays the program in a forked child (tests/scenario_test.cpp). In the
// child, before the program: makes <root>/fs the host working folder, so that a logging
// library handed C:\x\log.csv opens <root>/fs/C:/x/log.csv, and has the process's end leave
// the machine's counters on disk; false when the folder cannot be entered.
bool EnterChild();
// In the parent once the child has ended: the counters it left, into result, and the
// registry as it left it.
void ChildEnded(RunResult& result);

// UTF-8 of UTF-16 text, for messages and host paths.
[[nodiscard]] std::string Utf8(const std::u16string& text);
[[nodiscard]] std::u16string Utf16(const std::string& text);

}  // namespace sim
