// The simulated backend: a small Windows, kept in a host folder, that answers every
// platform call the way Windows does for the program's uses, and can fail any call.
#include "platform/sim/sim.h"

#include <dirent.h>
#include <fcntl.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <sstream>
#include <stdexcept>

#include "platform/sim/sim_internal.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

std::u16string Lower(std::u16string text) {
  for (char16_t& c : text)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return text;
}

struct KeyData {
  std::u16string name;  // as first written
  std::u16string keyClass;
  bool denied = false;
  std::map<std::u16string, std::pair<std::u16string, Value>> values;  // lower name -> (name, value)
};

struct State {
  std::string root;
  std::map<std::pair<int, std::u16string>, KeyData> registry;  // (hive, lower key path)
  std::vector<std::u16string> processes{u"System", u"explorer.exe"};
  std::u16string commandLine = u"\"C:\\Program Files\\Orvane\\plainrunctl.exe\"";
  std::u16string programFolder = u"C:\\Program Files\\Orvane";
  std::map<int, std::u16string> folders{{0x1A, u"C:\\Users\\tester\\AppData\\Roaming"},
                                        {0x05, u"C:\\Users\\tester\\Documents"},
                                        {0x1C, u"C:\\Users\\tester\\AppData\\Local"},
                                        {0x28, u"C:\\Users\\tester"}};
  std::uint64_t calls = 0;
  std::uint64_t failAt = 0;
  bool failPersistent = false;
  std::map<std::string, int> namedFailures;
  std::string firstFailed;
  std::uint64_t handles = 0;
  int comDepth = 0;
  bool restricted = false;
};

// The current machine's state.
State& Current() {
  static State state;
  return state;
}

// ---- encoding helpers for the files of the machine ----
std::string Hex(const void* data, std::size_t size) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < size; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out.empty() ? "-" : out;
}
std::vector<std::uint8_t> Unhex(const std::string& text) {
  std::vector<std::uint8_t> out;
  if (text == "-") return out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  return out;
}
std::string HexText(const std::u16string& text) { return Hex(text.data(), text.size() * 2); }
std::u16string UnhexText(const std::string& text) {
  const std::vector<std::uint8_t> bytes = Unhex(text);
  std::u16string out(bytes.size() / 2, u'\0');
  if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

std::string RegistryFile() { return Current().root + "/registry"; }
std::string EventsFile() { return Current().root + "/events"; }

// Replaces the registry file whole, so that a failure part-way leaves the old one.
void SaveRegistry() {
  std::ostringstream out;
  out.exceptions(std::ios::badbit | std::ios::failbit);  // a stream swallows running out of memory
  for (const auto& [id, key] : Current().registry) {
    out << "K " << id.first << ' ' << HexText(key.name) << ' ' << HexText(key.keyClass) << ' ' << key.denied << '\n';
    for (const auto& [lower, entry] : key.values)
      out << "V " << HexText(entry.first) << ' ' << entry.second.type << ' '
          << Hex(entry.second.bytes.data(), entry.second.bytes.size()) << '\n';
  }
  const std::string content = out.str();
  const std::string temporary = RegistryFile() + ".new";
  const int file = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (file < 0) throw std::runtime_error("registry not saved");
  const ssize_t written = ::write(file, content.data(), content.size());
  ::close(file);
  if (written != static_cast<ssize_t>(content.size())) throw std::runtime_error("registry not saved");
  fs::rename(temporary, RegistryFile());
}

void LoadRegistry() {
  Current().registry.clear();
  std::ifstream in(RegistryFile());
  std::string tag;
  KeyData* current = nullptr;
  while (in >> tag) {
    if (tag == "K") {
      int hive = 0;
      std::string name, keyClass;
      bool denied = false;
      in >> hive >> name >> keyClass >> denied;
      KeyData& key = Current().registry[{hive, Lower(UnhexText(name))}];
      key.name = UnhexText(name);
      key.keyClass = UnhexText(keyClass);
      key.denied = denied;
      current = &key;
    } else if (tag == "V" && current) {
      std::string name, bytes;
      std::uint32_t type = 0;
      in >> name >> type >> bytes;
      const std::u16string valueName = UnhexText(name);
      current->values[Lower(valueName)] = {valueName, Value{type, Unhex(bytes)}};
    }
  }
}

// Writes the whole line or nothing: a box or a debug line that runs out of memory never shows.
void AppendEvent(const std::string& kind, std::initializer_list<std::u16string> fields) {
  std::string line = kind;
  for (const auto& field : fields) line += ' ' + HexText(field);
  line += '\n';
  std::ofstream(EventsFile(), std::ios::app) << line;
}

KeyData* FindKey(Hive hive, const std::u16string& path) {
  auto it = Current().registry.find({static_cast<int>(hive), Lower(path)});
  return it == Current().registry.end() ? nullptr : &it->second;
}

KeyData& MakeKey(Hive hive, const std::u16string& path) {
  KeyData& key = Current().registry[{static_cast<int>(hive), Lower(path)}];
  if (key.name.empty()) key.name = path;
  return key;
}

}  // namespace

