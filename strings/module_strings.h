// ModuleStrings: the user-visible texts, loaded once from the string file of the
// user's language and served from memory afterwards.
#pragma once

#include <map>
#include <string>

class XMLDocument;

// Adds every string of a loaded string file whose id is not empty to table, by id; a later
// string replaces an earlier one of the same id.
void ReadStringTable(XMLDocument& document, std::map<std::u16string, std::u16string>& table);

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
