// OutlookInformation: Outlook's user-interface language, read from its MAPI installation.
#pragma once

#include <string>

class OutlookInformation {
 public:
  // A decimal LCID as text; "1033" whenever it cannot be found out.
  static std::u16string GetOutlookLanguageID();
};
