// Fuzzes the string-file reader: the input is the bytes of a string file, read exactly the
// way the program's string table reads one, on a simulated machine.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "logging/format.h"
#include "platform/platform.h"
#include "platform/sim/sim.h"
#include "xml/xml_document.h"

namespace {

constexpr const char16_t* kFile = u"C:\\d\\f.xml";
// Far more strings than any real file holds, few enough to keep every input quick.
constexpr std::int32_t kMaxStrings = 1000;

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
    if (loaded == platform::hr::Ok) {
      const std::int32_t count = std::min(document.GetChildCount(u"modulestrings"), kMaxStrings);
      for (std::int32_t i = 0; i < count; ++i) {
        const std::u16string query = u"modulestrings/string[" + logging::Format(u"%d", {i}) + u"]";
        const bool exists = document.NodeExists(query);
        const std::u16string id = document.GetNodeAttribute(query, u"id");
        const std::u16string text = document.GetNodeText(query);
        if (!exists && !(id + text).empty()) Broken("attribute and text are empty when the query selects no element");
        if ((id + text).find(u'\0') != std::u16string::npos) Broken("an attribute value or node text holds no NUL");
      }
    }
  }
  if (sim::OpenHandles() != handlesBefore) Broken("a destroyed document leaves no DOM reference open");
  return 0;
}
