// The entry point: enable or disable the Outlook Connector, then exit with 0.
#ifdef _WIN32
#include <windows.h>
#endif

#include "app/app.h"
#include "platform/platform.h"

#ifdef _WIN32
int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
#else
int wWinMain(void*, void*, char16_t*, int)
#endif
{
  platform::RestrictDllSearchToSystem();
  (void)platform::CoInitialize();
  // Parsed a second time on purpose: the log of a run with one argument shows the parse twice.
  if (ParseCommandLine().empty()) {
    EnableOutlookConnector();
  } else if (ParseCommandLine() == u"/plainrun") {
    DisableOutlookConnector();
  }
  platform::CoUninitialize();
  return 0;
}
