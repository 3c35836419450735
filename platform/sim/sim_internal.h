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
