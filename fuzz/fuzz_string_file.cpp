// Fuzzes the string-file reader: the input is the bytes of a string file, loaded and walked by
// the program's own string-table reader on a simulated machine.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "platform/platform.h"
#include "platform/sim/sim.h"
#include "strings/module_strings.h"
#include "xml/xml_document.h"

namespace {

constexpr const char16_t* kFile = u"C:\\d\\f.xml";

// Names the promise that the input broke and stops; libFuzzer keeps the input.
[[noreturn]] void Broken(const char* promise) {
  std::fprintf(stderr, "broken promise: %s\n", promise);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The machine of this process; its folder is printed so that a run stopped by a crash,
  // which skips the machine's clean-up, can remove it.
  static sim::Machine machine;
  std::fprintf(stderr, "sim machine: %s\n", machine.root().c_str());
  if (platform::CoInitialize() != platform::hr::Ok) Broken("COM starts on a fresh machine");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sim::WriteFile(kFile, std::string(reinterpret_cast<const char*>(data), size));
  const std::uint64_t handlesBefore = sim::OpenHandles();
  {
    XMLDocument document;
    const platform::HResult loaded = document.Load(kFile);
    if (loaded != platform::hr::Ok && loaded != platform::hr::Fail) Broken("Load gives S_OK or E_FAIL once COM runs");
    std::map<std::u16string, std::u16string> table;
    if (loaded == platform::hr::Ok) ReadStringTable(document, table);
    for (const auto& [id, text] : table)
      if (id.empty() || (id + text).find(u'\0') != std::u16string::npos)
        Broken("no id is empty and no id or text holds a NUL");
  }
  if (sim::OpenHandles() != handlesBefore) Broken("a destroyed document leaves no DOM reference open");
  return 0;
}
