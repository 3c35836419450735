// The platform functions of the simulated backend, each answered from the machine the way
// Windows answers it for the program's uses, and each one that the fault plan can fail.
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"

// What the simulated handles hold: an open key, a process snapshot and a loaded module.
struct platform::KeyObject {
  Hive hive;
  std::u16string path;
};

struct platform::SnapshotObject {
  std::vector<std::u16string> processes;
  std::size_t next = 0;
};

struct platform::ModuleObject {
  void* object;
};

namespace platform {
namespace {

namespace fs = std::filesystem;
using sim::HandleClosed;
using sim::HandleOpened;

// Copies a stored value out the way RegQueryValueEx does; text types read through the narrow
// call arrive in the ANSI code page, here Latin-1: one byte per UTF-16 unit, '?' for a unit
// beyond it, an odd last byte dropped.
long QueryValue(KeyObject* key, const std::u16string& name, bool narrow, std::uint32_t* type, void* data,
                std::uint32_t* size) {
  std::optional<sim::Value> value = sim::GetValue(key->hive, key->path, name);
  if (!value) return kErrorFileNotFound;
  if (type) *type = value->type;
  std::vector<std::uint8_t>& bytes = value->bytes;
  if (narrow && (value->type == kRegSz || value->type == kRegExpandSz || value->type == kRegMultiSz)) {
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      const char16_t unit = static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
      bytes[i / 2] = unit <= 0xFF ? static_cast<std::uint8_t>(unit) : '?';
    }
    bytes.resize(bytes.size() / 2);
  }
  const auto needed = static_cast<std::uint32_t>(bytes.size());
  const bool fits = !data || *size >= needed;
  if (data && fits && needed) std::memcpy(data, bytes.data(), needed);
  *size = needed;
  return fits ? kErrorSuccess : kErrorMoreData;
}

// Which file a LoadLibraryW argument names, by the loader's search rules.
// A full path (or one from a drive's or the root's current folder) names its file; any other
// path, folders in it or not, is looked for below each folder of the search, as LoadLibrary does.
std::u16string ResolveModule(const std::u16string& path) {
  if ((path.size() >= 2 && path[1] == u':') || (!path.empty() && (path[0] == u'\\' || path[0] == u'/'))) return path;
  const sim::State& machine = sim::Current();
  std::vector<std::u16string> search{sim::kSystemFolder};
  if (!machine.restricted)
    search = {u"C:\\Program Files\\Orvane" /* the program's own */, sim::kSystemFolder, sim::kCurrentFolder,
              machine.searchPath};
  for (const std::u16string& folder : search) {
    const std::u16string candidate = folder + u"\\" + path;
    if (!folder.empty() && sim::Exists(candidate)) return candidate;
  }
  return {};
}

}  // namespace

long RegOpenKey(Hive hive, const char16_t* subKey, std::uint32_t, KeyObject** key) noexcept {
  *key = nullptr;
  return sim::Call(__func__, kErrorAccessDenied, [&] {
    const std::string folder = sim::KeyFolder(hive, subKey);
    if (!fs::is_directory(folder)) return kErrorFileNotFound;
    if (fs::exists(folder + "/denied")) return kErrorAccessDenied;
    *key = new KeyObject{hive, subKey};
    HandleOpened();
    return kErrorSuccess;
  });
}

long RegQueryValueW(KeyObject* key, const char16_t* name, std::uint32_t* type, void* data,
                    std::uint32_t* size) noexcept {
  return sim::Call(__func__, kErrorAccessDenied,
                   [&] { return QueryValue(key, name ? name : u"", false, type, data, size); });
}

long RegQueryValueA(KeyObject* key, const char* name, std::uint32_t* type, void* data, std::uint32_t* size) noexcept {
  return sim::Call(__func__, kErrorAccessDenied,
                   [&] { return QueryValue(key, sim::Utf16(name ? name : ""), true, type, data, size); });
}

long RegCreateKey(Hive hive, const char16_t* subKey, const char16_t* keyClass, std::uint32_t, KeyObject** key,
                  std::uint32_t* disposition) noexcept {
  *key = nullptr;
  return sim::Call(__func__, kErrorAccessDenied, [&] {
    const std::string folder = sim::KeyFolder(hive, subKey);
    const bool existing = fs::is_directory(folder);
    if (fs::exists(folder + "/denied")) return kErrorAccessDenied;
    if (disposition) *disposition = existing ? 2 : 1;  // REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY
    if (!existing) sim::SetKeyClass(hive, subKey, keyClass ? keyClass : u"");
    *key = new KeyObject{hive, subKey};
    HandleOpened();
    return kErrorSuccess;
  });
}

