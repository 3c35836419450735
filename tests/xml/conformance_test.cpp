// One suite, two DOMs: built natively it runs against the simulated DOM, built for Windows
// it runs against the system DOM under Wine. Same expectations, so the two cannot drift.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "xml/xml_document.h"

#ifndef _WIN32
#include "platform/sim/sim.h"
#endif

namespace {

class Dom : public ::testing::Test {
 protected:
  void SetUp() override { (void)platform::CoInitialize(); }
  void TearDown() override { platform::CoUninitialize(); }

  // Writes bytes to a file of that name and gives its Windows path.
  std::u16string File(const std::string& name, const std::string& bytes) {
    const std::u16string path = u"C:\\xml\\" + std::u16string(name.begin(), name.end());
#ifdef _WIN32
    std::filesystem::create_directories(L"C:\\xml");
    std::ofstream(std::filesystem::path(path), std::ios::binary | std::ios::trunc) << bytes;
#else
    sim::WriteFile(path, bytes);
#endif
    return path;
  }

#ifndef _WIN32
  sim::Machine machine_;
#endif
};

const std::string kStrings = "<modulestrings><string id=\"a\">t<b/></string><string/></modulestrings>";

// What the whole runs cannot ask: the children of other elements, and queries that select an
// attribute, a text node or nothing at all. (A query that Wine's DOM cannot parse crashes it
// under Wine 8.0; the program builds none.)
TEST_F(Dom, QueriesThatSelectNoElementGiveFailureResults) {
  XMLDocument document;
  ASSERT_EQ(document.Load(File("strings.xml", kStrings)), platform::hr::Ok);
  EXPECT_EQ(document.GetChildCount(u"modulestrings/string[0]"), 2);
  EXPECT_EQ(document.GetChildCount(u"modulestrings/string[1]"), 0);
  EXPECT_EQ(document.GetNodeAttribute(u"modulestrings/string[0]", u"ID"), u"");
  for (const char16_t* query :
       {u"modulestrings/string[0]/@id", u"modulestrings/string[0]/text()", u"nothing", u"modulestrings/string[2]"}) {
    SCOPED_TRACE(std::u16string(query).size());
    EXPECT_FALSE(document.NodeExists(query));
    EXPECT_EQ(document.GetChildCount(query), -1);
    EXPECT_EQ(document.GetNodeAttribute(query, u"id"), u"");
    EXPECT_EQ(document.GetNodeText(query), u"");
  }
}

// Hostile string files: whatever a DOM makes of them (its limits on depth, entities and
// external references are its own defaults), a load gives S_OK or E_FAIL, never anything
// else and never a crash, and a file that loads still answers its first query.
TEST_F(Dom, HostileFilesLoadOrFailCleanly) {
  const std::string real = "<string id=\"IDS_Title\">Caption</string>";
  const auto repeat = [](const std::string& text, int times) {
    std::string all;
    while (times-- > 0) all += text;
    return all;
  };
  std::string lol = "<!ENTITY lol0 \"lol\">";
  for (int i = 1; i < 10; ++i)
    lol += "<!ENTITY lol" + std::to_string(i) + " \"" + repeat("&lol" + std::to_string(i - 1) + ";", 10) + "\">";
  const std::string deep = repeat("<a>", 100000) + repeat("</a>", 100000);
  std::string random(65536, '\0');
  for (std::size_t i = 0; i < random.size(); ++i) random[i] = static_cast<char>((i * 2654435761u) >> 13);
  // A file that an external entity names: its text must reach no query.
  const std::u16string secret = File("secret.txt", "hidden-by-the-loader");
  const std::pair<const char*, std::string> cases[] = {
      {"deep", "<modulestrings>" + real + deep + "</modulestrings>"},
      {"bomb", "<!DOCTYPE modulestrings [" + lol + "]><modulestrings>" + real +
                   "<string id=\"b\">&lol9;</string></modulestrings>"},
      {"external", "<!DOCTYPE modulestrings [<!ENTITY x SYSTEM \"" + std::string(secret.begin(), secret.end()) +
                       "\">]><modulestrings>" + real + "<string id=\"x\">&x;</string></modulestrings>"},
      {"dtd", "<!DOCTYPE modulestrings SYSTEM \"file:///C:/missing.dtd\"><modulestrings>" + real + "</modulestrings>"},
      {"truncated", "<modulestrings>" + real + "<string id=\"IDS_"},
      {"random", random},
      {"big comment", "<modulestrings>" + real + "<!--" + std::string(10000000, 'x') + "--></modulestrings>"},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    XMLDocument document;
    const platform::HResult loaded = document.Load(File(std::string(name) + ".xml", bytes));
    EXPECT_TRUE(loaded == platform::hr::Ok || loaded == platform::hr::Fail) << loaded;
    if (loaded == platform::hr::Ok) {
      EXPECT_EQ(document.GetNodeAttribute(u"modulestrings/string[0]", u"id"), u"IDS_Title");
      EXPECT_EQ(document.GetNodeText(u"modulestrings").find(u"hidden"), std::u16string::npos);
    }
  }
}

}  // namespace
