// Registry reads: string values by type and byte count, and the DWORD flag.
#include <gtest/gtest.h>

#include <cstring>

#include "paths/app_paths.h"
#include "tests/support/harness.h"

namespace test {
namespace {

std::vector<std::uint8_t> Bytes(const std::u16string& text, bool terminator = true) {
  std::vector<std::uint8_t> bytes((text.size() + (terminator ? 1 : 0)) * 2, 0);
  std::memcpy(bytes.data(), text.data(), text.size() * 2);
  return bytes;
}

TEST(Registry, StringValueTable) {
  const std::u16string chars259(259, u'a');
  const std::u16string chars260(260, u'b');
  struct Case {
    const char* name;
    std::uint32_t type;
    std::vector<std::uint8_t> bytes;
    std::u16string expected;
  };
  std::vector<std::uint8_t> odd = Bytes(u"abc");
  odd.pop_back();
  const Case cases[] = {
      {"plain", platform::kRegSz, Bytes(u"C:\\Prog\\"), u"C:\\Prog\\"},
      {"259 characters fit", platform::kRegSz, Bytes(chars259), chars259},
      {"260 characters do not", platform::kRegSz, Bytes(chars260), u""},
      {"expand kept as stored", platform::kRegExpandSz, Bytes(u"%LOCALAPPDATA%\\x"), u"%LOCALAPPDATA%\\x"},
      {"dword", platform::kRegDword, {1, 0, 0, 0}, u""},
      {"multi", platform::kRegMultiSz, Bytes(u"a\0b", true), u""},
      {"binary", platform::kRegBinary, Bytes(u"abc"), u""},
      {"no terminator", platform::kRegSz, Bytes(u"abc", false), u""},
      {"odd count", platform::kRegSz, odd, u""},
      {"NUL in the middle", platform::kRegSz, Bytes(std::u16string(u"ab\0cd", 5)), u"ab"},
      {"zero length", platform::kRegSz, {}, u""},
      {"only the terminator", platform::kRegSz, {0, 0}, u""},
      {"one byte", platform::kRegSz, {0x41}, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine machine;
    sim::SetValue(sim::Hive::LocalMachine, kProductKey, u"Path", c.type, c.bytes);
    EXPECT_EQ(AppPaths::ReadMachineValue(u"Path"), c.expected);
    EXPECT_EQ(sim::OpenHandles(), 0u);
  }
}

TEST(Registry, EachReadLooksUnderItsOwnRootAndKey) {
  sim::Machine machine;
  sim::SetString(sim::Hive::CurrentUser, kProductKey, u"Path", u"user");
  sim::SetString(sim::Hive::LocalMachine, kPolicyKey, u"DataPath", u"machine policy");
  sim::SetString(sim::Hive::LocalMachine, kProductKey, u"LanguageID", u"1031");
  EXPECT_EQ(AppPaths::ReadMachineValue(u"Path"), u"");
  EXPECT_EQ(AppPaths::ReadPolicyValue(u"DataPath"), u"");
  EXPECT_EQ(AppPaths::ReadUserValue(u"LanguageID"), u"");
  sim::SetString(sim::Hive::CurrentUser, kPolicyKey, u"DataPath", u"user policy");
  EXPECT_EQ(AppPaths::ReadPolicyValue(u"DataPath"), u"user policy");
  sim::DenyKey(sim::Hive::CurrentUser, kPolicyKey);
  EXPECT_EQ(AppPaths::ReadPolicyValue(u"DataPath"), u"");
}

TEST(Registry, DwordFlagTable) {
  struct Case {
    const char* name;
    std::optional<sim::Value> stored;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {"absent", std::nullopt, 2},
      {"one", sim::Value{platform::kRegDword, {1, 0, 0, 0}}, 1},
      {"seven", sim::Value{platform::kRegDword, {7, 0, 0, 0}}, 7},
      {"string type, bytes taken as they are", sim::Value{platform::kRegSz, {'1', 0, 0, 0}}, 0x31},
      {"short value", sim::Value{platform::kRegBinary, {1, 0}}, 0x00000001},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine machine;
    sim::SetDword(sim::Hive::CurrentUser, kProductKey, u"Other", 9);
    if (c.stored) sim::SetValue(sim::Hive::CurrentUser, kProductKey, u"DisableOutlookConnector", c.stored->type, c.stored->bytes);
    EXPECT_EQ(AppPaths::ReadUserDword(u"DisableOutlookConnector"), c.expected);
    EXPECT_EQ(sim::OpenHandles(), 0u);
  }
  sim::Machine machine;
  EXPECT_EQ(AppPaths::ReadUserDword(u"DisableOutlookConnector"), 2u);  // no key at all
  AppPaths::WriteUserDword(u"DisableOutlookConnector", 1);
  EXPECT_EQ(AppPaths::ReadUserDword(u"DisableOutlookConnector"), 1u);
  EXPECT_EQ(sim::KeyClass(sim::Hive::CurrentUser, kProductKey), u"REG_DWORD");
  sim::DenyKey(sim::Hive::CurrentUser, kProductKey);
  AppPaths::WriteUserDword(u"DisableOutlookConnector", 0);  // refused silently
  EXPECT_EQ(sim::GetValue(sim::Hive::CurrentUser, kProductKey, u"DisableOutlookConnector")->bytes[0], 1);
  EXPECT_EQ(sim::OpenHandles(), 0u);
}

}  // namespace
}  // namespace test