long RegSetValue(KeyObject* key, const char16_t* name, std::uint32_t type, const void* data,
                 std::uint32_t size) noexcept {
  return sim::Call(__func__, kErrorAccessDenied, [&] {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    sim::SetValue(key->hive, key->path, name ? name : u"", type, std::vector<std::uint8_t>(bytes, bytes + size));
    return kErrorSuccess;
  });
}

long RegCloseKey(KeyObject* key) noexcept {
  if (!key) return 6;  // ERROR_INVALID_HANDLE
  delete key;
  HandleClosed();
  return kErrorSuccess;
}

const char16_t* GetCommandLine() noexcept { return sim::Current().commandLine.c_str(); }

char16_t** CommandLineToArgv(const char16_t* commandLine, int* count) noexcept {
  *count = 0;
  return sim::Call(__func__, static_cast<char16_t**>(nullptr), [&]() -> char16_t** {
    if (!commandLine) return nullptr;
    std::vector<std::u16string> args;
    const std::u16string line = commandLine;
    // The program name: up to the closing quote, or up to the first blank; no escapes.
    const bool quotedName = !line.empty() && line[0] == u'"';
    std::size_t i = quotedName ? 1 : 0;
    while (i < line.size() && (quotedName ? line[i] != u'"' : line[i] != u' ' && line[i] != u'\t')) ++i;
    args.push_back(line.substr(quotedName ? 1 : 0, i - (quotedName ? 1 : 0)));
    if (quotedName && i < line.size()) ++i;
    // The arguments: 2n backslashes and a quote give n backslashes and toggle quoting,
    // 2n+1 give n and a literal quote.
    while (true) {
      while (i < line.size() && (line[i] == u' ' || line[i] == u'\t')) ++i;
      if (i >= line.size()) break;
      std::u16string arg;
      bool quoted = false;
      while (i < line.size() && (quoted || (line[i] != u' ' && line[i] != u'\t'))) {
        if (line[i] == u'\\') {
          std::size_t slashes = 0;
          while (i < line.size() && line[i] == u'\\') ++slashes, ++i;
          if (i < line.size() && line[i] == u'"') {
            arg.append(slashes / 2, u'\\');
            if (slashes % 2) arg += u'"', ++i;
          } else {
            arg.append(slashes, u'\\');
          }
        } else if (line[i] == u'"') {
          quoted = !quoted;
          ++i;
        } else {
          arg += line[i++];
        }
      }
      args.push_back(arg);
    }
    // One block, as the system allocates it: the pointer array, then the strings.
    std::size_t bytes = (args.size() + 1) * sizeof(char16_t*);
    for (const auto& arg : args) bytes += (arg.size() + 1) * sizeof(char16_t);
    auto* block = static_cast<char16_t**>(std::malloc(bytes));
    if (!block) return nullptr;
    auto* text = reinterpret_cast<char16_t*>(block + args.size() + 1);
    for (std::size_t k = 0; k < args.size(); ++k) {
      block[k] = text;
      std::memcpy(text, args[k].c_str(), (args[k].size() + 1) * sizeof(char16_t));
      text += args[k].size() + 1;
    }
    block[args.size()] = nullptr;
    *count = static_cast<int>(args.size());
    HandleOpened();
    return block;
  });
}

void LocalFree(char16_t** memory) noexcept {
  if (!memory) return;
  std::free(memory);
  HandleClosed();
}

SnapshotObject* CreateSnapshot(std::uint32_t, std::uint32_t) noexcept {
  return sim::Call(__func__, static_cast<SnapshotObject*>(nullptr), [] {
    auto* snapshot = new SnapshotObject{sim::Current().processes};
    HandleOpened();
    return snapshot;
  });
}

namespace {
// One step of the walk; `call` names the platform function for faults aimed at it.
bool NextProcess(const char* call, SnapshotObject* snapshot, ProcessEntry* entry, bool first) noexcept {
  return sim::Call(call, false, [&] {
    if (!snapshot) return false;
    if (first) snapshot->next = 0;
    if (snapshot->next >= snapshot->processes.size()) return false;
    const std::u16string& name = snapshot->processes[snapshot->next++];
    const std::size_t units = std::min(name.size(), kMaxPath - 1);
    std::memcpy(entry->exeFile, name.data(), units * sizeof(char16_t));
    entry->exeFile[units] = u'\0';
    return true;
  });
}
}  // namespace

