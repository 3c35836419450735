// Windows services. Files are opened for appending (FILE_APPEND_DATA, never
// FILE_WRITE_DATA), so Windows puts every WriteFile whole at the current end
// of the file, and with all share modes, so other processes (and roll-over)
// can keep using the file. The writers of the session still take turns (see
// Turns): Wine finds the end of the file and writes there as two steps, and
// without turns two processes can pick the same end and overwrite each other's
// rows; and the first row of an empty file must be the only one with a header.
#include <windows.h>

#include <cstring>

#include "sys.h"

// The library's entry point, called by the loader itself: the library has no other
// start-up code. At unload (FreeLibrary or process exit) the log file is closed.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_DETACH) tracelib::shutdown();
  return TRUE;
}

namespace tracelib::sys {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

const wchar_t* wide(const char16_t* path) { return reinterpret_cast<const wchar_t*>(path); }

SRWLOCK g_lock = SRWLOCK_INIT;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The lock guards no bytes: it sits so far beyond any real log size that it never
// meets a reader's lock, and only serves as the writers' common mutex.
constexpr std::uint64_t kLockOffset = 0xFFFFFFFF00000000;

// The handle as a File: kNoFile for INVALID_HANDLE_VALUE.
File file_of(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<File>(handle); }

// Opens the name itself, never what a reparse point there leads to; kNoFile when the name
// holds a reparse point (a symbolic link, junction or mount point).
File open_name(const char16_t* path, DWORD access, DWORD disposition) {
  OwnedFile file(file_of(CreateFileW(wide(path), access | FILE_READ_ATTRIBUTES, kShareAll, nullptr, disposition,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)));
  FILE_BASIC_INFO basic;
  if (file.get() == kNoFile ||
      !GetFileInformationByHandleEx(reinterpret_cast<HANDLE>(file.get()), FileBasicInfo, &basic, sizeof basic) ||
      (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    return kNoFile;
  return file.release();
}

OVERLAPPED at(std::uint64_t offset) {
  OVERLAPPED place{};
  place.Offset = static_cast<DWORD>(offset);
  place.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return place;
}

}  // namespace

UtcTime now_utc() {
  SYSTEMTIME t;
  GetSystemTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

std::uint64_t process_id() { return GetCurrentProcessId(); }
std::uint64_t thread_id() { return GetCurrentThreadId(); }

void lock() { AcquireSRWLockExclusive(&g_lock); }
void unlock() { ReleaseSRWLockExclusive(&g_lock); }

// Called under lock() only, so the frequency needs no guard (the library links no runtime
// that would provide one).
std::uint64_t ticks_us() {
  static std::uint64_t per_second = 0;
  if (per_second == 0) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    per_second = static_cast<std::uint64_t>(frequency.QuadPart);
  }
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  const std::uint64_t ticks = static_cast<std::uint64_t>(count.QuadPart);
  return ticks / per_second * 1000000 + ticks % per_second * 1000000 / per_second;
}

void pause(int attempt) { Sleep(attempt < 4 ? 0 : 1); }

namespace {

// The session's writers of one file take turns through words in memory that they share,
// named after the file's identity so that every path to the file finds the same ones.
// Taking a free turn needs no call into the system; a writer that finds the turn taken
// sleeps on an event that each writer ending its turn sets. The count of turns taken tells
// a waiting writer whether the turns move on (other writers, one row each) or one writer
// keeps the turn (a stalled or hostile process), and only the latter counts as waiting.
// Under Wine every wake-up is a request to the server: 16 writers of 40 rows each, taking
// strict turns through a mutex, waited 90-190 ms apiece, and so lost rows whenever all waiting
// counted; polling a byte-range lock instead flooded the server.
struct Turns {
  HANDLE file = nullptr;  // the log the turns belong to
  HANDLE mapping = nullptr, wake = nullptr;
  struct Word {
    volatile LONG owner;    // the process whose turn it is; 0: nobody's
    volatile LONG taken;    // turns taken so far
    volatile LONG waiting;  // processes waiting for a turn
  }* word = nullptr;
  bool held = false;
  HANDLE claimed = nullptr;  // the log whose lock byte this process holds shared
} g_turns;

void drop_turns() {
  if (g_turns.word != nullptr) UnmapViewOfFile(const_cast<Turns::Word*>(g_turns.word));
  for (const HANDLE handle : {g_turns.mapping, g_turns.wake})
    if (handle != nullptr) CloseHandle(handle);
  g_turns.file = g_turns.mapping = g_turns.wake = nullptr;
  g_turns.word = nullptr;
  g_turns.held = false;
}

// The shared word of the file's turns; null where it cannot be had, and then every writer
// goes ahead (the shared lock byte still keeps foreign lockers out).
Turns::Word* turns_of(HANDLE file) {
  if (g_turns.file == file) return g_turns.word;
  drop_turns();
  g_turns.file = file;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return nullptr;
  wchar_t name[] = L"Local\\tracelib-m-vvvvvvvv-iiiiiiiiiiiiiiii";
  const std::uint64_t fields[] = {info.dwVolumeSerialNumber,
                                  static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
  wchar_t* digit = name + std::char_traits<wchar_t>::length(name);
  for (int field = 1; field >= 0; --field, --digit)  // written from the end, skipping the '-'
    for (std::uint64_t value = fields[field]; *--digit != L'-'; value >>= 4) *digit = L"0123456789abcdef"[value & 15];
  g_turns.mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Turns::Word), name);
  name[15] = L'e';
  g_turns.wake = CreateEventW(nullptr, FALSE, FALSE, name);
  if (g_turns.mapping == nullptr || g_turns.wake == nullptr) return nullptr;
  g_turns.word = static_cast<Turns::Word*>(MapViewOfFile(g_turns.mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  return g_turns.word;
}

// A writer that died during its turn would keep it for good: the turn is taken back.
void clear_if_dead(volatile LONG& owner) {
  const LONG process_id = owner;
  if (process_id == 0) return;
  const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(process_id));
  const bool dead = process == nullptr ? GetLastError() == ERROR_INVALID_PARAMETER
                                       : WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  if (process != nullptr) CloseHandle(process);
  if (dead) InterlockedCompareExchange(&owner, 0, process_id);
}

}  // namespace

bool enter_queue(File file, std::uint64_t& stall_us) {
  Turns::Word* const word = turns_of(reinterpret_cast<HANDLE>(file));
  if (word == nullptr) return true;
  const LONG me = static_cast<LONG>(GetCurrentProcessId());
  const auto take = [word, me] {
    if (InterlockedCompareExchange(&word->owner, me, 0) != 0) return false;
    InterlockedIncrement(&word->taken);
    return g_turns.held = true;
  };
  if (take()) return true;
  InterlockedIncrement(&word->waiting);
  LONG seen = word->taken;
  std::uint64_t since = ticks_us();  // since when the same turn has been held
  while (!take()) {
    const std::uint64_t now = ticks_us();
    if (word->taken != seen) {
      seen = word->taken;
      since = now;
    } else if (now - since >= stall_us) {
      break;
    }
    // Woken when a turn ends, or every 20 ms to look again, also for a writer that died.
    const std::uint64_t left_ms = (stall_us - (now - since) + 999) / 1000;
    if (WaitForSingleObject(g_turns.wake, static_cast<DWORD>(left_ms < 20 ? left_ms : 20)) == WAIT_TIMEOUT)
      clear_if_dead(word->owner);
  }
  const std::uint64_t stalled = ticks_us() - since;
  stall_us -= g_turns.held && stalled < stall_us ? stalled : stall_us;
  InterlockedDecrement(&word->waiting);
  return g_turns.held;
}

void leave_queue() {
  if (!g_turns.held) return;
  g_turns.held = false;
  InterlockedExchange(&g_turns.word->owner, 0);
  if (g_turns.word->waiting > 0) SetEvent(g_turns.wake);
}

// Every writer holds a shared lock on the byte for as long as it keeps the file open, taken
// with its first row: shared locks do not exclude each other, so this costs one request in
// all, but a foreign lock over the byte (a viewer's over the whole file) makes it busy, and
// the writer then waits for it as for any writer. Under Wine, which does not stop writes
// into a range that another handle locked, this is how such a lock is honoured.
Lock try_lock_writers(File file) {
  if (reinterpret_cast<HANDLE>(file) == g_turns.claimed) return Lock::kTaken;
  OVERLAPPED range = at(kLockOffset);
  if (LockFileEx(reinterpret_cast<HANDLE>(file), LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
    g_turns.claimed = reinterpret_cast<HANDLE>(file);
    return Lock::kTaken;
  }
  return GetLastError() == ERROR_LOCK_VIOLATION ? Lock::kBusy : Lock::kNone;
}

// The shared lock stays until the file is closed.
void unlock_writers(File) {}

// FILE_READ_DATA lets the library read back the file's last bytes, and Windows refuses
// byte-range locks on a handle that has neither read nor write-data access; writes
// still only append.
File open_log(const char16_t* path) { return open_name(path, FILE_APPEND_DATA | FILE_READ_DATA, OPEN_ALWAYS); }

bool plain_folder(const char16_t* path) {
  const DWORD attributes = GetFileAttributesW(wide(path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// The standard information is the cheapest to ask for (under Wine it needs no request to
// the server); a reparse point was refused when the file was opened.
bool inspect(File file, Facts& facts) {
  FILE_STANDARD_INFO info;
  if (!GetFileInformationByHandleEx(reinterpret_cast<HANDLE>(file), FileStandardInfo, &info, sizeof info)) return false;
  facts = {static_cast<std::uint64_t>(info.EndOfFile.QuadPart), info.NumberOfLinks == 1 && !info.Directory};
  return true;
}

void roll_over(File file, const char16_t* path, std::uint64_t limit) {
  Facts facts{};
  if (!inspect(file, facts) || !facts.plain || facts.size < limit) return;
  // Renaming through the handle moves exactly the file that was measured, so a process
  // rolling at the same moment cannot push a fresh log over ".1". The new name is read
  // like any path (relative ones from the current folder) and must end in NUL, which the
  // zeroed buffer's spare character provides.
  Path name;
  name.append(path, std::char_traits<char16_t>::length(path));
  name.append(u".1");
  if (name.failed()) return;
  // An older ".1" is replaced only when it is a plain file too.
  const OwnedFile older(open_name(name.c_str(), 0, OPEN_EXISTING));
  if (older.get() == kNoFile ? GetFileAttributesW(wide(name.c_str())) != INVALID_FILE_ATTRIBUTES
                             : !inspect(older.get(), facts) || !facts.plain)
    return;
  const DWORD name_bytes = static_cast<DWORD>(name.size() * sizeof(char16_t));
  const DWORD info_bytes = static_cast<DWORD>(sizeof(FILE_RENAME_INFO)) + name_bytes;
  // Freed however the roll-over ends.
  const struct Request {
    FILE_RENAME_INFO* info;
    ~Request() { std::free(info); }
  } request{static_cast<FILE_RENAME_INFO*>(std::calloc(1, info_bytes))};
  FILE_RENAME_INFO* const info = request.info;
  if (info == nullptr) return;
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = name_bytes;
  std::memcpy(info->FileName, name.data(), name_bytes);
  // The log's own handle may not rename, so a second handle on the same file does.
  const OwnedFile mover(file_of(ReOpenFile(reinterpret_cast<HANDLE>(file), DELETE, kShareAll, 0)));
  if (mover.get() != kNoFile)
    SetFileInformationByHandle(reinterpret_cast<HANDLE>(mover.get()), FileRenameInfo, info, info_bytes);
}

bool read_at(File file, std::uint64_t offset, char* out, std::size_t count) {
  OVERLAPPED place = at(offset);
  DWORD done = 0;
  return ReadFile(reinterpret_cast<HANDLE>(file), out, static_cast<DWORD>(count), &done, &place) &&
         done == count;
}

// The log's own handle may only append, so the cut goes through a second handle on the
// same file (not the same name: another process may have rolled the file over since).
bool cut(File file, std::uint64_t bytes) {
  const OwnedFile writer(file_of(ReOpenFile(reinterpret_cast<HANDLE>(file), FILE_WRITE_DATA, kShareAll, 0)));
  if (writer.get() == kNoFile) return false;
  FILE_END_OF_FILE_INFO end;
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(bytes);
  return SetFileInformationByHandle(reinterpret_cast<HANDLE>(writer.get()), FileEndOfFileInfo, &end, sizeof end);
}

void make_dir(const char16_t* path) { CreateDirectoryW(wide(path), nullptr); }

std::size_t append(File file, std::string_view bytes) {
  std::size_t total = 0;
  while (total < bytes.size()) {
    const std::size_t left = bytes.size() - total;
    DWORD written = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(file), bytes.data() + total,
                   static_cast<DWORD>(left < 0x7FFFFFFF ? left : 0x7FFFFFFF), &written, nullptr) ||
        written == 0)
      break;
    total += written;
  }
  return total;
}

void close(File file) {
  if (file == kNoFile) return;
  if (reinterpret_cast<HANDLE>(file) == g_turns.file) drop_turns();
  if (reinterpret_cast<HANDLE>(file) == g_turns.claimed) g_turns.claimed = nullptr;
  CloseHandle(reinterpret_cast<HANDLE>(file));
}

}  // namespace tracelib::sys
