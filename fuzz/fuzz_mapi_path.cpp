// Fuzzes the reading of Outlook's language from its MAPI path: the input is the path, both
// as UTF-16 units and as narrow text widened the way the program widens the stub's answer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "fuzz/fuzz_common.h"
#include "platform/sim/sim.h"
#include "strings/module_strings.h"

namespace {

using fuzz::Broken;

void CheckLanguage(const std::u16string& mapiPath) {
  const std::u16string language = OutlookInformation::LanguageFromMapiPath(mapiPath);
  if (language.empty()) Broken("LanguageFromMapiPath never gives an empty language");
  if (language != u"1033" && mapiPath.find(u"MSMAPI\\" + language + u"\\") == std::u16string::npos)
    Broken("a language other than 1033 is a folder that follows MSMAPI\\ in the path");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::StartMachine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string units = fuzz::Units(data, size);
  CheckLanguage(units);

  const std::string narrow(reinterpret_cast<const char*>(data), size);
  const std::u16string wide = platform::AnsiToWide(narrow);
  if (wide.size() != narrow.size()) Broken("AnsiToWide gives one unit per byte in the simulated code page");
  for (std::size_t i = 0; i < wide.size(); ++i)
    if (wide[i] != static_cast<unsigned char>(narrow[i])) Broken("AnsiToWide maps each byte to the code point of its value");
  CheckLanguage(wide);
  return 0;
}
