// The real backend: each function is a thin call of the Windows API it is named after.
// The functions of user32.dll and shell32.dll are looked up on their first call instead
// of being imported, so that starting the program loads only what COM and the registry
// need: user32 is loaded for the message box alone, shell32 when a folder or the
// arguments are first asked for.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

// The backend's functions carry the plain names that windows.h turns into macros.
#undef RegOpenKey
#undef RegCreateKey
#undef RegSetValue
#undef GetCommandLine
#undef MessageBox
#undef CreateDirectory
#undef OutputDebugString
#undef LoadLibrary

#include <cstring>
#include <cwctype>
#include <new>

#include "platform/platform.h"
#include "platform/win32/system_library.h"

namespace platform {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));
const wchar_t* Wide(const char16_t* text) noexcept { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* Wide(char16_t* text) noexcept { return reinterpret_cast<wchar_t*>(text); }

// A function of a system DLL, looked up when first needed. Null when the DLL or the
// function is missing, which callers treat as the call failing.
template <typename Fn>
Fn SystemFunction(const wchar_t* library, const char* name) noexcept {
  return Lookup<Fn>(win32::LoadSystemLibrary(library), name);
}

HKEY Root(Hive hive) noexcept { return hive == Hive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

// The platform's handle types are the Windows handles under another name.
HKEY Native(KeyObject* key) noexcept { return reinterpret_cast<HKEY>(key); }
HANDLE Native(SnapshotObject* snapshot) noexcept { return reinterpret_cast<HANDLE>(snapshot); }
HMODULE Native(ModuleObject* module) noexcept { return reinterpret_cast<HMODULE>(module); }

}  // namespace

long RegOpenKey(Hive hive, const char16_t* subKey, std::uint32_t access, KeyObject** key) noexcept {
  HKEY opened = nullptr;
  const LSTATUS status = ::RegOpenKeyExW(Root(hive), Wide(subKey), 0, access, &opened);
  *key = status == ERROR_SUCCESS ? reinterpret_cast<KeyObject*>(opened) : nullptr;
  return status;
}

long RegQueryValueW(KeyObject* key, const char16_t* name, std::uint32_t* type, void* data,
                    std::uint32_t* size) noexcept {
  DWORD t = 0, s = *size;
  const LSTATUS status = ::RegQueryValueExW(Native(key), Wide(name), nullptr, &t, static_cast<BYTE*>(data), &s);
  if (type) *type = t;
  *size = s;
  return status;
}

long RegQueryValueA(KeyObject* key, const char* name, std::uint32_t* type, void* data, std::uint32_t* size) noexcept {
  DWORD t = 0, s = *size;
  const LSTATUS status = ::RegQueryValueExA(Native(key), name, nullptr, &t, static_cast<BYTE*>(data), &s);
  if (type) *type = t;
  *size = s;
  return status;
}

long RegCreateKey(Hive hive, const char16_t* subKey, const char16_t* keyClass, std::uint32_t access, KeyObject** key,
                  std::uint32_t* disposition) noexcept {
  HKEY created = nullptr;
  DWORD d = 0;
  const LSTATUS status = ::RegCreateKeyExW(Root(hive), Wide(subKey), 0, const_cast<wchar_t*>(Wide(keyClass)),
                                           REG_OPTION_NON_VOLATILE, access, nullptr, &created, &d);
  *key = status == ERROR_SUCCESS ? reinterpret_cast<KeyObject*>(created) : nullptr;
  if (disposition) *disposition = d;
  return status;
}

long RegSetValue(KeyObject* key, const char16_t* name, std::uint32_t type, const void* data,
                 std::uint32_t size) noexcept {
  return ::RegSetValueExW(Native(key), Wide(name), 0, type, static_cast<const BYTE*>(data), size);
}

long RegCloseKey(KeyObject* key) noexcept { return ::RegCloseKey(Native(key)); }

const char16_t* GetCommandLine() noexcept { return reinterpret_cast<const char16_t*>(::GetCommandLineW()); }

char16_t** CommandLineToArgv(const char16_t* commandLine, int* count) noexcept {
  static const auto split = SystemFunction<decltype(&::CommandLineToArgvW)>(L"shell32.dll", "CommandLineToArgvW");
  *count = 0;
  return split ? reinterpret_cast<char16_t**>(split(Wide(commandLine), count)) : nullptr;
}

void LocalFree(char16_t** memory) noexcept { ::LocalFree(memory); }

SnapshotObject* CreateSnapshot(std::uint32_t flags, std::uint32_t processId) noexcept {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(flags, processId);
  return snapshot == INVALID_HANDLE_VALUE ? nullptr : reinterpret_cast<SnapshotObject*>(snapshot);
}

namespace {
bool CopyEntry(BOOL ok, const PROCESSENTRY32W& raw, ProcessEntry* entry) noexcept {
  if (!ok) return false;
  static_assert(sizeof raw.szExeFile == sizeof entry->exeFile);
  memcpy(entry->exeFile, raw.szExeFile, sizeof entry->exeFile);
  entry->exeFile[kMaxPath - 1] = u'\0';
  return true;
}
}  // namespace

bool ProcessFirst(SnapshotObject* snapshot, ProcessEntry* entry) noexcept {
  PROCESSENTRY32W raw{};
  raw.dwSize = sizeof raw;
  return CopyEntry(::Process32FirstW(Native(snapshot), &raw), raw, entry);
}

bool ProcessNext(SnapshotObject* snapshot, ProcessEntry* entry) noexcept {
  PROCESSENTRY32W raw{};
  raw.dwSize = sizeof raw;
  return CopyEntry(::Process32NextW(Native(snapshot), &raw), raw, entry);
}

bool CloseHandle(SnapshotObject* snapshot) noexcept { return ::CloseHandle(Native(snapshot)) != FALSE; }

int MessageBox(const char16_t* text, const char16_t* caption, std::uint32_t type) noexcept {
  // Only a run that shows its box loads user32 for it.
  static const auto messageBox = SystemFunction<decltype(&::MessageBoxW)>(L"user32.dll", "MessageBoxW");
  return messageBox ? messageBox(nullptr, Wide(text), Wide(caption), type) : 0;
}

bool GetSpecialFolderPath(char16_t* buffer, int csidl, bool create) noexcept {
  static const auto folderPath =
      SystemFunction<decltype(&::SHGetSpecialFolderPathW)>(L"shell32.dll", "SHGetSpecialFolderPathW");
  return folderPath && folderPath(nullptr, Wide(buffer), csidl, create) != FALSE;
}

bool PathFileExists(const char16_t* path) noexcept {
  // What the shell's PathFileExistsW answers, without loading another DLL for it. No
  // "insert a disk" box for an empty drive; the error mode is set for this thread only,
  // which leaves the process's alone and, under Wine, needs no call to the server.
  DWORD oldMode = 0;
  const BOOL quiet = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS, &oldMode);
  const bool exists = ::GetFileAttributesW(Wide(path)) != INVALID_FILE_ATTRIBUTES;
  if (quiet) ::SetThreadErrorMode(oldMode, nullptr);
  return exists;
}