bool ProcessFirst(SnapshotObject* snapshot, ProcessEntry* entry) noexcept {
  return NextProcess(__func__, snapshot, entry, true);
}
bool ProcessNext(SnapshotObject* snapshot, ProcessEntry* entry) noexcept {
  return NextProcess(__func__, snapshot, entry, false);
}

bool CloseHandle(SnapshotObject* snapshot) noexcept {
  if (!snapshot) return false;
  delete snapshot;
  HandleClosed();
  return true;
}

int MessageBox(const char16_t* text, const char16_t* caption, std::uint32_t type) noexcept {
  return sim::Call(__func__, 0, [&] {
    sim::AppendEvent("msgbox", {caption, text, sim::Utf16(std::to_string(type))});
    return 1;  // IDOK
  });
}

bool GetSpecialFolderPath(char16_t* buffer, int csidl, bool create) noexcept {
  return sim::Call(__func__, false, [&] {
    auto it = sim::Current().folders.find(csidl);
    if (it == sim::Current().folders.end() || it->second.empty() || it->second.size() >= kMaxPath) return false;
    if (create) fs::create_directories(sim::HostPath(it->second));
    std::memcpy(buffer, it->second.c_str(), (it->second.size() + 1) * sizeof(char16_t));
    return true;
  });
}

bool PathFileExists(const char16_t* path) noexcept {
  return sim::Call(__func__, false, [&] { return path && *path && sim::Exists(path); });
}

bool CreateDirectory(const char16_t* path) noexcept {
  return sim::Call(__func__, false, [&] { return path && ::mkdir(sim::HostPath(path).c_str(), 0755) == 0; });
}

void OutputDebugString(const char16_t* text) noexcept {
  sim::Call(nullptr, false, [&] { return sim::AppendEvent("debug", {text ? text : u""}), true; });
}

ModuleObject* LoadLibrary(const char16_t* path) noexcept {
  return sim::Call(__func__, static_cast<ModuleObject*>(nullptr), [&]() -> ModuleObject* {
    const std::u16string file = ResolveModule(path ? path : u"");
    void* object = file.empty() ? nullptr : dlopen(sim::HostPath(file).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!object) return nullptr;
    sim::AppendEvent("load", {file});
    HandleOpened();
    return new ModuleObject{object};
  });
}

void* GetProcAddress(ModuleObject* module, const char* name) noexcept {
  return sim::Call(__func__, static_cast<void*>(nullptr),
                   [&] { return module ? dlsym(module->object, name) : nullptr; });
}

bool FreeLibrary(ModuleObject* module) noexcept {
  const ::sim::Inside inside;
  if (!module) return false;
  dlclose(module->object);
  delete module;
  HandleClosed();
  return true;
}

// Fails as on a Windows without the call, where the search stays as it was.
void RestrictDllSearchToSystem() noexcept {
  sim::Call(__func__, false, [] { return sim::Current().restricted = true; });
}

HResult CoInitialize() noexcept {
  return sim::Call(__func__, hr::Fail, [] {
    ++sim::Current().comDepth;
    return hr::Ok;
  });
}

void CoUninitialize() noexcept {
  if (sim::Current().comDepth > 0) --sim::Current().comDepth;
}

int Wcsicmp(const char16_t* a, const char16_t* b) noexcept {
  for (;; ++a, ++b) {
    const char16_t x = sim::LowerAscii(*a), y = sim::LowerAscii(*b);
    if (x != y || !x) return static_cast<int>(x) - static_cast<int>(y);
  }
}

void Wcslwr(char16_t* text, std::size_t units) noexcept {
  // A text without its NUL within the given size is an invalid parameter, whose default
  // handler ends the process.
  if (std::find(text, text + units, u'\0') == text + units) std::abort();
  for (std::size_t i = 0; text[i]; ++i) text[i] = sim::LowerAscii(text[i]);
}

bool IsWSpace(char16_t c) noexcept {
  // The Unicode separators Windows classes as spaces, besides the ASCII ones.
  return c == u' ' || (c >= u'\t' && c <= u'\r') || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

WString AnsiToWide(const std::string& text) {
  WString wide;
  for (const char c : text) wide += static_cast<unsigned char>(c);
  return wide;
}

}  // namespace platform
