#include "strings/module_strings.h"

#include "logging/logger.h"
#include "paths/app_paths.h"
#include "platform/platform.h"
#include "strings/outlook_information.h"
#include "xml/xml_document.h"

namespace {
constexpr const char* kInitialize = "ModuleStrings::Initialize";
constexpr int kLoadAttempts = 3;
}  // namespace

std::u16string ModuleStrings::GetString(std::u16string id) {
  static ModuleStrings instance;
  try {
    const auto entry = instance.table_.find(id);
    return entry == instance.table_.end() ? std::u16string() : entry->second;
  } catch (...) {
    Logger::GetInstance().LogWarning("ModuleStrings::GetString", u"Error getting property %s.", id);
    return {};
  }
}

ModuleStrings::ModuleStrings() { Initialize(); }

void ModuleStrings::Initialize() {
  const std::u16string dataFolder = AppPaths::GetInstance().DataFolder();
  std::u16string language = AppPaths::ReadUserValue(u"LanguageID");
  TrimWhiteSpace(language);
  if (language.empty()) language = OutlookInformation::GetOutlookLanguageID();

  std::u16string file;
  if (language == u"1033") {
    file = dataFolder + u"\\modulestrings.xml";
  } else {
    file = dataFolder + u"\\modulestrings_" + language + u".xml";
    if (!platform::PathFileExists(file.c_str())) {
      Logger::GetInstance().LogWarning(
          kInitialize, u"Unable to find modulestrings file for language %s, using default EN-US file.", language);
      file = dataFolder + u"\\modulestrings.xml";
    }
  }
  Logger::GetInstance().LogInformation(kInitialize, u"Loading file %s", file);

  // Tried again, up to three tries in all, only while the file would not load (E_FAIL); every
  // failed try is logged.
  XMLDocument document;
  platform::HResult result = platform::hr::Ok;
  int attempt = 0;
  do {
    result = document.Load(file);
    ++attempt;
    if (result != platform::hr::Ok)
      Logger::GetInstance().LogError(kInitialize, u"Error loading xml file: %#x(try %d)",
                                     static_cast<std::uint32_t>(result), attempt);
  } while (result == platform::hr::Fail && attempt < kLoadAttempts);
  if (result >= 0) ReadStringTable(document, table_);
}

void ReadStringTable(XMLDocument& document, std::map<std::u16string, std::u16string>& table) {
  const std::int32_t children = document.GetChildCount(u"modulestrings");
  for (std::int32_t i = 0; i < children; ++i) {
    const std::u16string query = u"modulestrings/string[" + logging::Format(u"%d", {i}) + u"]";
    if (!document.NodeExists(query)) continue;
    std::u16string id = document.GetNodeAttribute(query, u"id");
    std::u16string text = document.GetNodeText(query);
    if (id.empty()) continue;
    table.insert_or_assign(std::move(id), std::move(text));
  }
}
