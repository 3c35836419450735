// OUTLOOK.EXE for tests: a process with Outlook's file name that waits two minutes. While it
// runs, the file "running" beside it exists (it goes however the process ends), so that a
// test can wait until the process is really there.
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  wchar_t path[MAX_PATH + 8] = L"\\";
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  lstrcpyW(std::wcsrchr(path, L'\\') + 1, L"running");
  CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
              FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  Sleep(120000);
  return 0;
}
