// A logging library that lacks LogInformationW: the program must unload it unused. A call of
// any of its entry points leaves the folder C:\three-exports-called behind.
#include <filesystem>

#include "export.h"

namespace {
std::error_code ignored;
int Mark() {
  std::filesystem::create_directory("C:/three-exports-called", ignored);
  return 1;
}
}  // namespace

EXPORT int LogInitialize(const char*, const char16_t*, int) { return Mark(); }
EXPORT int LogErrorW(const char*, const char16_t*) { return Mark(); }
EXPORT int LogWarningW(const char*, const char16_t*) { return Mark(); }
