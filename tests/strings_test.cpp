// The string table: language and file choice, load retries, the walk over the file, and
// Outlook's language from its MAPI installation.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/platform.h"
#include "strings/module_strings.h"
#include "tests/support/harness.h"
#include "xml/xml_document.h"

namespace test {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr const char16_t* kData = u"C:\\Program Files\\Orvane\\\\Data\\";

std::string StringFile(const std::string& title) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<modulestrings>\n  <string id=\"IDS_Title\">" + title +
         "</string>\n</modulestrings>\n";
}

std::string ReadFile(const std::u16string& path) {
  std::ifstream in(sim::HostPath(path), std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

// Looks up a few ids in a child and records the answers, one a line.
int LookUp() {
  (void)platform::CoInitialize();
  std::u16string answers;
  for (const char16_t* id : {u"IDS_Title", u"IDS_Title", u"ids_title", u"", u"IDS_Dup", u"IDS_Nested", u"IDS_Deep",
                             u"IDS_Empty"})
    answers += ModuleStrings::GetString(id) + u"\n";
  sim::WriteFile(u"C:\\answers.txt", sim::Utf8(answers));
  platform::CoUninitialize();
  return 0;
}

std::vector<std::string> Answers() {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(u"C:\\answers.txt"));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Writes what the MAPI stub answers: one "component|qualifier|result|path" rule a line.
void MapiAnswers(const std::string& rules) { sim::WriteFile(u"C:\\mapistub-answers.txt", rules); }

class Strings : public Machine {
 protected:
  void SetUp() override {
    Machine::SetUp();
    platform::RestrictDllSearchToSystem();
  }
  std::vector<std::string> Lines(const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& line : LogLines())
      if (line.rfind(prefix, 0) == 0) found.push_back(line);
    return found;
  }
};

TEST_F(Strings, LanguageAndFileChoiceTable) {
  struct Case {
    const char* name;
    std::optional<std::u16string> languageId;
    const char* outlookPath;  // what the MAPI stub gives for the default component
    std::vector<const char*> files;
    std::string title;
    std::vector<std::string> log;
  };
  const std::string loading = "I ModuleStrings::Initialize Loading file C:\\Program Files\\Orvane\\\\Data\\";
  const std::string fallback = "W ModuleStrings::Initialize Unable to find modulestrings file for language ";
  const Case cases[] = {
      {"setting with blanks", u" 1031\t", nullptr, {"modulestrings.xml", "modulestrings_1031.xml"}, "DE",
       {loading + "modulestrings_1031.xml"}},
      {"1033 means the default file", u"1033", nullptr,
       {"modulestrings.xml", "modulestrings_1033.xml"}, "EN", {loading + "modulestrings.xml"}},
      {"language without its file", u"1040", nullptr, {"modulestrings.xml"}, "EN",
       {fallback + "1040, using default EN-US file.", loading + "modulestrings.xml"}},
      {"Outlook's language", std::nullopt, "C:\\Office\\MSMAPI\\1031\\MSMAPI32.DLL",
       {"modulestrings.xml", "modulestrings_1031.xml"}, "DE", {loading + "modulestrings_1031.xml"}},
      {"Outlook's language without its file", u"  ", "C:\\Office\\MSMAPI\\1036\\MSMAPI32.DLL",
       {"modulestrings.xml"}, "EN", {fallback + "1036, using default EN-US file.", loading + "modulestrings.xml"}},
      {"no file at all", u"1031", nullptr, {}, "",
       {fallback + "1031, using default EN-US file.", loading + "modulestrings.xml",
        "E ModuleStrings::Initialize Error loading xml file: 0x80004005(try 1)",
        "E ModuleStrings::Initialize Error loading xml file: 0x80004005(try 2)",
        "E ModuleStrings::Initialize Error loading xml file: 0x80004005(try 3)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine fresh;
    SetUp();
    if (c.languageId) sim::SetString(sim::Hive::CurrentUser, kProductKey, u"LanguageID", *c.languageId);
    sim::InstallModule(u"C:\\Windows\\System32\\mapistub.dll", MAPI_STUB_SO);
    if (c.outlookPath) MapiAnswers(std::string("*|*|1|") + c.outlookPath + "\n");
    for (const char* file : c.files) {
      const std::string name = file;
      const std::string title = name == "modulestrings.xml" ? "EN" : name == "modulestrings_1031.xml" ? "DE" : "WRONG";
      sim::WriteFile(kData + sim::Utf16(name), StringFile(title));
    }
    EXPECT_EQ(sim::RunInChild(LookUp).exitCode, 0);
    EXPECT_EQ(Answers().at(0), c.title);
    EXPECT_EQ(Answers().at(1), c.title);
    std::vector<std::string> log;
    for (const std::string& line : LogLines())
      if (line.find("ModuleStrings") != std::string::npos) log.push_back(line);
    EXPECT_THAT(log, ElementsAreArray(c.log));
  }
}

TEST_F(Strings, WalkOverTheFile) {
  sim::SetString(sim::Hive::CurrentUser, kProductKey, u"LanguageID", u"1033");
  sim::WriteFile(std::u16string(kData) + u"modulestrings.xml",
                 "<?xml version=\"1.0\"?>\n<modulestrings>\n  <!-- first child is a comment -->\n"
                 "  <string id=\"IDS_Title\">T</string>\n  <string id=\"IDS_Dup\">first</string>\n"
                 "  <string>no id</string>\n  <string id=\"\">empty id</string>\n"
                 "  <string id=\"IDS_Nested\">a <b>b</b> c</string>\n  <x><string id=\"IDS_Deep\">deep</string></x>\n"
                 "  <string id=\"IDS_Empty\"></string>\n  <string id=\"IDS_Dup\">second</string>\n</modulestrings>\n");
  EXPECT_EQ(sim::RunInChild(LookUp).exitCode, 0);
  EXPECT_THAT(Answers(), ElementsAreArray({"T", "T", "", "", "second", "a b c", "", ""}));
  // Loaded once, however many lookups.
  EXPECT_EQ(Lines("I ModuleStrings::Initialize Loading file").size(), 1u);
}

TEST_F(Strings, LoadRetryTable) {
  struct Case {
    const char* name;
    const char* failing;
    int times;
    std::vector<std::string> errors;
    std::string title;
  };
  const Case cases[] = {
      {"E_FAIL once, then loaded", "DomLoad", 1, {"E ModuleStrings::Initialize Error loading xml file: 0x80004005(try 1)"}, "EN"},
      {"E_FAIL twice, then loaded", "DomLoad", 2,
       {"E ModuleStrings::Initialize Error loading xml file: 0x80004005(try 1)",
        "E ModuleStrings::Initialize Error loading xml file: 0x80004005(try 2)"},
       "EN"},
      {"E_FAIL three times", "DomLoad", 3,
       {"E ModuleStrings::Initialize Error loading xml file: 0x80004005(try 1)",
        "E ModuleStrings::Initialize Error loading xml file: 0x80004005(try 2)",
        "E ModuleStrings::Initialize Error loading xml file: 0x80004005(try 3)"},
       ""},
      {"DOM class not registered: no retry", "DomCreateInstance", 1,
       {"E ModuleStrings::Initialize Error loading xml file: 0x80040154(try 1)"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine fresh;
    SetUp();
    sim::SetString(sim::Hive::CurrentUser, kProductKey, u"LanguageID", u"1033");
    sim::WriteFile(std::u16string(kData) + u"modulestrings.xml", StringFile("EN"));
    sim::FailNamed(c.failing, c.times);
    const sim::RunResult run = sim::RunInChild(LookUp);
    sim::FailNamed(c.failing, 0);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.handlesLeft, 0u);
    EXPECT_THAT(Lines("E "), ElementsAreArray(c.errors));
    EXPECT_EQ(Answers().at(0), c.title);
  }
}

// Runs GetOutlookLanguageID in a child and records its answer.
int OutlookLanguage() {
  platform::RestrictDllSearchToSystem();
  sim::WriteFile(u"C:\\language.txt", sim::Utf8(OutlookInformation::GetOutlookLanguageID()));
  return 0;
}

TEST_F(Strings, OutlookLanguageTable) {
  const std::string msmapi = "C:\\Program Files\\Common Files\\System\\MSMAPI\\";
  struct Case {
    const char* name;
    const char* stub;        // file installed as the stub, or null
    const char16_t* stubAs;  // where it lies
    std::string answers;
    std::vector<std::pair<const char16_t*, std::pair<std::string, std::uint32_t>>> values;
    std::string language;
    std::string calls;
    std::vector<std::string> log;
  };
  const std::string found = "I OutlookInformation::GetOutlookLanguageID MAPIDir : ";
  const std::string failed = "I OutlookInformation::GetOutlookLanguageID Failed to obtain the MAPIDir with default MSIComponentId";
  const std::string defaultId = "{FF1D0740-D227-11D1-A4B0-006008AF820E}";
  const std::string multi1031 = std::string("1031\0\0", 6);
  const Case cases[] = {
      {"no stub", nullptr, nullptr, "", {}, "1033", "", {}},
      {"stub only in the current folder", MAPI_STUB_SO, u"C:\\cwd\\mapistub.dll", "*|*|1|C:\\MSMAPI\\1031\\x\n", {},
       "1033", "", {}},
      {"stub only in the program's folder", MAPI_STUB_SO, u"C:\\Program Files\\Orvane\\mapi32.dll",
       "*|*|1|C:\\MSMAPI\\1031\\x\n", {}, "1033", "", {}},
      {"stub without the export", THREE_EXPORTS_SO, u"C:\\Windows\\System32\\mapistub.dll", "", {}, "1033", "", {}},
      {"application qualifier", MAPI_STUB_SO, u"C:\\Windows\\System32\\mapistub.dll", "*|1031|1|" + msmapi + "1031\\MSMAPI32.DLL\n",
       {{u"MSIApplicationLCID", {multi1031, 7}}, {u"MSIOfficeLCID", {std::string("1036\0\0", 6), 7}}}, "1031",
       defaultId + "|1031\n", {found + msmapi + "1031\\MSMAPI32.DLL"}},
      {"mapi32 when mapistub is missing", MAPI_STUB_SO, u"C:\\Windows\\System32\\mapi32.dll", "*|-|1|" + msmapi + "1040\\MSMAPI32.DLL\n", {},
       "1040", defaultId + "|-\n", {found + msmapi + "1040\\MSMAPI32.DLL"}},
      {"office qualifier only", MAPI_STUB_SO, u"C:\\Windows\\System32\\mapistub.dll", "*|1036|1|" + msmapi + "1036\\MSMAPI32.DLL\n",
       {{u"MSIOfficeLCID", {std::string("1036\0\0", 6), 7}}}, "1036", defaultId + "|1036\n",
       {found + msmapi + "1036\\MSMAPI32.DLL"}},
      {"qualifier of the wrong type", MAPI_STUB_SO, u"C:\\Windows\\System32\\mapistub.dll", "*|*|1|" + msmapi + "1031\\MSMAPI32.DLL\n",
       {{u"MSIApplicationLCID", {std::string("1031\0", 5), 1}}}, "1031", defaultId + "|-\n",
       {found + msmapi + "1031\\MSMAPI32.DLL"}},
      {"lower-case marker", MAPI_STUB_SO, u"C:\\Windows\\System32\\mapistub.dll", "*|*|1|C:\\x\\msmapi\\1031\\MSMAPI32.DLL\n", {}, "1033",
       defaultId + "|-\n", {found + "C:\\x\\msmapi\\1031\\MSMAPI32.DLL"}},
      {"no backslash after the folder", MAPI_STUB_SO, u"C:\\Windows\\System32\\mapistub.dll", "*|*|1|C:\\x\\MSMAPI\\1031\n", {}, "1033",
       defaultId + "|-\n", {found + "C:\\x\\MSMAPI\\1031"}},
      {"second pass with the registered component", MAPI_STUB_SO, u"C:\\Windows\\System32\\mapistub.dll",
       "{OTHER}|-|1|" + msmapi + "1041\\MSMAPI32.DLL\n", {{u"MSIComponentID", {std::string("{OTHER}\0", 8), 1}}},
       "1041", defaultId + "|-\n{OTHER}|-\n", {failed, found + msmapi + "1041\\MSMAPI32.DLL"}},
      {"first pass fails, no component id", MAPI_STUB_SO, u"C:\\Windows\\System32\\mapistub.dll", "", {}, "1033", defaultId + "|-\n",
       {failed, found}},
      {"qualifier call fails, retried without", MAPI_STUB_SO, u"C:\\Windows\\System32\\mapistub.dll",
       "*|1031|0|\n*|-|1|" + msmapi + "1049\\MSMAPI32.DLL\n", {{u"MSIApplicationLCID", {multi1031, 7}}}, "1049",
       defaultId + "|1031\n" + defaultId + "|-\n", {found + msmapi + "1049\\MSMAPI32.DLL"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine fresh;
    Machine::SetUp();
    if (c.stub) sim::InstallModule(c.stubAs, c.stub);
    MapiAnswers(c.answers);
    for (const auto& [name, value] : c.values) sim::SetNarrow(sim::Hive::LocalMachine, kOutlookKey, name, value.first, value.second);
    const sim::RunResult run = sim::RunInChild(OutlookLanguage);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.handlesLeft, 0u);
    EXPECT_EQ(ReadFile(u"C:\\language.txt"), c.language);
    EXPECT_EQ(ReadFile(u"C:\\mapistub-calls.txt"), c.calls);
    EXPECT_THAT(Lines("I OutlookInformation"), ElementsAreArray(c.log));
  }
}

// Every installed string file parses and holds each id of the message boxes once, non-empty.
TEST(StringFiles, EachFileHoldsTheThreeTexts) {
  sim::Machine machine;
  (void)platform::CoInitialize();
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(DATA_DIR)) {
    if (entry.path().extension() != ".xml") continue;
    ++files;
    SCOPED_TRACE(entry.path().filename().string());
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str().rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
    sim::WriteFile(u"C:\\data\\file.xml", content.str());
    XMLDocument document;
    ASSERT_EQ(document.Load(u"C:\\data\\file.xml"), platform::hr::Ok);
    std::map<std::u16string, int> seen;
    const std::int32_t children = document.GetChildCount(u"modulestrings");
    for (std::int32_t i = 0; i < children; ++i) {
      const std::u16string query = u"modulestrings/string[" + sim::Utf16(std::to_string(i)) + u"]";
      if (!document.NodeExists(query)) continue;
      ++seen[document.GetNodeAttribute(query, u"id")];
      EXPECT_FALSE(document.GetNodeText(query).empty());
    }
    EXPECT_EQ(seen, (std::map<std::u16string, int>{{u"IDS_DisableOC", 1}, {u"IDS_EnableOC", 1}, {u"IDS_Title", 1}}));
  }
  EXPECT_GE(files, 21);
  EXPECT_FALSE(std::filesystem::exists(std::string(DATA_DIR) + "/modulestrings_1033.xml"));
  platform::CoUninitialize();
}

}  // namespace
}  // namespace test
