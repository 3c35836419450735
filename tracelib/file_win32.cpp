// Windows services. Files are opened for appending (FILE_APPEND_DATA, never
// FILE_WRITE_DATA), so Windows puts every WriteFile whole at the current end
// of the file, and with all share modes, so other processes (and roll-over)
// can keep using the file. Each write also holds an exclusive byte-range lock
// that every writer of the file takes: Wine finds the end of the file and
// writes there as two steps, and without the lock two processes can pick the
// same end and overwrite each other's rows.
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

// FILE_READ_DATA lets the library read back the file's last row, and Windows refuses
// byte-range locks on a handle that has neither read nor write-data access; writes
// still only append.
File open_for_append(const char16_t* path, DWORD disposition) {
  return file_of(CreateFileW(wide(path), FILE_APPEND_DATA | FILE_READ_DATA, kShareAll, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
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

std::uint64_t ticks_ms() { return GetTickCount64(); }
void pause(int attempt) { Sleep(attempt < 4 ? 0 : 1); }

Lock try_lock_writers(File file) {
  OVERLAPPED range = at(kLockOffset);
  if (LockFileEx(reinterpret_cast<HANDLE>(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                 &range))
    return Lock::kTaken;
  return GetLastError() == ERROR_LOCK_VIOLATION ? Lock::kBusy : Lock::kNone;
}

void unlock_writers(File file) {
  OVERLAPPED range = at(kLockOffset);
  UnlockFileEx(reinterpret_cast<HANDLE>(file), 0, 1, 0, &range);
}

File open_existing(const char16_t* path) { return open_for_append(path, OPEN_EXISTING); }
File create_new(const char16_t* path) { return open_for_append(path, CREATE_NEW); }

Publish publish(const char16_t* from, const char16_t* to) {
  if (MoveFileExW(wide(from), wide(to), 0)) return Publish::kDone;
  const DWORD error = GetLastError();
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? Publish::kTargetExists
                                                                      : Publish::kFailed;
}

void roll_over(const char16_t* path, std::uint64_t limit) {
  const OwnedFile file(file_of(CreateFileW(wide(path), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (file.get() == kNoFile) return;
  const HANDLE handle = reinterpret_cast<HANDLE>(file.get());
  LARGE_INTEGER size;
  if (GetFileSizeEx(handle, &size) && static_cast<std::uint64_t>(size.QuadPart) >= limit) {
    // Renaming through the handle moves exactly the file that was measured, so
    // a process rolling at the same moment cannot push a fresh log over ".1".
    // The new name is read like any path (relative ones from the current folder)
    // and must end in NUL, which the zeroed buffer's spare character provides.
    Path name;
    name.append(path, std::char_traits<char16_t>::length(path));
    name.append(u".1");
    const DWORD name_bytes = static_cast<DWORD>(name.size() * sizeof(char16_t));
    const DWORD info_bytes = static_cast<DWORD>(sizeof(FILE_RENAME_INFO)) + name_bytes;
    // Freed however the roll-over ends.
    const struct Request {
      FILE_RENAME_INFO* info;
      ~Request() { std::free(info); }
    } request{static_cast<FILE_RENAME_INFO*>(std::calloc(1, info_bytes))};
    FILE_RENAME_INFO* const info = request.info;
    if (info != nullptr && !name.failed()) {
      info->ReplaceIfExists = TRUE;
      info->RootDirectory = nullptr;
      info->FileNameLength = name_bytes;
      std::memcpy(info->FileName, name.data(), name_bytes);
      SetFileInformationByHandle(handle, FileRenameInfo, info, info_bytes);
    }
  }
}

bool size(File file, std::uint64_t& bytes) {
  LARGE_INTEGER value;
  if (!GetFileSizeEx(reinterpret_cast<HANDLE>(file), &value)) return false;
  bytes = static_cast<std::uint64_t>(value.QuadPart);
  return true;
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

void remove(const char16_t* path) { DeleteFileW(wide(path)); }

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
  if (file != kNoFile) CloseHandle(reinterpret_cast<HANDLE>(file));
}

}  // namespace tracelib::sys
