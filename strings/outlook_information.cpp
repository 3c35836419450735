#include "strings/outlook_information.h"

#include <string>
#include <vector>

#include "logging/logger.h"
#include "platform/handles.h"

namespace {

constexpr const char* kFunction = "OutlookInformation::GetOutlookLanguageID";
constexpr const char* kDefaultComponentId = "{FF1D0740-D227-11D1-A4B0-006008AF820E}";
constexpr std::uint32_t kPathChars = 520;
// TRUE: the stub may install the component when it is missing.
constexpr int kInstall = 1;

// BOOL FGetComponentPath(LPCSTR component, LPSTR qualifier, LPSTR path, DWORD size, BOOL install)
using FGetComponentPathFn = int (*)(const char* component, char* qualifier, char* path, std::uint32_t size,
                                    int install);

// A narrow registry value of the wanted type, always NUL-terminated (twice, so that a
// multi-string is complete even when stored without its terminators); empty when absent.
std::vector<char> ReadNarrowValue(platform::KeyObject* key, const char* name, std::uint32_t wantedType) {
  std::vector<char> data;
  if (!key) return data;
  std::uint32_t type = 0;
  std::uint32_t size = 0;  // an in/out count: the platform call reads it in before the query
  if (platform::RegQueryValueA(key, name, &type, nullptr, &size) != platform::kErrorSuccess || size == 0 ||
      type != wantedType)
    return data;
  data.assign(std::size_t{size} + 2, '\0');
  if (platform::RegQueryValueA(key, name, &type, data.data(), &size) != platform::kErrorSuccess) data.clear();
  return data;
}

char* TextOrNull(std::vector<char>& value) { return value.empty() ? nullptr : value.data(); }

// One pass for a component id (null when the second pass has none): the application
// qualifier, then the Office one, then none at all; the path the stub left in a fresh buffer.
std::string FindMapiPath(FGetComponentPathFn getPath, const char* component, std::vector<char>& appLcid,
                         std::vector<char>& officeLcid) {
  char path[kPathChars] = {};
  int r = 1;
  bool found = false;
  if (!appLcid.empty()) {
    r = getPath(component, appLcid.data(), path, kPathChars, kInstall);
    found = r != 0 && path[0] != '\0';
  }
  if (!found && !officeLcid.empty()) r = getPath(component, officeLcid.data(), path, kPathChars, kInstall);
  if (r == 0 || path[0] == '\0') (void)getPath(component, nullptr, path, kPathChars, kInstall);
  path[kPathChars - 1] = '\0';
  return std::string(path);
}

// The language folder that follows "MSMAPI\" in a MAPI path, or "1033".
std::u16string LanguageFromMapiPath(const std::u16string& mapiDir) {
  constexpr std::u16string_view kMarker = u"MSMAPI\\";
  const std::size_t marker = mapiDir.find(kMarker);
  if (marker == std::u16string::npos) return u"1033";
  const std::size_t start = marker + kMarker.size();
  const std::size_t end = mapiDir.find(u'\\', start + 1);
  if (end == std::u16string::npos) return u"1033";
  return mapiDir.substr(start, end - start);
}

}  // namespace

std::u16string OutlookInformation::GetOutlookLanguageID() {
  platform::UniqueModule stub(platform::LoadLibrary(u"mapistub.dll"));
  if (!stub) stub.reset(platform::LoadLibrary(u"mapi32.dll"));
  if (!stub) return u"1033";
  const auto getPath = platform::Lookup<FGetComponentPathFn>(stub.get(), "FGetComponentPath");
  if (!getPath) return u"1033";

  platform::UniqueKey key;
  if (platform::RegOpenKey(platform::Hive::LocalMachine, u"Software\\Clients\\Mail\\Microsoft Outlook",
                           platform::kKeyRead, key.put()) != platform::kErrorSuccess)
    key.reset();
  std::vector<char> appLcid = ReadNarrowValue(key.get(), "MSIApplicationLCID", platform::kRegMultiSz);
  std::vector<char> officeLcid = ReadNarrowValue(key.get(), "MSIOfficeLCID", platform::kRegMultiSz);
  std::vector<char> componentId = ReadNarrowValue(key.get(), "MSIComponentID", platform::kRegSz);

  std::string path = FindMapiPath(getPath, kDefaultComponentId, appLcid, officeLcid);
  if (path.empty()) {
    Logger::GetInstance().LogInformation(kFunction, u"Failed to obtain the MAPIDir with default MSIComponentId");
    path = FindMapiPath(getPath, TextOrNull(componentId), appLcid, officeLcid);
  }
  const std::u16string mapiDir = platform::AnsiToWide(path);
  Logger::GetInstance().LogInformation(kFunction, u"MAPIDir : %s", mapiDir);
  return LanguageFromMapiPath(mapiDir);
}
