// Fuzzes the product's registry reads: the input is a value type (4 bytes, little-endian)
// and the raw bytes stored under it, read back as the installation path and as the flag.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "paths/app_paths.h"
#include "platform/platform.h"
#include "fuzz/fuzz_common.h"
#include "platform/sim/sim.h"

namespace {

constexpr const char16_t* kProductKey = u"SOFTWARE\\Orvane\\DERVO";
constexpr const char16_t* kFlag = u"DisableOutlookConnector";
// The most a string read keeps, its terminating NUL included.
constexpr std::size_t kMaxStringBytes = 520;
constexpr std::uint32_t kUnreadableFlag = 2;

using fuzz::Broken;

// What a string read must give for a value of this type and these bytes: the text up to
// the first NUL of a well-formed REG_SZ or REG_EXPAND_SZ, and nothing for anything else.
std::u16string ExpectedText(std::uint32_t type, const std::vector<std::uint8_t>& bytes) {
  if (type != platform::kRegSz && type != platform::kRegExpandSz) return {};
  if (bytes.empty() || bytes.size() % 2 != 0 || bytes.size() > kMaxStringBytes) return {};
  std::u16string units(bytes.size() / 2, u'\0');
  std::memcpy(units.data(), bytes.data(), bytes.size());
  if (units.back() != u'\0') return {};
  return units.substr(0, units.find(u'\0'));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::StartMachine();
  if (AppPaths::ReadUserDword(kFlag) != kUnreadableFlag) Broken("ReadUserDword gives 2 when the key is missing");
  sim::SetDword(sim::Hive::CurrentUser, kProductKey, u"Other", 1);
  if (AppPaths::ReadUserDword(kFlag) != kUnreadableFlag) Broken("ReadUserDword gives 2 when the value is missing");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < sizeof(std::uint32_t)) return 0;
  std::uint32_t type = 0;
  std::memcpy(&type, data, sizeof type);
  const std::vector<std::uint8_t> bytes(data + sizeof type, data + size);
  const std::uint64_t handlesBefore = sim::OpenHandles();

  sim::SetValue(sim::Hive::LocalMachine, kProductKey, u"Path", type, bytes);
  const std::u16string path = AppPaths::ReadMachineValue(u"Path");
  if (!path.empty() && type != platform::kRegSz && type != platform::kRegExpandSz)
    Broken("ReadMachineValue reads only REG_SZ and REG_EXPAND_SZ");
  if (!path.empty() && (bytes.size() % 2 != 0 || bytes.size() > kMaxStringBytes))
    Broken("ReadMachineValue refuses an odd or over-long value");
  if (path != ExpectedText(type, bytes)) Broken("ReadMachineValue gives the stored text up to its first NUL");

  sim::SetValue(sim::Hive::CurrentUser, kProductKey, kFlag, type, bytes);
  const std::uint32_t flag = AppPaths::ReadUserDword(kFlag);
  if (bytes.empty() && flag != kUnreadableFlag) Broken("ReadUserDword gives 2 for a value without bytes");
  if (type == platform::kRegDword && bytes.size() == sizeof flag) {
    std::uint32_t stored = 0;
    std::memcpy(&stored, bytes.data(), sizeof stored);
    if (flag != stored) Broken("ReadUserDword gives a stored REG_DWORD as it is");
  }

  if (sim::OpenHandles() != handlesBefore) Broken("registry reads close every key they open");
  return 0;
}