bool CreateDirectory(const char16_t* path) noexcept { return ::CreateDirectoryW(Wide(path), nullptr) != FALSE; }

void OutputDebugString(const char16_t* text) noexcept { ::OutputDebugStringW(Wide(text)); }

ModuleObject* LoadLibrary(const char16_t* path) noexcept {
  // A bare name comes from the system folder only, on every Windows version.
  const char16_t* c = path;
  while (*c && *c != u'\\' && *c != u'/' && *c != u':') ++c;
  return *c ? reinterpret_cast<ModuleObject*>(::LoadLibraryW(Wide(path))) : win32::LoadSystemLibrary(Wide(path));
}

void* GetProcAddress(ModuleObject* module, const char* name) noexcept {
  return reinterpret_cast<void*>(::GetProcAddress(Native(module), name));
}

bool FreeLibrary(ModuleObject* module) noexcept { return ::FreeLibrary(Native(module)) != FALSE; }

void RestrictDllSearchToSystem() noexcept {
  // Looked up, not imported, so that the program starts on a Windows 7 without the loader
  // update that brought it; there the bare names above still come from the system folder.
  using SetDirectories = BOOL(WINAPI*)(DWORD);
  const auto kernel32 = reinterpret_cast<ModuleObject*>(::GetModuleHandleW(L"kernel32.dll"));
  const auto set = Lookup<SetDirectories>(kernel32, "SetDefaultDllDirectories");
  if (set) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HResult CoInitialize() noexcept { return ::CoInitialize(nullptr); }

void CoUninitialize() noexcept { ::CoUninitialize(); }

int Wcsicmp(const char16_t* a, const char16_t* b) noexcept { return ::_wcsicmp(Wide(a), Wide(b)); }

void Wcslwr(char16_t* text, std::size_t units) noexcept { (void)::_wcslwr_s(Wide(text), units); }

bool IsWSpace(char16_t c) noexcept { return ::iswspace(c) != 0; }

WString AnsiToWide(const std::string& text) {
  if (text.empty()) return {};
  const int length = ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) throw std::bad_alloc();
  WString wide(static_cast<std::size_t>(length), u'\0');
  ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), Wide(wide.data()), length);
  return wide;
}

}  // namespace platform
