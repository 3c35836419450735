#include "logging/logger.h"

#include "app/fixed_names.h"
#include "paths/app_paths.h"
#include "platform/handles.h"

namespace {

// The log is rolled over to a ".1" file once it reaches this many MiB.
constexpr int kLogRollOverMiB = 10;

// True for "X:\..." and "\\server\...": the only library paths that cannot be
// resolved against the current directory or a search path. A string reads as NUL at its
// size, so a short path fails one of the tests before anything past its end is read.
bool IsAbsolutePath(const std::u16string& path) noexcept {
  auto slash = [](char16_t c) { return c == u'\\' || c == u'/'; };
  const auto letter = static_cast<char16_t>(path[0] | 0x20);
  if (letter >= u'a' && letter <= u'z' && path[1] == u':' && slash(path[2])) return true;
  return slash(path[0]) && slash(path[1]);
}

}  // namespace

Logger& Logger::GetInstance() {
  static Logger instance;
  return instance;
}

Logger::Logger() : name_(names::kLoggerName) { Initialize(std::u16string(names::kLogFileName)); }

void Logger::Initialize(const std::u16string& logFileName) {
  AppPaths& paths = AppPaths::GetInstance();
  const std::u16string installFolder = paths.InstallFolder();
  // A relative path would let the loader search the current and the program's folder.
  if (!IsAbsolutePath(installFolder)) return;
  const std::u16string libraryPath = installFolder + std::u16string(names::kLibraryFile);
  platform::UniqueModule library(platform::LoadLibrary(libraryPath.c_str()));
  if (!library) return;

  auto initialize = platform::Lookup<decltype(logInitialize_)>(library.get(), "LogInitialize");
  auto error = platform::Lookup<decltype(logError_)>(library.get(), "LogErrorW");
  auto warning = platform::Lookup<decltype(logWarning_)>(library.get(), "LogWarningW");
  auto information = platform::Lookup<decltype(logInformation_)>(library.get(), "LogInformationW");
  if (!initialize || !error || !warning || !information) return;  // unloaded by the owner

  const std::u16string logPath = paths.LogFolder() + u"\\" + logFileName;
  library_ = std::move(library);
  logInitialize_ = initialize;
  logInitialize_(name_.c_str(), logPath.c_str(), kLogRollOverMiB);
  logError_ = error;
  logWarning_ = warning;
  logInformation_ = information;
  bound_ = true;
}

Logger::~Logger() {
  if (bound_) {
    bound_ = false;
    library_.reset();
  }
  name_.clear();
  name_.shrink_to_fit();
}

void Logger::Log(LineFn entry, const char* function, const char16_t* format,
                 std::initializer_list<logging::FormatArg> args) const {
  if (!entry) return;
  std::u16string line(function, function + std::char_traits<char>::length(function));
  line += u' ';
  line += logging::Format(format, args);
  entry(name_.c_str(), line.c_str());
}
