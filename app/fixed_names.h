// The product's fixed registry keys, folder and file names, shared by the whole program.
// Compile-time constants: nothing to build before the entry point and nothing to release.
#pragma once

#include <string_view>

namespace names {

inline constexpr std::u16string_view kProductKey = u"SOFTWARE\\Orvane\\DERVO";
inline constexpr std::u16string_view kPoliciesKey = u"Software\\Policies\\Orvane\\Keelbox";
// Begins with a backslash: appended to a folder path that has none.
inline constexpr std::u16string_view kProductFolder = u"\\Orvane\\Keelstore";
inline constexpr std::string_view kLoggerName = "plainrunctl";
inline constexpr std::u16string_view kLogFileName = u"logplainrunctl.csv";
// Has no backslash: appended to an installation folder that ends in one.
inline constexpr std::u16string_view kLibraryFile = u"tracelib.dll";

}  // namespace names
