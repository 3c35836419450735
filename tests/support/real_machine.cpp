// The calls of the simulated machine that the table's runner makes, answered by the real
// Windows under Wine, so that the same runner plays the table against the real plainrunctl.exe:
// the registry and disk are the prefix's, the stand-in Outlook runs under the names a row
// gives, and each box is read and answered as a user would. The icon of a box and the
// debugger output are read from Wine's trace of the run, which Wine writes to this runner's
// own standard error: the host file named by PLAINRUN_TRACE.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "platform/sim/sim.h"

namespace fs = std::filesystem;

namespace {

const fs::path kSystem = sim::kSystemFolder;
const std::wstring kStubs[] = {L"mapistub", L"mapi32"};
std::error_code gIgnored;  // files that may be missing

std::wstring Wide(const std::u16string& text) { return {text.begin(), text.end()}; }
HKEY Root(sim::Hive hive) { return hive == sim::Hive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

std::u16string WindowText(HWND window) {
  std::wstring text(GetWindowTextLengthW(window) + 1, L'\0');
  text.resize(GetWindowTextW(window, text.data(), static_cast<int>(text.size())));
  return {text.begin(), text.end()};
}

// Every path on drive C: but in the system folder and the stand-ins' folder.
std::set<fs::path> Disk() {
  std::set<fs::path> paths;
  for (auto it = fs::recursive_directory_iterator(L"C:\\", fs::directory_options::skip_permission_denied);
       it != fs::recursive_directory_iterator(); ++it) {
    const std::wstring name = it->path().filename().wstring();
    if (it.depth() == 0 && (_wcsicmp(name.c_str(), L"windows") == 0 || name == L"standin"))
      it.disable_recursion_pending();
    else paths.insert(it->path());
  }
  return paths;
}

// The prefix as the first row found it, less the product's folders: its disk, and the
// system's own MAPI stubs (where it has them), which make way for the rows' and come back
// when the runner ends.
struct Prefix {
  std::set<fs::path> disk;
  std::map<std::u16string, HANDLE> standins;
  std::u16string commandLine, searchPath;
  std::vector<sim::Event> events;
  std::wstring path = _wgetenv(L"PATH");  // the system's PATH, which a row's folder goes before

  // Every process started from here on (the program, the stand-ins) loads a MAPI stub only
  // from a file, and traces what the runner reads back.
  Prefix() {
    SetEnvironmentVariableW(L"WINEDLLOVERRIDES", L"mapistub,mapi32=n");
    SetEnvironmentVariableW(L"WINEDEBUG", L"-all,err+virtual,+msgbox,trace+cursor,warn+seh,+loaddll,+pid");
    fs::remove_all(fs::path(_wgetenv(L"LOCALAPPDATA")) / L"Orvane");
    fs::remove_all(L"C:\\Program Files\\Orvane");
    disk = Disk();
    for (const std::wstring& stub : kStubs)
      fs::rename(kSystem / (stub + L".dll"), kSystem / (stub + L".saved"), gIgnored);
  }
  ~Prefix() {
    for (const auto& [name, process] : standins) TerminateProcess(process, 0);
    for (const std::wstring& stub : kStubs)
      fs::rename(kSystem / (stub + L".saved"), kSystem / (stub + L".dll"), gIgnored);
  }
};
Prefix* gPrefix = nullptr;

// Starts a process with exactly this command line (wine itself would quote the arguments),
// in the given current folder or in the runner's.
PROCESS_INFORMATION Start(const std::u16string& commandLine, const wchar_t* folder = nullptr) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring line = Wide(commandLine);
  CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder, &startup, &process);
  CloseHandle(process.hThread);
  return process;
}

// Reads each message box that the process shows (caption, then text) and answers it.
void AnswerBoxes(DWORD process, std::set<HWND>& answered, std::vector<std::u16string>& boxes) {
  for (HWND box = nullptr; (box = FindWindowExW(nullptr, box, L"#32770", nullptr));) {
    DWORD owner = 0;
    GetWindowThreadProcessId(box, &owner);
    if (owner != process || !IsWindowVisible(box) || !answered.insert(box).second) continue;
    boxes.insert(boxes.end(), {WindowText(box), WindowText(GetDlgItem(box, 0xFFFF))});
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
}

}  // namespace

