// The simulated machine itself: its state, kept in a host folder so that a run in a forked
// child leaves on disk what the parent checks, and the calls through which the tests lay it
// out, fail its calls and read back what a run did.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"
#include "tracelib/utf8.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

std::u16string Lower(std::u16string text) {
  for (char16_t& c : text) c = LowerAscii(c);
  return text;
}

// Text as hex digits of its UTF-16 units: one field of an event line, whatever blanks or
// line breaks the text holds.
std::string HexText(const std::u16string& text) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (const char16_t unit : text)
    for (int shift = 12; shift >= 0; shift -= 4) out += digits[(unit >> shift) & 15];
  return out.empty() ? "-" : out;
}
std::u16string UnhexText(const std::string& text) {
  std::u16string out;
  for (std::size_t i = 0; i + 3 < text.size(); i += 4)
    out += static_cast<char16_t>(std::stoul(text.substr(i, 4), nullptr, 16));
  return out;
}

std::string EventsFile() { return Current().root + "/events"; }

// Replaces a file whole, so that a failure part-way leaves the old one; makes its folder first.
void Store(const std::string& file, const std::string& content) {
  fs::create_directories(fs::path(file).parent_path());
  if (!(std::ofstream(file + ".new", std::ios::binary) << content).flush()) throw std::runtime_error("not stored");
  fs::rename(file + ".new", file);
}

// A key's or value's name as a host file name: the same whatever its case; a "/", which the
// host cannot hold in a name, stands as a backslash, which a key's name cannot hold either.
std::string FileName(std::u16string name) {
  std::replace(name.begin(), name.end(), u'/', u'\\');
  return Utf8(Lower(name));
}

std::string ValueFile(Hive hive, const std::u16string& key, const std::u16string& name) {
  return KeyFolder(hive, key) + "/v" + FileName(name);
}

}  // namespace

State& Current() {
  static State state;
  return state;
}

void AppendEvent(const std::string& kind, std::initializer_list<std::u16string> fields) {
  std::string line = kind;
  for (const auto& field : fields) line += ' ' + HexText(field);
  line += '\n';
  std::ofstream(EventsFile(), std::ios::app) << line;
}

std::string KeyFolder(Hive hive, const std::u16string& path) {
  std::string folder = Current().root + "/registry/" + std::to_string(static_cast<int>(hive));
  std::u16string part;
  for (const char16_t c : path + u"\\") {
    if (c != u'\\') part += c;
    else if (!part.empty()) folder += "/k" + FileName(part), part.clear();
  }
  return folder;
}

// ---- Hooks of the platform functions and the DOM stand-in ----
bool ShouldFail(const char* call) {
  State& s = Current();
  ++s.calls;
  bool fail = s.failAt != 0 && (s.calls == s.failAt || (s.failPersistent && s.calls > s.failAt));
  if (auto it = s.namedFailures.find(call); it != s.namedFailures.end()) {
    auto& [skip, times] = it->second;
    if (skip > 0) --skip;
    else if (times > 0) --times, fail = true;
  }
  if (fail && s.firstFailed.empty()) s.firstFailed = call;
  return fail;
}
namespace {
int gInside = 0;  // depth of simulated platform calls now running
}  // namespace
Inside::Inside() noexcept { ++gInside; }
Inside::~Inside() { --gInside; }
bool InsideSimulator() noexcept { return gInside > 0; }

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
}

Machine::~Machine() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

// ---- Registry (test side) ----
void SetValue(Hive hive, const std::u16string& key, const std::u16string& name, std::uint32_t type,
              std::vector<std::uint8_t> bytes) {
  std::string content(reinterpret_cast<const char*>(&type), sizeof type);
  content.append(bytes.begin(), bytes.end());
  Store(ValueFile(hive, key, name), content);
}

void DeleteValue(Hive hive, const std::u16string& key, const std::u16string& name) {
  fs::remove(ValueFile(hive, key, name));
}

void DenyKey(Hive hive, const std::u16string& key) { Store(KeyFolder(hive, key) + "/denied", ""); }

std::optional<Value> GetValue(Hive hive, const std::u16string& key, const std::u16string& name) {
  std::ifstream in(ValueFile(hive, key, name), std::ios::binary);
  Value value;
  if (!in.read(reinterpret_cast<char*>(&value.type), sizeof value.type)) return std::nullopt;
  value.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return value;
}

std::optional<std::u16string> KeyClass(Hive hive, const std::u16string& key) {
  const std::string folder = KeyFolder(hive, key);
  if (!fs::is_directory(folder)) return std::nullopt;
  std::ifstream in(folder + "/class", std::ios::binary);
  return Utf16(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

void SetKeyClass(Hive hive, const std::u16string& key, const std::u16string& keyClass) {
  Store(KeyFolder(hive, key) + "/class", Utf8(keyClass));
}

void SetProcesses(std::vector<std::u16string> exeNames) {
  exeNames.insert(exeNames.begin(), {u"System", u"explorer.exe"});  // every machine runs these
  Current().processes = std::move(exeNames);
}
void SetCommandLine(const std::u16string& commandLine) { Current().commandLine = commandLine; }
void SetSearchPath(const std::u16string& folder) { Current().searchPath = folder; }

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
    std::error_code missing;
    if (!fs::exists(host + "/" + name))  // Windows finds an existing entry whatever the case of the name
      for (const fs::directory_entry& entry : fs::directory_iterator(host, missing))
        if (Lower(Utf16(entry.path().filename().string())) == Lower(part)) name = entry.path().filename().string();
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
void FailNamed(const std::string& call, int times, int skip) { Current().namedFailures[call] = {skip, times}; }
std::uint64_t OpenHandles() { return Current().handles; }

std::vector<Event> Events() {
  std::vector<Event> events;
  std::ifstream in(EventsFile());
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Event& event = events.emplace_back();
    fields >> event.kind;
    for (std::string field; fields >> field;) event.fields.push_back(UnhexText(field));
  }
  return events;
}

bool EnterChild() {
  if (chdir((Current().root + "/fs").c_str()) != 0) return false;
  // Registered first, so it runs last: after every shared object of the run is gone.
  std::atexit([] {
    std::ofstream out(Current().root + "/exit");
    out << Current().calls << ' ' << Current().handles << ' ' << Current().comDepth << ' '
        << (Current().firstFailed.empty() ? "-" : Current().firstFailed) << '\n';
  });
  return true;
}

void ChildEnded(RunResult& result) {
  std::ifstream in(Current().root + "/exit");
  int comDepth = -1;
  if (in >> result.calls >> result.handlesLeft >> comDepth >> result.firstFailed) result.comBalanced = comDepth == 0;
  std::error_code ignored;
  fs::remove(Current().root + "/exit", ignored);
}

std::string Utf8(const std::u16string& text) {
  std::string out;
  tracelib::encode_utf8(text, [&out](std::uint32_t bits) { out += static_cast<char>(bits); });
  return out;
}

std::u16string Utf16(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())).u16string(); }

}  // namespace sim