// ---- internal hooks shared with the DOM stand-in ----
bool ShouldFail(const char* call) {
  State& s = Current();
  ++s.calls;
  bool fail = s.failAt != 0 && (s.calls == s.failAt || (s.failPersistent && s.calls > s.failAt));
  if (auto it = s.namedFailures.find(call); it != s.namedFailures.end() && it->second > 0) {
    --it->second;
    fail = true;
  }
  if (fail && s.firstFailed.empty()) s.firstFailed = call;
  return fail;
}
void HandleOpened() { ++Current().handles; }
void HandleClosed() { --Current().handles; }
bool ComInitialized() { return Current().comDepth > 0; }

// ---- Machine ----
Machine::Machine() {
  // In memory where the host has it: a whole run makes and removes dozens of files.
  char pattern[] = "/dev/shm/plainrun-sim-XXXXXX";
  char fallback[] = "/tmp/plainrun-sim-XXXXXX";
  const char* made = mkdtemp(pattern);
  if (!made) made = mkdtemp(fallback);
  if (!made) throw std::runtime_error("cannot make a temporary folder");
  root_ = made;
  State& s = Current();
  s = State{};
  s.root = root_;
  fs::create_directories(root_ + "/fs/C:/cwd");
  fs::create_directories(root_ + "/fs/C:/Windows/System32");
  SaveRegistry();
}

Machine::~Machine() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

// ---- Registry (test side) ----
void SetValue(Hive hive, const std::u16string& key, const std::u16string& name, std::uint32_t type,
              std::vector<std::uint8_t> bytes) {
  // Everything that can run out of memory happens before the value changes.
  std::u16string lower = Lower(name);
  std::pair<std::u16string, Value> entry{name, Value{type, std::move(bytes)}};
  MakeKey(hive, key).values.insert_or_assign(std::move(lower), std::move(entry));
  SaveRegistry();
}

void SetString(Hive hive, const std::u16string& key, const std::u16string& name, const std::u16string& text,
               std::uint32_t type) {
  std::vector<std::uint8_t> bytes((text.size() + 1) * 2, 0);
  std::memcpy(bytes.data(), text.data(), text.size() * 2);
  SetValue(hive, key, name, type, std::move(bytes));
}

void SetDword(Hive hive, const std::u16string& key, const std::u16string& name, std::uint32_t value) {
  std::vector<std::uint8_t> bytes(4);
  std::memcpy(bytes.data(), &value, 4);
  SetValue(hive, key, name, platform::kRegDword, std::move(bytes));
}

