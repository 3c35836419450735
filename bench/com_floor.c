/* The lower bound of a plainrunctl run: the COM start-up and shutdown that every run does, nothing else. */
#include <windows.h>
#include <objbase.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)commandLine;
  (void)show;
  /* As plainrunctl does: the shutdown call follows whatever the start-up answered. */
  (void)CoInitialize(NULL);
  CoUninitialize();
  return 0;
}
