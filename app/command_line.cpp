#include "app/app.h"
#include "logging/logger.h"
#include "platform/handles.h"

std::u16string ParseCommandLine() {
  constexpr const char* kFunction = "ParseCommandLine";
  std::u16string result;
  Logger::GetInstance().LogInformation(kFunction, u">>");

  int count = 0;
  platform::UniqueArgv argv(platform::CommandLineToArgv(platform::GetCommandLine(), &count));
  if (!argv) {
    // The log text is the program's own and is kept exactly, "retuned" included.
    Logger::GetInstance().LogInformation(kFunction, u"CommandLineToArgvW retuned a null pointer");
  } else {
    Logger::GetInstance().LogInformation(kFunction, u"Command line arguments: ");
    for (int i = 0; i < count; ++i) {
      Logger::GetInstance().LogInformation(kFunction, u"Argument: %s", argv.get()[i]);
    }
    if (count == 2) result = argv.get()[1];
  }
  argv.reset();
  Logger::GetInstance().LogInformation(kFunction, u"<< result: %s <<", result);
  return result;
}
