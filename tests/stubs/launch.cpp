// Starts a program with exactly the command line written in C:\launch.txt (UTF-8), waits
// for it and exits with its exit code: the only way to hand a program any command line,
// since Wine quotes the arguments it is given.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  char bytes[8192];
  DWORD read = 0;
  HANDLE file = CreateFileW(L"C:\\launch.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE || !ReadFile(file, bytes, sizeof bytes, &read, nullptr)) return 101;
  CloseHandle(file);
  wchar_t line[8192];
  const int units = MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(read), line, 8191);
  line[units] = L'\0';
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return 102;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 103;
  GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}