void SetNarrow(Hive hive, const std::u16string& key, const std::u16string& name, const std::string& bytes,
               std::uint32_t type) {
  SetValue(hive, key, name, type, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

void DeleteValue(Hive hive, const std::u16string& key, const std::u16string& name) {
  if (KeyData* k = FindKey(hive, key)) k->values.erase(Lower(name));
  SaveRegistry();
}

void DenyKey(Hive hive, const std::u16string& key) {
  MakeKey(hive, key).denied = true;
  SaveRegistry();
}

std::optional<Value> GetValue(Hive hive, const std::u16string& key, const std::u16string& name) {
  const KeyData* k = FindKey(hive, key);
  if (!k) return std::nullopt;
  auto it = k->values.find(Lower(name));
  if (it == k->values.end()) return std::nullopt;
  return it->second.second;
}

std::optional<std::u16string> KeyClass(Hive hive, const std::u16string& key) {
  const KeyData* k = FindKey(hive, key);
  return k ? std::optional(k->keyClass) : std::nullopt;
}

void SetProcesses(std::vector<std::u16string> exeNames) {
  exeNames.insert(exeNames.begin(), {u"System", u"explorer.exe"});  // every machine runs these
  Current().processes = std::move(exeNames);
}
void SetCommandLine(const std::u16string& commandLine) { Current().commandLine = commandLine; }
void SetSpecialFolder(int csidl, const std::u16string& path) { Current().folders[csidl] = path; }
void SetProgramFolder(const std::u16string& path) { Current().programFolder = path; }

// ---- Files ----
namespace {

// Windows path rules: either separator, "." and "..", trailing dots and blanks dropped,
// drive-relative and relative paths resolved against the current folder.
std::vector<std::u16string> Components(const std::u16string& windowsPath) {
  std::u16string path = windowsPath;
  std::replace(path.begin(), path.end(), u'/', u'\\');
  std::u16string full;
  if (path.size() >= 2 && path[1] == u':') {
    full = path.size() >= 3 && path[2] == u'\\' ? path : std::u16string(kCurrentFolder) + u"\\" + path.substr(2);
    full[0] = static_cast<char16_t>(full[0] >= u'a' && full[0] <= u'z' ? full[0] - 32 : full[0]);
  } else if (path.rfind(u"\\\\", 0) == 0) {
    full = u"UNC" + path.substr(1);
  } else if (!path.empty() && path[0] == u'\\') {
    full = u"C:" + path;
  } else {
    full = std::u16string(kCurrentFolder) + u"\\" + path;
  }
  std::vector<std::u16string> parts;
  std::size_t start = 0;
  while (start <= full.size()) {
    std::size_t end = full.find(u'\\', start);
    if (end == std::u16string::npos) end = full.size();
    std::u16string part = full.substr(start, end - start);
    while (!part.empty() && (part.back() == u'.' || part.back() == u' ') && part != u"." && part != u"..")
      part.pop_back();
    if (part == u"..") {
      if (parts.size() > 1) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  return parts;
}

}  // namespace

std::string HostPath(const std::u16string& windowsPath) {
  std::string host = Current().root + "/fs";
  for (const std::u16string& part : Components(windowsPath)) {
    std::string name = Utf8(part);
    if (!fs::exists(host + "/" + name)) {
      // Windows finds an existing entry whatever the case of the name.
      if (DIR* dir = opendir(host.c_str())) {
        while (dirent* entry = readdir(dir)) {
          if (Lower(Utf16(entry->d_name)) == Lower(part)) {
            name = entry->d_name;
            break;
          }
        }
        closedir(dir);
      }
    }
    host += "/" + name;
  }
  return host;
}

void WriteFile(const std::u16string& windowsPath, const std::string& content) {
  const std::string host = HostPath(windowsPath);
  fs::create_directories(fs::path(host).parent_path());
  std::ofstream(host, std::ios::binary | std::ios::trunc) << content;
}

void InstallModule(const std::u16string& windowsPath, const std::string& hostObject) {
  const std::string host = HostPath(windowsPath);
  fs::create_directories(fs::path(host).parent_path());
  std::error_code ignored;
  fs::remove(host, ignored);
  fs::create_symlink(fs::absolute(hostObject), host);
}

bool Exists(const std::u16string& windowsPath) { return fs::exists(HostPath(windowsPath)); }

// ---- Faults and events ----
void FailCall(std::uint64_t n, bool persistent) {
  Current().failAt = n;
  Current().failPersistent = persistent;
}
void FailNamed(const std::string& call, int times) { Current().namedFailures[call] = times; }
std::uint64_t CallCount() { return Current().calls; }
std::uint64_t OpenHandles() { return Current().handles; }

std::vector<Event> Events() {
  std::vector<Event> events;
  std::ifstream in(EventsFile());
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Event event;
    fields >> event.kind;
    std::string field;
    while (fields >> field) event.fields.push_back(UnhexText(field));
    events.push_back(std::move(event));
  }
  return events;
}

RunResult RunInChild(int (*body)()) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    if (chdir((Current().root + "/fs").c_str()) != 0) _exit(120);
    // Registered first, so it runs last: after every shared object of the run is gone.
    std::atexit([] {
      std::ofstream out(Current().root + "/exit");
      out << Current().calls << ' ' << Current().handles << ' ' << Current().comDepth << ' '
          << (Current().firstFailed.empty() ? "-" : Current().firstFailed) << '\n';
    });
    // As in a real process, an exception that nothing catches ends it (not the test around it).
    std::exit([body]() noexcept { return body(); }());
  }
  int status = 0;
  waitpid(child, &status, 0);
  RunResult result;
  result.exited = WIFEXITED(status);
  result.exitCode = result.exited ? WEXITSTATUS(status) : -WTERMSIG(status);
  std::ifstream in(Current().root + "/exit");
  int comDepth = -1;
  if (in >> result.calls >> result.handlesLeft >> comDepth >> result.firstFailed) result.comBalanced = comDepth == 0;
  std::error_code ignored;
  fs::remove(Current().root + "/exit", ignored);
  LoadRegistry();
  return result;
}

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    else if (c >= 0xD800 && c < 0xE000)
      c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string Utf16(const std::string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<std::uint8_t>(text[i]);
    std::uint32_t c = 0xFFFD;
    std::size_t length = 1;
    if (b < 0x80) c = b;
    else if ((b & 0xE0) == 0xC0) length = 2, c = b & 0x1F;
    else if ((b & 0xF0) == 0xE0) length = 3, c = b & 0x0F;
    else if ((b & 0xF8) == 0xF0) length = 4, c = b & 0x07;
    if (i + length > text.size()) length = 1, c = 0xFFFD;
    for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<std::uint8_t>(text[i + k]) & 0x3F);
    i += length;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

// The simulated thread code page is windows-1252: bytes 0x80-0x9F are the characters of
// this table (its five unassigned bytes map to the same code points), all others map to
// the code point of the same value.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021, 0x2C6,  0x2030, 0x160,
    0x2039, 0x152,  0x8D,   0x17D,  0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178};