namespace sim {

// A machine as every row starts: the product's keys gone, the disk as the first row found it,
// no MAPI stub in the system folder.
Machine::Machine() {
  static Prefix prefix;
  gPrefix = &prefix;
  for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
    for (const auto* key :
         {L"SOFTWARE\\Orvane", L"Software\\Policies\\Orvane", L"Software\\Clients\\Mail\\Microsoft Outlook"})
      RegDeleteTreeW(root, key);
  for (const fs::path& path : Disk())
    if (!prefix.disk.count(path)) fs::remove_all(path, gIgnored);
  for (const std::wstring& stub : kStubs)
    fs::remove(kSystem / (stub + L".dll"), gIgnored);  // a row's, in the system folder
  prefix.events.clear();
  prefix.commandLine = u"\"C:\\Program Files\\Orvane\\plainrunctl.exe\"";
  prefix.searchPath.clear();
}
Machine::~Machine() = default;

void SetValue(Hive hive, const std::u16string& key, const std::u16string& name, std::uint32_t type,
              std::vector<std::uint8_t> bytes) {
  RegSetKeyValueW(Root(hive), Wide(key).c_str(), Wide(name).c_str(), type, bytes.data(),
                  static_cast<DWORD>(bytes.size()));
}

void DeleteValue(Hive hive, const std::u16string& key, const std::u16string& name) {
  RegDeleteKeyValueW(Root(hive), Wide(key).c_str(), Wide(name).c_str());
}

std::optional<Value> GetValue(Hive hive, const std::u16string& key, const std::u16string& name) {
  HKEY handle = nullptr;
  DWORD type = 0, size = 0;
  std::optional<Value> value;
  if (!RegOpenKeyExW(Root(hive), Wide(key).c_str(), 0, KEY_QUERY_VALUE, &handle) &&
      !RegQueryValueExW(handle, Wide(name).c_str(), nullptr, &type, nullptr, &size)) {
    value = Value{type, std::vector<std::uint8_t>(size)};
    RegQueryValueExW(handle, Wide(name).c_str(), nullptr, nullptr, value->bytes.data(), &size);
  }
  RegCloseKey(handle);
  return value;
}

std::optional<std::u16string> KeyClass(Hive hive, const std::u16string& key) {
  HKEY handle = nullptr;
  wchar_t text[64] = L"";
  DWORD size = 64;
  if (RegOpenKeyExW(Root(hive), Wide(key).c_str(), 0, KEY_QUERY_VALUE, &handle)) return std::nullopt;
  RegQueryInfoKeyW(handle, text, &size, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(handle);
  return std::u16string(text, text + size);
}

void InstallModule(const std::u16string& windowsPath, const std::string& hostObject) {
  fs::create_directories(fs::path(windowsPath).parent_path());
  fs::copy_file(hostObject, windowsPath, fs::copy_options::overwrite_existing);
}

void SetCommandLine(const std::u16string& commandLine) { gPrefix->commandLine = commandLine; }
void SetSearchPath(const std::u16string& folder) { gPrefix->searchPath = folder; }

// Exactly these stand-ins run: each a copy of the stand-in Outlook under its name, waited
// for until the "running" file beside it shows that it has started.
void SetProcesses(std::vector<std::u16string> exeNames) {
  std::erase_if(gPrefix->standins, [&](const auto& standin) {
    if (std::count(exeNames.begin(), exeNames.end(), standin.first) && WaitForSingleObject(standin.second, 0))
      return false;
    TerminateProcess(standin.second, 0);
    WaitForSingleObject(standin.second, INFINITE);
    return CloseHandle(standin.second) != 0;
  });
  for (const std::u16string& name : exeNames) {
    const fs::path folder = L"C:\\standin\\" + std::to_wstring(std::hash<std::u16string>{}(name));
    if (gPrefix->standins.count(name)) continue;
    fs::create_directories(folder);
    fs::copy_file(OUTLOOK_EXE, folder / name, fs::copy_options::overwrite_existing);
    gPrefix->standins[name] = Start(u'"' + (folder / name).u16string() + u'"').hProcess;
    for (int i = 0; i < 300 && !fs::exists(folder / L"running"); ++i) Sleep(100);
  }
}

std::vector<Event> Events() { return gPrefix->events; }

std::string Utf8(const std::u16string& text) {
  const std::u8string utf8 = fs::path(text).u8string();
  return {utf8.begin(), utf8.end()};
}
std::u16string Utf16(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())).u16string(); }

}  // namespace sim

