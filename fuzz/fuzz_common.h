// What every fuzz target shares: how it reports a broken promise, its UTF-16 view of the
// input, and the simulated machine it runs on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/sim/sim.h"

namespace fuzz {

[[noreturn]] inline void Broken(const char* promise) {
  std::fprintf(stderr, "broken promise: %s\n", promise);
  std::abort();
}

// The input as UTF-16 units; an odd last byte is left out.
inline std::u16string Units(const std::uint8_t* data, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  if (!text.empty()) std::memcpy(text.data(), data, text.size() * sizeof(char16_t));
  return text;
}

// Makes the machine of this process. Its folder is printed so that a run stopped by a
// crash, which skips the machine's clean-up, can remove it.
inline void StartMachine() {
  static sim::Machine machine;
  std::fprintf(stderr, "sim machine: %s\n", machine.root().c_str());
}

}  // namespace fuzz