char16_t FromAnsi(unsigned char byte) { return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte; }

std::uint8_t ToAnsi(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<std::uint8_t>(c);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == c) return static_cast<std::uint8_t>(0x80 + i);
  return '?';
}

}  // namespace sim

// ============================================================================
// The platform functions, answered by the machine above.
// ============================================================================
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
  std::u16string path;
};

namespace platform {
namespace {

namespace fs = std::filesystem;
using sim::HandleClosed;
using sim::HandleOpened;
using sim::ShouldFail;

// Copies a stored value out the way RegQueryValueEx does.
long QueryValue(KeyObject* key, const std::u16string& name, std::uint32_t* type, void* data, std::uint32_t* size) {
  if (ShouldFail(__func__)) return kErrorAccessDenied;
  const std::optional<sim::Value> value = sim::GetValue(key->hive, key->path, name);
  if (!value) return kErrorFileNotFound;
  if (type) *type = value->type;
  const auto needed = static_cast<std::uint32_t>(value->bytes.size());
  if (!data) {
    *size = needed;
    return kErrorSuccess;
  }
  if (*size < needed) {
    *size = needed;
    return kErrorMoreData;
  }
  if (needed) std::memcpy(data, value->bytes.data(), needed);
  *size = needed;
  return kErrorSuccess;
}

// Which file a LoadLibraryW argument names, by the loader's search rules.
std::u16string ResolveModule(const std::u16string& path) {
  if (path.find_first_of(u"\\/") != std::u16string::npos) return path;
  std::vector<std::u16string> search;
  if (!sim::Current().restricted) search.push_back(sim::Current().programFolder);
  search.push_back(sim::kSystemFolder);
  if (!sim::Current().restricted) search.push_back(sim::kCurrentFolder);
  for (const std::u16string& folder : search) {
    const std::u16string candidate = folder + u"\\" + path;
    if (sim::Exists(candidate)) return candidate;
  }
  return {};
}

}  // namespace

long RegOpenKey(Hive hive, const char16_t* subKey, std::uint32_t, KeyObject** key) noexcept {
  *key = nullptr;
  if (ShouldFail(__func__)) return kErrorAccessDenied;
  const sim::KeyData* found = sim::FindKey(hive, subKey);
  if (!found) return kErrorFileNotFound;
  if (found->denied) return kErrorAccessDenied;
  *key = new (std::nothrow) KeyObject{hive, subKey};
  if (!*key) return 14;  // ERROR_OUTOFMEMORY
  HandleOpened();
  return kErrorSuccess;
}

long RegQueryValueW(KeyObject* key, const char16_t* name, std::uint32_t* type, void* data,
                    std::uint32_t* size) noexcept {
  try {
    return QueryValue(key, name ? name : u"", type, data, size);
  } catch (...) {
    return 14;
  }
}

long RegQueryValueA(KeyObject* key, const char* name, std::uint32_t* type, void* data, std::uint32_t* size) noexcept {
  try {
    std::uint32_t t = 0, wideSize = 0;
    long status = QueryValue(key, sim::Utf16(name ? name : ""), &t, nullptr, &wideSize);
    if (type) *type = t;
    if (status != kErrorSuccess) return status;
    std::vector<std::uint8_t> bytes(wideSize);
    if (wideSize) status = QueryValue(key, sim::Utf16(name ? name : ""), &t, bytes.data(), &wideSize);
    if (status != kErrorSuccess) return status;
    // Text types arrive converted to the ANSI code page, one byte per UTF-16 unit (an odd
    // last byte is dropped); other types as stored.
    if (t == kRegSz || t == kRegExpandSz || t == kRegMultiSz) {
      std::vector<std::uint8_t> narrow;
      for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        narrow.push_back(sim::ToAnsi(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8)));
      bytes = std::move(narrow);
    }
    const auto needed = static_cast<std::uint32_t>(bytes.size());
    if (data && *size < needed) status = kErrorMoreData;
    else if (data && needed) std::memcpy(data, bytes.data(), needed);
    *size = needed;
    return status;
  } catch (...) {
    return 14;
  }
}

