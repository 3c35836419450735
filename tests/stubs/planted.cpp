// A DLL planted where the program must never load from (its own folder, the current
// folder, PATH), copied under the names the program loads: tracelib.dll, mapistub.dll,
// mapi32.dll. Being loaded at all is what it reports: each load appends the loaded
// file's path to C:\planted-loads.txt. Its entry points do nothing and answer 0.
#include <windows.h>

namespace {

void RecordLoad(HINSTANCE self) {
  wchar_t path[MAX_PATH + 1];
  const DWORD units = GetModuleFileNameW(self, path, MAX_PATH);
  char line[4 * MAX_PATH + 2];
  int bytes = units == 0 ? 0 : WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(units), line,
                                                   4 * MAX_PATH, nullptr, nullptr);
  if (bytes <= 0) {
    constexpr char kUnknown[] = "(path unknown)";
    for (bytes = 0; kUnknown[bytes] != '\0'; ++bytes) line[bytes] = kUnknown[bytes];
  }
  line[bytes++] = '\r';
  line[bytes++] = '\n';
  // Only kernel32 calls here: this runs under the loader lock.
  const HANDLE file = CreateFileW(L"C:\\planted-loads.txt", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(bytes), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) RecordLoad(self);
  return TRUE;
}

#define EXPORT extern "C" __declspec(dllexport)

EXPORT int FGetComponentPath(const char*, char*, char*, unsigned, int) { return 0; }
EXPORT int LogInitialize(const char*, const char16_t*, int) { return 0; }
EXPORT int LogErrorW(const char*, const char16_t*) { return 0; }
EXPORT int LogWarningW(const char*, const char16_t*) { return 0; }
EXPORT int LogInformationW(const char*, const char16_t*) { return 0; }
