// OUTLOOK.EXE for tests: a process with Outlook's file name that only waits to be killed.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  Sleep(120000);
  return 0;
}