long RegCreateKey(Hive hive, const char16_t* subKey, const char16_t* keyClass, std::uint32_t, KeyObject** key,
                  std::uint32_t* disposition) noexcept {
  *key = nullptr;
  if (ShouldFail(__func__)) return kErrorAccessDenied;
  try {
    sim::KeyData* existing = sim::FindKey(hive, subKey);
    if (existing && existing->denied) return kErrorAccessDenied;
    if (disposition) *disposition = existing ? 2 : 1;  // REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY
    if (!existing) {
      sim::MakeKey(hive, subKey).keyClass = keyClass ? keyClass : u"";
      sim::SaveRegistry();
    }
    *key = new KeyObject{hive, subKey};
    HandleOpened();
    return kErrorSuccess;
  } catch (...) {
    return 14;
  }
}

long RegSetValue(KeyObject* key, const char16_t* name, std::uint32_t type, const void* data,
                 std::uint32_t size) noexcept {
  if (ShouldFail(__func__)) return kErrorAccessDenied;
  try {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    sim::SetValue(key->hive, key->path, name ? name : u"", type, std::vector<std::uint8_t>(bytes, bytes + size));
    return kErrorSuccess;
  } catch (...) {
    return 14;
  }
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
  if (ShouldFail(__func__) || !commandLine) return nullptr;
  std::vector<std::u16string> args;
  const std::u16string line = commandLine;
  std::size_t i = 0;
  // The program name: up to the closing quote, or up to the first blank; no escapes.
  std::u16string program;
  if (line.empty()) {
    program = sim::Current().programFolder + u"\\plainrunctl.exe";
  } else if (line[0] == u'"') {
    for (i = 1; i < line.size() && line[i] != u'"'; ++i) program += line[i];
    if (i < line.size()) ++i;
  } else {
    for (; i < line.size() && line[i] != u' ' && line[i] != u'\t'; ++i) program += line[i];
  }
  args.push_back(program);
  // The arguments: 2n backslashes and a quote give n backslashes and toggle quoting,
  // 2n+1 give n and a literal quote, "" inside quotes gives one quote.
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
        if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
          arg += u'"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
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
}

void LocalFree(char16_t** memory) noexcept {
  if (!memory) return;
  std::free(memory);
  HandleClosed();
}

SnapshotObject* CreateSnapshot(std::uint32_t, std::uint32_t) noexcept {
  if (ShouldFail(__func__)) return nullptr;
  auto* snapshot = new (std::nothrow) SnapshotObject;
  if (!snapshot) return nullptr;
  try {
    snapshot->processes = sim::Current().processes;
  } catch (...) {
    delete snapshot;
    return nullptr;
  }
  HandleOpened();
  return snapshot;
}

namespace {
bool NextProcess(SnapshotObject* snapshot, ProcessEntry* entry, bool first) noexcept {
  if (ShouldFail(__func__) || !snapshot) return false;
  if (first) snapshot->next = 0;
  if (snapshot->next >= snapshot->processes.size()) return false;
  const std::u16string& name = snapshot->processes[snapshot->next++];
  const std::size_t units = std::min(name.size(), kMaxPath - 1);
  std::memcpy(entry->exeFile, name.data(), units * sizeof(char16_t));
  entry->exeFile[units] = u'\0';
  return true;
}
}  // namespace

