// The simulated command-line splitter keeps the system's quoting rules, which decide
// what the program sees as its one argument.
#include <gtest/gtest.h>

#include "platform/handles.h"
#include "tests/support/harness.h"

namespace test {
namespace {

std::vector<std::u16string> Split(const std::u16string& line) {
  int count = -1;
  platform::UniqueArgv argv(platform::CommandLineToArgv(line.c_str(), &count));
  std::vector<std::u16string> args;
  for (int i = 0; argv && i < count; ++i) args.emplace_back(argv.get()[i]);
  return args;
}

TEST(CommandLine, SplittingTable) {
  struct Case {
    std::u16string line;
    std::vector<std::u16string> args;
  };
  const Case cases[] = {
      {u"\"C:\\P F\\p.exe\"", {u"C:\\P F\\p.exe"}},
      {u"p.exe /plainrun", {u"p.exe", u"/plainrun"}},
      {u"p.exe  \t/plainrun  ", {u"p.exe", u"/plainrun"}},
      {u"p.exe \"\"", {u"p.exe", u""}},
      {u"p.exe \"/plainrun \"", {u"p.exe", u"/plainrun "}},
      {u"p.exe a\\\\\"b c\"", {u"p.exe", u"a\\b c"}},
      {u"p.exe a\\\"b", {u"p.exe", u"a\"b"}},
      {u"p.exe a\\\\b", {u"p.exe", u"a\\\\b"}},
      {u"p.exe \"a\"\"b\"", {u"p.exe", u"a\"b"}},
      {u"\"C:\\a\\\"b", {u"C:\\a\\", u"b"}},
      {u"", {u"C:\\Program Files\\Orvane\\plainrunctl.exe"}},
  };
  sim::Machine machine;
  for (const Case& c : cases) EXPECT_EQ(Split(c.line), c.args) << sim::Utf8(c.line);
  EXPECT_EQ(sim::OpenHandles(), 0u);
}

}  // namespace
}  // namespace test
