// The entry point: enable or disable the Outlook Connector, then exit with 0.
#include "app/app.h"
#include "platform/entry.h"
#include "platform/platform.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
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
