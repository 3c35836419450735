// string_table [N...]: times the loading of the string table on the simulated Windows for
// string files of N entries (default 10, 1,000 and 100,000), and shows whether the cost
// per entry stays flat as the file grows. Each load runs in a fresh process on a fresh
// machine, as a real run would: the real ModuleStrings (language from "LanguageID", the
// file, three load attempts, the walk over modulestrings/string[i]) and, separately, the
// plain document load of the same file, so that the walk's share shows.
//
// The exit code is non-zero when a table came out incomplete or wrong, or when the walk's
// cost per entry grows with the file by more than the square root of the growth in size
// (from the smallest file of at least 1,000 entries to the largest): linear growth keeps
// it near 1, quadratic growth makes it the size ratio itself.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim.h"
#include "strings/module_strings.h"
#include "tests/support/child_run.h"
#include "xml/xml_document.h"

namespace {

constexpr const char16_t* kProductKey = u"SOFTWARE\\Orvane\\DERVO";
constexpr const char16_t* kInstallFolder = u"C:\\Program Files\\Orvane\\";

std::u16string StringFile() { return std::u16string(kInstallFolder) + u"\\Data\\modulestrings.xml"; }
std::u16string Id(long i) { return u"IDS_" + sim::Utf16(std::to_string(i)); }
// A text as long as the real ones, different for every entry.
std::string Text(long i) {
  return "The Outlook Connector has been switched (entry " + std::to_string(i) + "). Restart Outlook.";
}

std::string MakeStringFile(long entries) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<modulestrings>\n";
  for (long i = 0; i < entries; ++i) xml += "  <string id=\"IDS_" + std::to_string(i) + "\">" + Text(i) + "</string>\n";
  return xml + "</modulestrings>\n";
}

struct Sample {
  double loadMs = 0;   // XMLDocument::Load of the file alone
  double tableMs = 0;  // the whole string table: choosing, loading and walking
  bool complete = false;
};

int g_results = -1;  // the pipe the child reports its sample through
long g_entries = 0;

double Ms(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

int MeasureInChild() {
  using Clock = std::chrono::steady_clock;
  (void)platform::CoInitialize();
  Sample sample;
  {
    XMLDocument document;
    const auto start = Clock::now();
    const bool loaded = document.Load(StringFile()) == platform::hr::Ok;
    sample.loadMs = Ms(Clock::now() - start);
    if (!loaded) sample.loadMs = -1;
  }
  const auto start = Clock::now();
  const std::u16string first = ModuleStrings::GetString(Id(0));  // the first call loads the table
  sample.tableMs = Ms(Clock::now() - start);
  const long last = g_entries - 1;
  sample.complete = first == sim::Utf16(Text(0)) && ModuleStrings::GetString(Id(last)) == sim::Utf16(Text(last)) &&
                    ModuleStrings::GetString(Id(last / 2)) == sim::Utf16(Text(last / 2)) &&
                    ModuleStrings::GetString(Id(g_entries)).empty();
  platform::CoUninitialize();
  return write(g_results, &sample, sizeof sample) == static_cast<ssize_t>(sizeof sample) ? 0 : 1;
}

// One load of a table of `entries` strings on a fresh machine, in a fresh process.
bool Measure(long entries, const std::string& file, Sample* sample) {
  sim::Machine machine;
  sim::SetString(sim::Hive::LocalMachine, kProductKey, u"Path", kInstallFolder);
  sim::SetString(sim::Hive::CurrentUser, kProductKey, u"LanguageID", u"1033");
  sim::WriteFile(StringFile(), file);
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return false;
  g_results = pipeEnds[1];
  g_entries = entries;
  const sim::RunResult run = test::RunInChild(MeasureInChild);
  close(pipeEnds[1]);
  const bool got = read(pipeEnds[0], sample, sizeof *sample) == static_cast<ssize_t>(sizeof *sample);
  close(pipeEnds[0]);
  return got && run.exited && run.exitCode == 0;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<long> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::strtol(argv[i], nullptr, 10));
  if (sizes.empty()) sizes = {10, 1000, 100000};
  int failures = 0;
  long baseEntries = 0, topEntries = 0;
  double basePerEntry = 0, topPerEntry = 0;
  std::printf("%9s %5s %11s %12s %11s %14s %14s\n", "entries", "runs", "load ms", "table ms", "walk ms",
              "table us/entry", "walk us/entry");
  for (const long entries : sizes) {
    if (entries < 1) {
      std::fprintf(stderr, "string_table: %ld is not a number of entries\n", entries);
      return 2;
    }
    const std::string file = MakeStringFile(entries);
    // Enough runs that the small files are not one scheduler hiccup, few for the large.
    const int runs = entries >= 100000 ? 3 : entries >= 10000 ? 5 : 15;
    std::vector<double> loads, tables, walks;
    for (int run = 0; run < runs; ++run) {
      Sample sample;
      if (!Measure(entries, file, &sample) || !sample.complete || sample.loadMs < 0) {
        std::fprintf(stderr, "string_table: the table of %ld entries did not load completely\n", entries);
        ++failures;
        break;
      }
      loads.push_back(sample.loadMs);
      tables.push_back(sample.tableMs);
      walks.push_back(sample.tableMs - sample.loadMs);
    }
    if (tables.empty()) continue;
    const double table = Median(tables), walk = Median(walks);
    const double walkPerEntry = walk * 1000 / static_cast<double>(entries);
    std::printf("%9ld %5d %11.3f %12.3f %11.3f %14.3f %14.3f\n", entries, runs, Median(loads), table, walk,
                table * 1000 / static_cast<double>(entries), walkPerEntry);
    // Small files are dominated by fixed costs, so growth is judged from 1,000 entries on.
    if (entries >= 1000 && (baseEntries == 0 || entries < baseEntries))
      baseEntries = entries, basePerEntry = walkPerEntry;
    if (entries >= 1000 && entries > topEntries) topEntries = entries, topPerEntry = walkPerEntry;
  }
  if (baseEntries != 0 && topEntries > baseEntries) {
    const double sizeRatio = static_cast<double>(topEntries) / static_cast<double>(baseEntries);
    const double costRatio = topPerEntry / basePerEntry;
    std::printf("walk per entry at %ld entries: %.2f times that at %ld (linear ~1, quadratic ~%.0f)\n", topEntries,
                costRatio, baseEntries, sizeRatio);
    if (costRatio > std::sqrt(sizeRatio)) {
      std::fprintf(stderr, "string_table: the walk grows faster than linearly with the number of entries\n");
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
