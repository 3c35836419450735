// AppPaths: the installation, data and log folders, worked out once per process, and
// the product's registry reads and writes and folder-token operations.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

class AppPaths {
 public:
  // The one instance, built on first use; construction reads the registry and makes the
  // product folder and the log folder on disk.
  static AppPaths& GetInstance();

  [[nodiscard]] std::u16string InstallFolder() const { return installFolder_; }
  [[nodiscard]] std::u16string DataFolder() const { return dataFolder_; }
  [[nodiscard]] std::u16string LogFolder() const { return logFolder_; }

  // Makes every missing folder along path; false at the first folder that cannot be made.
  static bool CreateFolderTree(std::u16string path);

  // String value under the product key of root: REG_SZ or REG_EXPAND_SZ text as stored,
  // or the empty string for anything missing, malformed or too long.
  static std::u16string ReadProductValue(platform::Hive root, const std::u16string& name);
  static std::u16string ReadMachineValue(const std::u16string& name);
  static std::u16string ReadUserValue(const std::u16string& name);
  static std::u16string ReadPolicyValue(const std::u16string& name);

  // The named DWORD under the user's product key; 2 when it cannot be read.
  static std::uint32_t ReadUserDword(const std::u16string& name) noexcept;
  // Writes a REG_DWORD under the user's product key, creating the key; failures are silent.
  static void WriteUserDword(const std::u16string& name, std::uint32_t value) noexcept;

  // The shell folder with this CSIDL, made if missing; empty when the shell cannot give it.
  static std::u16string GetSpecialFolder(int csidl);
  // Lower-cases text and replaces every occurrence of the first folder token it contains.
  static void ExpandFolderTokens(std::u16string& text);

  static constexpr int kCsidlAppData = 0x1A;
  static constexpr int kCsidlPersonal = 0x05;
  static constexpr int kCsidlLocalAppData = 0x1C;
  static constexpr int kCsidlProfile = 0x28;

  AppPaths(const AppPaths&) = delete;
  AppPaths& operator=(const AppPaths&) = delete;

 private:
  AppPaths();
  ~AppPaths() = default;

  std::u16string installFolder_;
  std::u16string dataFolder_;
  std::u16string logFolder_;
};

// Removes the white space (iswspace) at the end of text, then at its start.
void TrimWhiteSpace(std::u16string& text);
