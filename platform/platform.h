// The only door from the program to the operating system. Each function keeps the
// contract of the Windows call it is named after; the win32 backend calls Windows,
// the sim backend answers from a small simulated Windows used by the native tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

using WString = std::u16string;
using HResult = std::int32_t;

// One opaque type per kind of handle, so that a key cannot be closed as a snapshot or a
// module: an HKEY, a Tool Help snapshot HANDLE and an HMODULE. Each backend defines them.
struct KeyObject;
struct SnapshotObject;
struct ModuleObject;

namespace hr {
inline constexpr HResult Ok = 0;
inline constexpr HResult False = 1;
inline constexpr HResult Fail = static_cast<HResult>(0x80004005);
inline constexpr HResult Pointer = static_cast<HResult>(0x80004003);
inline constexpr HResult NoInterface = static_cast<HResult>(0x80004002);
inline constexpr HResult OutOfMemory = static_cast<HResult>(0x8007000E);
inline constexpr HResult InvalidArg = static_cast<HResult>(0x80070057);
}  // namespace hr

// ---- Registry --------------------------------------------------------------
enum class Hive { CurrentUser, LocalMachine };

inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyReadWrite = 0x2001F;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorFileNotFound = 2;
inline constexpr long kErrorAccessDenied = 5;
inline constexpr long kErrorMoreData = 234;

// RegOpenKeyExW with options 0.
[[nodiscard]] long RegOpenKey(Hive hive, const char16_t* subKey, std::uint32_t access, KeyObject** key) noexcept;
// RegQueryValueExW: data may be null to ask for type and size only.
[[nodiscard]] long RegQueryValueW(KeyObject* key, const char16_t* name, std::uint32_t* type, void* data,
                                  std::uint32_t* size) noexcept;
// RegQueryValueExA: the narrow twin, used for values that are read as narrow text.
[[nodiscard]] long RegQueryValueA(KeyObject* key, const char* name, std::uint32_t* type, void* data,
                                  std::uint32_t* size) noexcept;
// RegCreateKeyExW, non-volatile, no security attributes.
[[nodiscard]] long RegCreateKey(Hive hive, const char16_t* subKey, const char16_t* keyClass, std::uint32_t access,
                                KeyObject** key, std::uint32_t* disposition) noexcept;
// RegSetValueExW.
long RegSetValue(KeyObject* key, const char16_t* name, std::uint32_t type, const void* data,
                 std::uint32_t size) noexcept;
long RegCloseKey(KeyObject* key) noexcept;

// ---- Command line ----------------------------------------------------------
// GetCommandLineW: the whole command line of the process, program path included.
[[nodiscard]] const char16_t* GetCommandLine() noexcept;
// CommandLineToArgvW: one allocation, released with LocalFree; null on failure.
[[nodiscard]] char16_t** CommandLineToArgv(const char16_t* commandLine, int* count) noexcept;
void LocalFree(char16_t** memory) noexcept;

// ---- Processes (Tool Help) -------------------------------------------------
inline constexpr std::uint32_t kSnapAll = 15;

// The one field of PROCESSENTRY32W that the program reads.
struct ProcessEntry {
  char16_t exeFile[260];
};
// CreateToolhelp32Snapshot; null (not INVALID_HANDLE_VALUE) when no snapshot was taken.
[[nodiscard]] SnapshotObject* CreateSnapshot(std::uint32_t flags, std::uint32_t processId) noexcept;
[[nodiscard]] bool ProcessFirst(SnapshotObject* snapshot, ProcessEntry* entry) noexcept;
[[nodiscard]] bool ProcessNext(SnapshotObject* snapshot, ProcessEntry* entry) noexcept;
bool CloseHandle(SnapshotObject* snapshot) noexcept;

// ---- User interface ----------------------------------------------------------
inline constexpr std::uint32_t kMbOkInformation = 0x40;
// MessageBoxW with no owner window; returns when the user closes the box.
int MessageBox(const char16_t* text, const char16_t* caption, std::uint32_t type) noexcept;

// ---- Shell folders, files and debugger output ------------------------------------
inline constexpr std::size_t kMaxPath = 260;
// SHGetSpecialFolderPathW(no owner, buffer, csidl, create): buffer holds kMaxPath units.
[[nodiscard]] bool GetSpecialFolderPath(char16_t* buffer, int csidl, bool create) noexcept;
[[nodiscard]] bool PathFileExists(const char16_t* path) noexcept;
[[nodiscard]] bool CreateDirectory(const char16_t* path) noexcept;
void OutputDebugString(const char16_t* text) noexcept;

// ---- Dynamic loading -------------------------------------------------------
[[nodiscard]] ModuleObject* LoadLibrary(const char16_t* path) noexcept;
[[nodiscard]] void* GetProcAddress(ModuleObject* module, const char* name) noexcept;
bool FreeLibrary(ModuleObject* module) noexcept;
// The export `name` of module as the function type Fn; null when module or the export is missing.
template <typename Fn>
[[nodiscard]] Fn Lookup(ModuleObject* module, const char* name) noexcept {
  return module ? reinterpret_cast<Fn>(GetProcAddress(module, name)) : nullptr;
}
// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32): later loads by bare name come
// from the system folder only, never from the current or the program's folder.
void RestrictDllSearchToSystem() noexcept;

// ---- COM ---------------------------------------------------------------------
HResult CoInitialize() noexcept;
void CoUninitialize() noexcept;

// ---- C runtime text functions -----------------------------------------------
// _wcsicmp in the C locale.
[[nodiscard]] int Wcsicmp(const char16_t* a, const char16_t* b) noexcept;
// _wcslwr_s in the C locale: A-Z become a-z, nothing else changes.
void Wcslwr(char16_t* text, std::size_t units) noexcept;
// iswspace in the C locale.
[[nodiscard]] bool IsWSpace(char16_t c) noexcept;
// Narrow text in the thread's ANSI code page to UTF-16; throws std::bad_alloc when it cannot.
[[nodiscard]] WString AnsiToWide(const std::string& text);

}  // namespace platform
