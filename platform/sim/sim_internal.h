// What the parts of the sim backend share among themselves.
#pragma once

namespace sim {
// Counts one platform call, named after its function, and says whether the fault plan fails it.
bool ShouldFail(const char* call);
// Keeps the count of open handles (keys, snapshots, modules, argument blocks, DOM objects).
void HandleOpened();
void HandleClosed();
bool ComInitialized();
}  // namespace sim

#include <cstdint>

namespace sim {
// The simulated thread code page (windows-1252), one byte to UTF-16 and back ('?' when unmapped).
char16_t FromAnsi(unsigned char byte);
std::uint8_t ToAnsi(char16_t c);
}  // namespace sim