namespace test {

// The installed program with the row's command line, loading a MAPI stub from the system
// folder only where the row put one; each box is answered; a run may take a minute.
sim::RunResult RunProgram(int (*)()) {
  const fs::path exe = L"C:\\Program Files\\Orvane\\plainrunctl.exe",
                 trace = "Z:" + std::string(getenv("PLAINRUN_TRACE"));
  fs::create_directories(exe.parent_path());
  fs::create_directories(sim::kCurrentFolder);  // the run's current folder, as on the simulated Windows
  fs::copy_file(PLAINRUNCTL_EXE, exe, fs::copy_options::overwrite_existing);
  SetEnvironmentVariableW(L"PATH", (Wide(gPrefix->searchPath) + L";" + gPrefix->path).c_str());
  sim::RunResult result;
  std::string shown, pid;
  std::vector<std::u16string> boxes;
  // This Wine now and then fails to set up a process before any of its code runs: start again.
  for (int tries = 0; tries < 3 && (tries == 0 || (result.exitCode == 1 &&
                                                   shown.find("failed to map the shared user data") != shown.npos));
       ++tries) {
    const auto start = static_cast<std::streamoff>(fs::file_size(trace));
    const PROCESS_INFORMATION process = Start(gPrefix->commandLine, Wide(sim::kCurrentFolder).c_str());
    pid = (std::ostringstream() << std::hex << std::setfill('0') << std::setw(4) << process.dwProcessId).str();
    std::set<HWND> answered;
    boxes.clear();
    for (int waits = 1; WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT; ++waits) {
      if (waits == 3000) TerminateProcess(process.hProcess, STILL_ACTIVE);
      AnswerBoxes(process.dwProcessId, answered, boxes);
    }
    GetExitCodeProcess(process.hProcess, reinterpret_cast<DWORD*>(&result.exitCode));
    CloseHandle(process.hProcess);
    std::ifstream in(trace, std::ios::binary);
    shown = (std::ostringstream() << in.seekg(start).rdbuf()).str();
  }
  // Ended by itself: not stopped for taking too long, nor ended by an exception (an NTSTATUS
  // error code such as 0xC0000005 or 0xC0000409 as its exit code).
  const auto status = static_cast<DWORD>(result.exitCode);
  result.exited = status != STILL_ACTIVE && (status & 0xC0000000u) != 0xC0000000u;
  // A box's icon is the first system icon loaded after the box's set-up line.
  for (std::size_t i = 0, at = 0; i + 1 < boxes.size(); i += 2) {
    at = shown.find("MSGBOX_OnInit", at) + 1;
    const std::size_t icon = shown.find("LoadIconW 0000000000000000, #7f0", at);
    const int style = icon < shown.find("MSGBOX_OnInit", at) ? 16 * (shown[icon + 32] - '0') : 0;
    gPrefix->events.push_back({"msgbox", {boxes[i], boxes[i + 1], sim::Utf16(std::to_string(style))}});
  }
  // Each library that the program loaded: Wine traces it, after the process's id, as L"C:\\x\\y.dll".
  const std::regex load(pid + ":[0-9a-f]+:trace:loaddll:\\w+ Loaded L\"([^\"]*\\.dll)\""), doubled("\\\\\\\\");
  for (std::sregex_iterator it(shown.begin(), shown.end(), load), end; it != end; ++it)
    gPrefix->events.push_back({"load", {sim::Utf16(std::regex_replace((*it)[1].str(), doubled, "\\"))}});
  // Wine writes the debugger text in the ANSI code page with "\\" for a backslash and "\xHH"
  // for a byte above 0x7f, which is the character U+00HH for the letters that rows use.
  const std::regex debug("OutputDebugStringA \"(.*)\"");
  for (std::sregex_iterator it(shown.begin(), shown.end(), debug), end; it != end; ++it) {
    const std::string escaped = (*it)[1].str();
    std::u16string text;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
      const bool hex = escaped[i] == '\\' && i + 3 < escaped.size() && escaped[i + 1] == 'x';
      if (hex) text += static_cast<char16_t>(std::stoul(escaped.substr(i + 2, 2), nullptr, 16)), i += 3;
      else text += static_cast<char16_t>(static_cast<unsigned char>(escaped[i])), i += escaped[i] == '\\';
    }
    gPrefix->events.push_back({"debug", {text}});
  }
  return result;
}

}  // namespace test
