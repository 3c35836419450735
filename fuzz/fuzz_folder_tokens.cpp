// Fuzzes folder-token expansion: the input, taken as UTF-16 units, is a configured data
// path; the result is compared with a plain model of lower-casing and token replacement.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "paths/app_paths.h"
#include "fuzz/fuzz_common.h"
#include "platform/sim/sim.h"

namespace {

using fuzz::Broken;

struct Token {
  std::u16string text;
  int csidl;
  std::u16string folder;  // what the shell gives on this machine
};
// In the order in which the program looks for them: only the first one found is replaced.
std::array<Token, 4> tokens{{
    {u"%applicationdata%", AppPaths::kCsidlAppData, {}},
    {u"%mydocuments%", AppPaths::kCsidlPersonal, {}},
    {u"%localapplicationdata%", AppPaths::kCsidlLocalAppData, {}},
    {u"%userprofile%", AppPaths::kCsidlProfile, {}},
}};

std::u16string LowerAscii(std::u16string text) {
  for (char16_t& c : text)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return text;
}

// The expansion as the program promises it: lower-cased text in which every occurrence of
// the first token present, searched left to right without overlap, becomes its folder.
std::u16string Expected(const std::u16string& lowered) {
  for (const Token& token : tokens) {
    if (lowered.find(token.text) == std::u16string::npos) continue;
    std::u16string expanded;
    std::size_t from = 0;
    for (std::size_t at; (at = lowered.find(token.text, from)) != std::u16string::npos; from = at + token.text.size()) {
      expanded.append(lowered, from, at - from);
      expanded += token.folder;
    }
    expanded.append(lowered, from);
    return expanded;
  }
  return lowered;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::StartMachine();
  for (Token& token : tokens) {
    token.folder = AppPaths::GetSpecialFolder(token.csidl);
    if (token.folder.empty()) Broken("a fresh machine gives every shell folder");
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string input = fuzz::Units(data, size);
  // The program expands only text it read as a C string, which ends at its first NUL.
  input.resize(std::min(input.find(u'\0'), input.size()));

  std::u16string text = input;
  AppPaths::ExpandFolderTokens(text);
  const std::u16string lowered = LowerAscii(input);
  bool anyToken = false;
  for (const Token& token : tokens) anyToken = anyToken || lowered.find(token.text) != std::u16string::npos;
  if (!anyToken && text != lowered) Broken("text without a token is only lower-cased");
  if (text != Expected(lowered)) Broken("every occurrence of the first token present becomes its folder");
  return 0;
}
