/* desktop.exe: holds the prefix's desktop open until it is ended, as a user's session
   always has one. Without it Wine closes the desktop soon after the last program that
   used it exits, and the next program that needs one pays for starting it again. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)commandLine;
  (void)show;
  if (!GetDesktopWindow()) return 1;
  for (;;) Sleep(INFINITE);
}
