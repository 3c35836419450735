#include "app/app.h"
#include "logging/logger.h"
#include "paths/app_paths.h"
#include "strings/module_strings.h"

namespace {

constexpr const char16_t* kFlagName = u"DisableOutlookConnector";

// What distinguishes enabling from disabling; the rest of the switch is shared.
struct Switch {
  const char* function;
  bool actsWhenDisabled;  // act when the flag is 1 (enable) or when it is anything else
  const char16_t* announcement;
  std::uint32_t newValue;
  const char16_t* messageId;
};

void RunSwitch(const Switch& s) {
  Logger::GetInstance().LogInformation(s.function, u">>");
  // Both GetInstance() calls of the switch find AppPaths built (the Logger built it on its
  // first use, before any switch runs) and do nothing: the flag's reads and writes are static.
  AppPaths::GetInstance();
  const bool disabled = AppPaths::ReadUserDword(kFlagName) == 1;
  if (disabled == s.actsWhenDisabled) {
    Logger::GetInstance().LogInformation(s.function, s.announcement);
    AppPaths::GetInstance();
    AppPaths::WriteUserDword(kFlagName, s.newValue);
    if (IsOutlookRunning()) {
      const std::u16string caption = ModuleStrings::GetString(u"IDS_Title");
      const std::u16string text = ModuleStrings::GetString(s.messageId);
      (void)platform::MessageBox(text.c_str(), caption.c_str(), platform::kMbOkInformation);
    }
  }
  Logger::GetInstance().LogInformation(s.function, u"<<");
}

}  // namespace

void EnableOutlookConnector() {
  // The log text is the program's own and is kept exactly, "is disable" included.
  RunSwitch({"EnableOutlookConnector", true, u"Outlook Connector is disable, setting the disable flag to 0.", 0,
             u"IDS_EnableOC"});
}

void DisableOutlookConnector() {
  RunSwitch({"DisableOutlookConnector", false, u"Outlook Connector is enable, setting the disable flag to 1.", 1,
             u"IDS_DisableOC"});
}
