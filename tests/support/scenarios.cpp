#include "tests/support/scenarios.h"

namespace test {

const std::vector<Scenario>& Scenarios() {
  static const std::vector<Scenario> scenarios{
      {"enable, Outlook, strings, MAPI", u"", 1, true, true, true, true, {0, 1}, {0, 1}},
      {"enable, no Outlook", u"", 1, false, true, true, true, {0, 1}, {0, 1}},
      {"disable, Outlook, no strings, no MAPI", u"/plainrun", std::nullopt, true, false, false, true,
       {std::nullopt, 1}, {std::nullopt}},
      {"disable, Outlook, strings, MAPI", u"/plainrun", 0, true, true, true, true, {0, 1}, {0}},
      {"disable, no Outlook, no library", u"/plainrun", 7, false, true, false, false, {7, 1}, {7}},
      {"no-op argument", u"/PLAINRUN", 1, true, true, true, true, {1}, {0, 1}},
      {"enable, Outlook, no strings, MAPI", u"", 1, true, false, true, true, {0, 1}, {0, 1}},
  };
  return scenarios;
}

void Prepare(const Scenario& s) {
  sim::SetString(sim::Hive::LocalMachine, kProductKey, u"Path", kInstallFolder);
  if (s.library) sim::InstallModule(std::u16string(kInstallFolder) + u"tracelib.dll", TRACELIB_SO);
  sim::SetCommandLine(u"\"C:\\Program Files\\Orvane\\plainrunctl.exe\" " + std::u16string(s.arguments));
  if (s.flagBefore) sim::SetDword(sim::Hive::CurrentUser, kProductKey, u"DisableOutlookConnector", *s.flagBefore);
  sim::SetProcesses(s.outlook ? std::vector<std::u16string>{u"System", u"OUTLOOK.EXE"}
                              : std::vector<std::u16string>{u"System"});
  if (s.stringFiles) {
    sim::WriteFile(std::u16string(kInstallFolder) + u"Data\\modulestrings.xml",
                   "<?xml version=\"1.0\"?><modulestrings><!-- c --><string id=\"IDS_Title\">T</string>"
                   "<string id=\"IDS_EnableOC\">E</string><string id=\"IDS_DisableOC\">D</string></modulestrings>");
    sim::WriteFile(std::u16string(kInstallFolder) + u"Data\\modulestrings_1031.xml",
                   "<?xml version=\"1.0\"?><modulestrings><string id=\"IDS_Title\">T-de</string></modulestrings>");
  }
  if (s.mapiStub) {
    sim::InstallModule(std::u16string(sim::kSystemFolder) + u"\\mapistub.dll", MAPI_STUB_SO);
    sim::WriteFile(u"C:\\mapistub-answers.txt", "*|1031|1|C:\\Office\\MSMAPI\\1031\\MSMAPI32.DLL\n");
    sim::SetNarrow(sim::Hive::LocalMachine, kOutlookKey, u"MSIApplicationLCID", std::string("1031\0\0", 6),
                   platform::kRegMultiSz);
  }
  sim::SetString(sim::Hive::CurrentUser, kPolicyKey, u"DataPath", u"%MyDocuments%\\Mail");
}

bool EveryLineIsKnown(const std::vector<std::string>& lines, std::string* unknown) {
  static const std::regex known(
      "I ParseCommandLine (>>|Command line arguments: |Argument: .*|<< result: .* <<|CommandLineToArgvW retuned a null pointer)|"
      "I (Enable|Disable)OutlookConnector (>>|<<|Outlook Connector is (disable|enable), setting the disable flag to [01]\\.)|"
      "I IsOutlookRunning (>>|<< result: [01])|"
      "I OutlookInformation::GetOutlookLanguageID (MAPIDir : .*|Failed to obtain the MAPIDir with default MSIComponentId)|"
      "I ModuleStrings::Initialize Loading file .*|"
      "W ModuleStrings::Initialize Unable to find modulestrings file for language .*, using default EN-US file\\.|"
      "E ModuleStrings::Initialize Error loading xml file: 0x[0-9a-f]+\\(try [123]\\)|"
      "W ModuleStrings::GetString Error getting property .*\\.");
  for (const std::string& line : lines) {
    if (!std::regex_match(line, known)) {
      *unknown = line;
      return false;
    }
  }
  return true;
}

}  // namespace test
