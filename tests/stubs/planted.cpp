// A DLL planted where the program must never load from, under the names of the libraries it
// loads. Being loaded at all is what it reports: each load appends the loaded file's path
// (or "?") to C:\planted-loads.txt. Its one entry point answers 0.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char line[MAX_PATH + 3] = "?";
  DWORD written = 0, length = GetModuleFileNameA(self, line, MAX_PATH);
  if (length == 0) length = 1;
  lstrcpyA(line + length, "\r\n");
  // Only kernel32 calls here: this runs under the loader lock.
  const HANDLE file = CreateFileW(L"C:\\planted-loads.txt", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  WriteFile(file, line, length + 2, &written, nullptr);
  CloseHandle(file);
  return TRUE;
}

extern "C" __declspec(dllexport) int FGetComponentPath(const char*, char*, char*, unsigned, int) { return 0; }
