// Fuzzes the command line: the input, taken as UTF-16 units, is the whole command line of
// the process, split by the simulated splitter and read by ParseCommandLine.
#include <sanitizer/allocator_interface.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/app.h"
#include "platform/platform.h"
#include "fuzz/fuzz_common.h"
#include "platform/sim/sim.h"

namespace {

using fuzz::Broken;

using fuzz::Units;

// Checks the shape of an argument block as the system hands it out: one heap allocation
// holding count pointers, a null one, then the NUL-terminated strings they point to.
void CheckBlock(char16_t** argv, int count) {
  if (count < 1) Broken("a non-null argument block holds at least the program name");
  if (!__sanitizer_get_ownership(argv)) Broken("the argument block is one heap allocation");
  const auto* begin = reinterpret_cast<const char*>(argv);
  const auto* end = begin + __sanitizer_get_allocated_size(argv);
  const auto* strings = reinterpret_cast<const char*>(argv + count + 1);
  if (strings > end) Broken("the argument block has room for count + 1 pointers");
  if (argv[count] != nullptr) Broken("argv[count] is null");
  for (int i = 0; i < count; ++i) {
    const auto* first = reinterpret_cast<const char*>(argv[i]);
    if (!argv[i] || first < strings || first >= end) Broken("every argument lies in the block, after the pointers");
    const char16_t* unit = argv[i];
    while (reinterpret_cast<const char*>(unit + 1) <= end && *unit != u'\0') ++unit;
    if (reinterpret_cast<const char*>(unit + 1) > end) Broken("every argument is NUL-terminated within the block");
  }
}

// Splits line and releases the block; checks the block on the way.
std::vector<std::u16string> Split(const char16_t* line) {
  int count = -1;
  char16_t** argv = platform::CommandLineToArgv(line, &count);
  std::vector<std::u16string> args;
  if (!argv) return args;
  CheckBlock(argv, count);
  for (int i = 0; i < count; ++i) args.emplace_back(argv[i]);
  platform::LocalFree(argv);
  return args;
}

// The quoting under which the splitter gives arg back exactly: the whole argument in
// quotes, each quote escaped, backslashes doubled where a quote follows them.
std::u16string Quote(const std::u16string& arg) {
  std::u16string quoted = u"\"";
  std::size_t backslashes = 0;
  for (const char16_t c : arg) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    if (c == u'"') {
      quoted.append(backslashes * 2 + 1, u'\\');
    } else {
      quoted.append(backslashes, u'\\');
    }
    quoted += c;
    backslashes = 0;
  }
  quoted.append(backslashes * 2, u'\\');
  quoted += u'"';
  return quoted;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::StartMachine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sim::SetCommandLine(Units(data, size));
  // What the program sees: the command line up to its first NUL.
  const char16_t* line = platform::GetCommandLine();
  const std::uint64_t handlesBefore = sim::OpenHandles();

  const std::vector<std::u16string> args = Split(line);
  if (args.empty()) Broken("the splitter fails only when told to");
  if (sim::OpenHandles() != handlesBefore) Broken("LocalFree releases the argument block");

  const std::u16string parsed = ParseCommandLine();
  if (parsed != (args.size() == 2 ? args[1] : std::u16string())) Broken("ParseCommandLine gives the one argument, or nothing");
  if (sim::OpenHandles() != handlesBefore) Broken("ParseCommandLine releases what it opens");

  // Every argument survives being quoted and split again.
  std::u16string rebuilt = u"p.exe";
  for (std::size_t i = 1; i < args.size(); ++i) rebuilt += u" " + Quote(args[i]);
  std::vector<std::u16string> again = Split(rebuilt.c_str());
  if (again.empty() || again[0] != u"p.exe") Broken("an unquoted program name ends at the first blank");
  again[0] = args[0];
  if (again != args) Broken("quoted arguments split back into themselves");
  return 0;
}