bool ProcessFirst(SnapshotObject* snapshot, ProcessEntry* entry) noexcept {
  return NextProcess(snapshot, entry, true);
}
bool ProcessNext(SnapshotObject* snapshot, ProcessEntry* entry) noexcept {
  return NextProcess(snapshot, entry, false);
}

bool CloseHandle(SnapshotObject* snapshot) noexcept {
  if (!snapshot) return false;
  delete snapshot;
  HandleClosed();
  return true;
}

int MessageBox(const char16_t* text, const char16_t* caption, std::uint32_t type) noexcept {
  if (ShouldFail(__func__)) return 0;
  try {
    sim::AppendEvent("msgbox", {caption, text, sim::Utf16(std::to_string(type))});
  } catch (...) {
    return 0;
  }
  return 1;  // IDOK
}

bool GetSpecialFolderPath(char16_t* buffer, int csidl, bool create) noexcept {
  if (ShouldFail(__func__)) return false;
  try {
    auto it = sim::Current().folders.find(csidl);
    if (it == sim::Current().folders.end() || it->second.empty() || it->second.size() >= kMaxPath) return false;
    if (create) fs::create_directories(sim::HostPath(it->second));
    std::memcpy(buffer, it->second.c_str(), (it->second.size() + 1) * sizeof(char16_t));
    return true;
  } catch (...) {
    return false;
  }
}

bool PathFileExists(const char16_t* path) noexcept {
  if (ShouldFail(__func__) || !path || !*path) return false;
  try {
    return sim::Exists(path);
  } catch (...) {
    return false;
  }
}

bool CreateDirectory(const char16_t* path) noexcept {
  if (ShouldFail(__func__) || !path) return false;
  try {
    return ::mkdir(sim::HostPath(path).c_str(), 0755) == 0;
  } catch (...) {
    return false;
  }
}

void OutputDebugString(const char16_t* text) noexcept {
  try {
    sim::AppendEvent("debug", {text ? text : u""});
  } catch (...) {
  }
}

ModuleObject* LoadLibrary(const char16_t* path) noexcept {
  if (ShouldFail(__func__) || !path) return nullptr;
  try {
    const std::u16string file = ResolveModule(path);
    if (file.empty()) return nullptr;
    void* object = dlopen(sim::HostPath(file).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!object) return nullptr;
    sim::AppendEvent("load", {file});
    HandleOpened();
    return new ModuleObject{object, file};
  } catch (...) {
    return nullptr;
  }
}

void* GetProcAddress(ModuleObject* module, const char* name) noexcept {
  if (ShouldFail(__func__) || !module) return nullptr;
  return dlsym(module->object, name);
}

bool FreeLibrary(ModuleObject* module) noexcept {
  if (!module) return false;
  try {
    sim::AppendEvent("free", {module->path});
  } catch (...) {
  }
  dlclose(module->object);
  delete module;
  HandleClosed();
  return true;
}

void RestrictDllSearchToSystem() noexcept { sim::Current().restricted = true; }

HResult CoInitialize() noexcept {
  if (ShouldFail(__func__)) return hr::Fail;
  ++sim::Current().comDepth;
  return hr::Ok;
}

void CoUninitialize() noexcept {
  if (sim::Current().comDepth > 0) --sim::Current().comDepth;
}

int Wcsicmp(const char16_t* a, const char16_t* b) noexcept {
  auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
  for (;; ++a, ++b) {
    const char16_t x = fold(*a), y = fold(*b);
    if (x != y || !x) return static_cast<int>(x) - static_cast<int>(y);
  }
}

void Wcslwr(char16_t* text, std::size_t units) noexcept {
  // A text without its NUL within the given size is an invalid parameter, whose default
  // handler ends the process.
  if (std::find(text, text + units, u'\0') == text + units) std::abort();
  for (std::size_t i = 0; text[i]; ++i)
    if (text[i] >= u'A' && text[i] <= u'Z') text[i] = static_cast<char16_t>(text[i] + 32);
}

bool IsWSpace(char16_t c) noexcept {
  // The Unicode separators Windows classes as spaces, besides the ASCII ones.
  return c == u' ' || (c >= u'\t' && c <= u'\r') || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

WString AnsiToWide(const std::string& text) {
  WString wide;
  for (const char c : text) wide += sim::FromAnsi(static_cast<unsigned char>(c));
  return wide;
}

}  // namespace platform
