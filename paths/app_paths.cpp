#include "paths/app_paths.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <stdexcept>
#include <string_view>

#include "app/fixed_names.h"
#include "platform/handles.h"

namespace {

constexpr std::size_t kScratchBytes = 32767;

// One text read, as REG_SZ/REG_EXPAND_SZ, under root\keyPath.
std::u16string ReadStringValue(platform::Hive root, const char16_t* keyPath, const std::u16string& name) {
  std::u16string result;
  platform::UniqueKey key;
  if (platform::RegOpenKey(root, keyPath, platform::kKeyRead, key.put()) != platform::kErrorSuccess) return result;

  // MAX_PATH units, 520 bytes; the byte count handed in is the buffer's own size.
  char16_t buffer[platform::kMaxPath];
  std::uint32_t type = 0;
  std::uint32_t bytes = sizeof buffer;
  if (platform::RegQueryValueW(key.get(), name.c_str(), &type, buffer, &bytes) != platform::kErrorSuccess)
    return result;
  if (type != platform::kRegSz && type != platform::kRegExpandSz) return result;
  if (bytes == 0 || bytes % 2 != 0) return result;
  const std::size_t units = bytes / 2;
  if (buffer[units - 1] != u'\0') return result;
  result.assign(buffer, std::char_traits<char16_t>::length(buffer));
  return result;
}

struct Token {
  std::u16string_view text;
  int csidl;
};
constexpr std::array<Token, 4> kTokens{{
    {u"%applicationdata%", AppPaths::kCsidlAppData},
    {u"%mydocuments%", AppPaths::kCsidlPersonal},
    {u"%localapplicationdata%", AppPaths::kCsidlLocalAppData},
    {u"%userprofile%", AppPaths::kCsidlProfile},
}};

}  // namespace

void TrimWhiteSpace(std::u16string& text) {
  const auto visible = [](char16_t c) { return !platform::IsWSpace(c); };
  text.erase(std::find_if(text.rbegin(), text.rend(), visible).base(), text.end());
  text.erase(text.begin(), std::find_if(text.begin(), text.end(), visible));
}

AppPaths& AppPaths::GetInstance() {
  static AppPaths instance;
  return instance;
}

AppPaths::AppPaths() {
  std::u16string dataPath = ReadPolicyValue(u"DataPath");
  const std::u16string localAppData = GetSpecialFolder(kCsidlLocalAppData);
  TrimWhiteSpace(dataPath);
  if (!dataPath.empty()) {
    ExpandFolderTokens(dataPath);
    platform::OutputDebugString(dataPath.c_str());
  }
  std::u16string dataRoot =
      !dataPath.empty() && platform::PathFileExists(dataPath.c_str()) ? dataPath : GetSpecialFolder(kCsidlLocalAppData);
  dataRoot += names::kProductFolder;
  const std::u16string localProductFolder = localAppData + std::u16string(names::kProductFolder);
  (void)CreateFolderTree(dataRoot);

  installFolder_ = ReadMachineValue(u"Path");
  dataFolder_ = installFolder_ + u"\\Data";
  logFolder_ = localProductFolder + u"\\DebugLogs";
  (void)CreateFolderTree(logFolder_);
}

bool AppPaths::CreateFolderTree(std::u16string path) {
  // An empty path is an invalid argument; neither caller ever passes one.
  if (path.empty()) throw std::invalid_argument("empty folder path");
  if (path.back() != u'\\') path += u'\\';
  // One character and the backslash: the disk is not touched, not even for a one-letter name.
  if (path.size() <= 2) return true;
  for (std::size_t slash = path.find(u'\\', 2); slash != std::u16string::npos; slash = path.find(u'\\', slash + 1)) {
    const std::u16string prefix = path.substr(0, slash);
    if (!platform::PathFileExists(prefix.c_str()) && !platform::CreateDirectory(prefix.c_str())) return false;
  }
  return true;
}

std::u16string AppPaths::ReadProductValue(platform::Hive root, const std::u16string& name) {
  return ReadStringValue(root, names::kProductKey.data(), name);
}

std::u16string AppPaths::ReadMachineValue(const std::u16string& name) {
  return ReadProductValue(platform::Hive::LocalMachine, name);
}

std::u16string AppPaths::ReadUserValue(const std::u16string& name) {
  return ReadProductValue(platform::Hive::CurrentUser, name);
}

std::u16string AppPaths::ReadPolicyValue(const std::u16string& name) {
  return ReadStringValue(platform::Hive::CurrentUser, names::kPoliciesKey.data(), name);
}

std::uint32_t AppPaths::ReadUserDword(const std::u16string& name) noexcept {
  std::uint32_t value = 2;
  platform::UniqueKey key;
  if (platform::RegOpenKey(platform::Hive::CurrentUser, names::kProductKey.data(), platform::kKeyRead, key.put()) !=
      platform::kErrorSuccess)
    return value;
  std::uint32_t type = 0;
  std::uint32_t bytes = sizeof value;
  (void)platform::RegQueryValueW(key.get(), name.c_str(), &type, &value, &bytes);
  return value;
}

void AppPaths::WriteUserDword(const std::u16string& name, std::uint32_t value) noexcept {
  platform::UniqueKey key;
  std::uint32_t disposition = 0;
  if (platform::RegCreateKey(platform::Hive::CurrentUser, names::kProductKey.data(), u"REG_DWORD",
                             platform::kKeyReadWrite, key.put(), &disposition) != platform::kErrorSuccess)
    return;
  (void)platform::RegSetValue(key.get(), name.c_str(), platform::kRegDword, &value, sizeof value);
}

std::u16string AppPaths::GetSpecialFolder(int csidl) {
  std::unique_ptr<char16_t[]> scratch(new (std::nothrow) char16_t[kScratchBytes / sizeof(char16_t)]);
  if (!scratch) return {};
  if (!platform::GetSpecialFolderPath(scratch.get(), csidl, true)) return {};
  return std::u16string(scratch.get());
}

void AppPaths::ExpandFolderTokens(std::u16string& text) {
  platform::Wcslwr(text.data(), text.size() + 1);
  for (const Token& token : kTokens) {
    std::size_t at = text.find(token.text);
    if (at == std::u16string::npos) continue;
    const std::u16string folder = GetSpecialFolder(token.csidl);
    for (; at != std::u16string::npos; at = text.find(token.text, at + folder.size())) {
      text.replace(at, token.text.size(), folder);
    }
    return;
  }
}
