// The application's operations: command line, connector switch and Outlook check.
#pragma once

#include <string>

// The one argument after the program path when there is exactly one; otherwise empty.
std::u16string ParseCommandLine();
// Clears the disable flag if it is set, and tells the user when Outlook runs.
void EnableOutlookConnector();
// Sets the disable flag unless it is set, and tells the user when Outlook runs.
void DisableOutlookConnector();
// True when a process named outlook.exe, in any case, is running.
bool IsOutlookRunning();
