#include "tests/support/harness.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "app/app.h"

namespace test {

void PrintTo(const LogRow& row, std::ostream* out) { *out << row.level << ' ' << row.logger << ' ' << row.message; }

sim::RunResult RunProgram() {
  return sim::RunInChild([] { return wWinMain(nullptr, nullptr, nullptr, 0); });
}

void Machine::SetUp() {
  sim::SetString(sim::Hive::LocalMachine, kProductKey, u"Path", kInstallFolder);
  sim::InstallModule(std::u16string(kInstallFolder) + u"tracelib.dll", TRACELIB_SO);
}

void Machine::InstallStringFiles() {
  for (const auto& entry : std::filesystem::directory_iterator(DATA_DIR)) {
    if (entry.path().extension() != ".xml") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    sim::WriteFile(std::u16string(kInstallFolder) + u"\\Data\\" + sim::Utf16(entry.path().filename().string()),
                   content.str());
  }
}

void Machine::SetArguments(const std::u16string& arguments) {
  sim::SetCommandLine(u"\"C:\\Program Files\\Orvane\\plainrunctl.exe\"" +
                      (arguments.empty() ? std::u16string() : u" " + arguments));
}

std::vector<LogRow> ReadLog() {
  std::ifstream in(sim::HostPath(kLogFile), std::ios::binary);
  if (!in) return {};
  std::stringstream content;
  content << in.rdbuf();
  const auto rows = ParseCsv(content.str());
  std::vector<LogRow> log;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].size() != 6) throw std::runtime_error("log row with " + std::to_string(rows[i].size()) + " fields");
    if (i == 0) {
      if (rows[i][1] != "Level") throw std::runtime_error("log without its header row");
      continue;
    }
    log.push_back({rows[i][1], rows[i][4], rows[i][5]});
  }
  return log;
}

std::vector<std::string> LogLines() {
  std::vector<std::string> lines;
  for (const LogRow& row : ReadLog()) lines.push_back(row.level.substr(0, 1) + " " + row.message);
  return lines;
}

std::vector<sim::Event> EventsOf(const std::string& kind) {
  std::vector<sim::Event> events;
  for (auto& event : sim::Events())
    if (event.kind == kind) events.push_back(event);
  return events;
}

std::optional<std::uint32_t> Flag() {
  const auto value = sim::GetValue(sim::Hive::CurrentUser, kProductKey, u"DisableOutlookConnector");
  if (!value || value->type != platform::kRegDword || value->bytes.size() != 4) return std::nullopt;
  std::uint32_t flag = 0;
  std::memcpy(&flag, value->bytes.data(), 4);
  return flag;
}

}  // namespace test
