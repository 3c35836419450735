// OUTLOOK.EXE for tests: a process with Outlook's file name that only waits to be killed.
// While it runs, the file "running" beside it exists (it is deleted when the process ends,
// however it ends), so that a test can wait until the process is really there.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  HANDLE marker = INVALID_HANDLE_VALUE;
  if (length > 0 && length < MAX_PATH) {
    wchar_t* name = path + length;
    while (name > path && name[-1] != L'\\') --name;
    if (name + 8 <= path + MAX_PATH) {
      lstrcpyW(name, L"running");
      marker = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                           FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    }
  }
  Sleep(120000);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  return 0;
}
