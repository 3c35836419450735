// ModuleStrings: the user-visible texts, loaded once from the string file of the
// user's language and served from memory afterwards.
#pragma once

#include <map>
#include <string>

class ModuleStrings {
 public:
  // The text stored for id (exact, case-sensitive), or the empty string.
  static std::u16string GetString(std::u16string id);

  ModuleStrings(const ModuleStrings&) = delete;
  ModuleStrings& operator=(const ModuleStrings&) = delete;

 private:
  ModuleStrings();
  ~ModuleStrings() = default;
  // Chooses the language and its file, loads it (three attempts) and fills the table.
  void Initialize();

  std::map<std::u16string, std::u16string> table_;
};

// OutlookInformation: Outlook's user-interface language, read from its MAPI installation.
class OutlookInformation {
 public:
  // A decimal LCID as text; "1033" whenever it cannot be found out.
  static std::u16string GetOutlookLanguageID();
  // The language folder that follows "MSMAPI\" in a MAPI path, or "1033".
  static std::u16string LanguageFromMapiPath(const std::u16string& mapiDir);
};
