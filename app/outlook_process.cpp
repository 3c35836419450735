#include "app/app.h"
#include "logging/logger.h"
#include "platform/handles.h"

bool IsOutlookRunning() {
  constexpr const char* kFunction = "IsOutlookRunning";
  Logger::GetInstance().LogInformation(kFunction, u">>");
  bool result = false;
  {
    platform::UniqueSnapshot snapshot(platform::CreateSnapshot(platform::kSnapAll, 0));
    platform::ProcessEntry entry{};
    for (bool more = platform::ProcessFirst(snapshot.get(), &entry); more;
         more = platform::ProcessNext(snapshot.get(), &entry)) {
      if (platform::Wcsicmp(entry.exeFile, u"outlook.exe") == 0) {
        result = true;
        break;
      }
    }
  }
  Logger::GetInstance().LogInformation(kFunction, u"<< result: %d", result ? 1 : 0);
  return result;
}
