// What the parts of the sim backend share among themselves: the machine's state, kept by
// machine.cpp, and the hooks through which the platform functions and the DOM stand-in
// read and change it, count their calls and fail them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/sim.h"

namespace sim {

struct State {
  std::string root;
  std::vector<std::u16string> processes{u"System", u"explorer.exe"};
  std::u16string commandLine = u"\"C:\\Program Files\\Orvane\\plainrunctl.exe\"";
  std::u16string searchPath;  // a folder on PATH, or none
  std::map<int, std::u16string> folders{{0x1A, u"C:\\Users\\tester\\AppData\\Roaming"},
                                        {0x05, u"C:\\Users\\tester\\Documents"},
                                        {0x1C, u"C:\\Users\\tester\\AppData\\Local"},
                                        {0x28, u"C:\\Users\\tester"}};
  std::uint64_t calls = 0;
  std::uint64_t failAt = 0;
  bool failPersistent = false;
  std::map<std::string, std::pair<int, int>> namedFailures;  // call -> (calls to let pass, calls to fail)
  std::string firstFailed;
  std::uint64_t handles = 0;
  int comDepth = 0;
  bool restricted = false;
};

// Windows' case folding of the names the simulator compares: ASCII letters only.
inline char16_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

// The current machine's state.
State& Current();

// The host folder of a registry key, the same whatever the case of its name; the key exists
// while the folder does, and holds a file per value, "class" and, for a refused key, "denied".
std::string KeyFolder(Hive hive, const std::u16string& path);
// Stores the key's class, making the key (and the keys above it) where it is missing.
void SetKeyClass(Hive hive, const std::u16string& key, const std::u16string& keyClass);
// Writes the whole line or nothing: a box or a debug line that runs out of memory never shows.
void AppendEvent(const std::string& kind, std::initializer_list<std::u16string> fields);

// Held for the whole of a simulated platform call: what the simulator allocates meanwhile is
// its own, which the out-of-memory sweep never fails.
class Inside {
 public:
  Inside() noexcept;
  ~Inside();
  Inside(const Inside&) = delete;
  Inside& operator=(const Inside&) = delete;
};

// Counts one platform call, named after its function, and says whether the fault plan fails it.
bool ShouldFail(const char* call);

// Runs the body of the platform call named `call` as the simulator's own work: `failed` when
// the fault plan fails the call or the body throws, else what the body returns. A call
// without a name is one that cannot fail: it is neither counted nor failed.
template <typename Result, typename Body>
Result Call(const char* call, Result failed, Body&& body) noexcept {
  const Inside inside;
  if (call && ShouldFail(call)) return failed;
  try {
    return body();
  } catch (...) {
    return failed;
  }
}
// Keeps the count of open handles (keys, snapshots, modules, argument blocks, DOM objects).
void HandleOpened();
void HandleClosed();
bool ComInitialized();

}  // namespace sim
