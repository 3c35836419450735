// The log formats expand as the Windows wide printf does, with %s taking wide text.
#include <gtest/gtest.h>

#include "logging/format.h"

namespace {

TEST(Format, ExpandsLikeTheWindowsWidePrintf) {
  struct Case {
    std::u16string expected;
    std::u16string actual;
  };
  const std::u16string empty;
  const Case cases[] = {
      {u"<< result:  <<", logging::Format(u"<< result: %s <<", {empty})},
      {u"Error loading xml file: 0x80004005(try 1)",
       logging::Format(u"Error loading xml file: %#x(try %d)", {static_cast<std::uint32_t>(0x80004005), 1})},
      {u"0x8007000e", logging::Format(u"%#x", {static_cast<std::int32_t>(0x8007000E)})},
      {u"0", logging::Format(u"%#x", {0})},
      {u"<< result: 1", logging::Format(u"<< result: %d", {1})},
      {u"-5|4294967291", logging::Format(u"%d|%u", {-5, -5})},
      {u"  42|42  |0042|+42", logging::Format(u"%4d|%-4d|%04d|%+d", {42, 42, 42, 42})},
      {u"modulestrings/string[12]", logging::Format(u"modulestrings/string[%d]", {12})},
      {u"abc|  ab|ab", logging::Format(u"%s|%4.2s|%.*s", {u"abc", u"abc", 2, u"abc"})},
      {u"100%", logging::Format(u"100%%", {})},
      {u"Ä€😀", logging::Format(u"%s", {u"Ä€😀"})},
      {u"%s%d arrives", logging::Format(u"%s arrives", {u"%s%d"})},
      {u"missing: ", logging::Format(u"missing: %s", {})},
      {u"%q stays", logging::Format(u"%q stays", {})},
      {u"trailing %", logging::Format(u"trailing %", {})},
      {u"(null)", logging::Format(u"%s", {static_cast<const char16_t*>(nullptr)})},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST(Format, LongTextIsNotTruncated) {
  const std::u16string long_text(100000, u'x');
  EXPECT_EQ(logging::Format(u"[%s]", {long_text}).size(), long_text.size() + 2);
}

}  // namespace
