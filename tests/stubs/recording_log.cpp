// A complete logging library that writes no log but records, in C:\tracelib-calls.txt, what
// LogInitialize was handed and the logger name as it reads when the library is unloaded: the
// program must unload it while that name is still whole. Built with THREE_EXPORTS it lacks
// LogInformationW, and the program must unload it unused. Plain C calls only, so that nothing
// keeps the library loaded after it is freed.
#include <cstdio>

#include "export.h"

namespace {
const char* gName = nullptr;

// Runs when the library is unloaded.
struct Unload {
  ~Unload() {
    FILE* calls = gName ? std::fopen("C:/tracelib-calls.txt", "a") : nullptr;
    if (!calls) return;
    std::fprintf(calls, "unloaded, name %s\n", gName);
    std::fclose(calls);
  }
} gUnload;
}  // namespace

EXPORT int LogInitialize(const char* name, const char16_t* path, int number) {
  gName = name;
  FILE* calls = std::fopen("C:/tracelib-calls.txt", "a");
  if (!calls) return 0;
  std::fprintf(calls, "LogInitialize %s ", name);
  for (; path && *path; ++path) std::fputc(static_cast<char>(*path), calls);  // the test's paths are ASCII
  std::fprintf(calls, " %d\n", number);
  std::fclose(calls);
  return 1;
}
EXPORT int LogErrorW(const char*, const char16_t*) { return 1; }
EXPORT int LogWarningW(const char*, const char16_t*) { return 1; }
#ifndef THREE_EXPORTS
EXPORT int LogInformationW(const char*, const char16_t*) { return 1; }
#endif
