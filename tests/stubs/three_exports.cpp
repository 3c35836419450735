// A logging library that lacks LogInformationW: the program must unload it unused.
#include <cstdio>

#ifdef _WIN32
#define EXPORT extern "C" __declspec(dllexport)
#else
#define EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
void Mark(const char* what) {
  if (FILE* f = std::fopen("C:/three-exports-called", "a")) {
    std::fputs(what, f);
    std::fclose(f);
  }
}
}  // namespace

EXPORT int LogInitialize(const char*, const char16_t*, int) { return Mark("LogInitialize\n"), 1; }
EXPORT int LogErrorW(const char*, const char16_t*) { return Mark("LogErrorW\n"), 1; }
EXPORT int LogWarningW(const char*, const char16_t*) { return Mark("LogWarningW\n"), 1; }
