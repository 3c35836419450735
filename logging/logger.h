// The shared Logger: binds the product's logging library on first use and forwards
// error, warning and information lines to it. Without a library every call is silent.
#pragma once

#include <initializer_list>
#include <string>

#include "logging/format.h"
#include "platform/handles.h"
#include "tracelib.h"

class Logger {
 public:
  // The one Logger of the process, built (and its library bound) on first use.
  static Logger& GetInstance();

  template <typename... Args>
  void LogError(const char* function, const char16_t* format, const Args&... args) {
    Log(logError_, function, format, {logging::FormatArg(args)...});
  }
  template <typename... Args>
  void LogWarning(const char* function, const char16_t* format, const Args&... args) {
    Log(logWarning_, function, format, {logging::FormatArg(args)...});
  }
  template <typename... Args>
  void LogInformation(const char* function, const char16_t* format, const Args&... args) {
    Log(logInformation_, function, format, {logging::FormatArg(args)...});
  }

  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

 private:
  // One line entry point of the library; the three share the shape of LogErrorW.
  using LineFn = decltype(&::LogErrorW);

  Logger();
  // The end-of-process clean-up: unloads a bound library first, while the name that it was
  // handed is still valid, then frees the name.
  ~Logger();
  // Loads the library from the installation folder, resolves its four entry points and
  // opens the log; leaves the Logger unbound when any of that is missing.
  void Initialize(const std::u16string& logFileName);
  // Builds "<function> <expanded format>" and hands it to entry; does nothing if entry is absent.
  void Log(LineFn entry, const char* function, const char16_t* format,
           std::initializer_list<logging::FormatArg> args) const;

  // The bound library, unloaded at the end of the process; empty while unbound.
  platform::UniqueModule library_;
  std::string name_;
  bool bound_ = false;  // set once LogInitialize has been called; cleared when the library is unloaded
  decltype(&::LogInitialize) logInitialize_ = nullptr;
  decltype(&::LogErrorW) logError_ = nullptr;
  decltype(&::LogWarningW) logWarning_ = nullptr;
  decltype(&::LogInformationW) logInformation_ = nullptr;
};
