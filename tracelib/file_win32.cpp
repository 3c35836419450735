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
constexpr DWORD kLockOffsetLow = 0x00000000;
constexpr DWORD kLockOffsetHigh = 0xFFFFFFFF;

// FILE_READ_DATA is there only because Windows refuses byte-range locks on a handle
// that has neither read nor write-data access; writes still only append.
File open_for_append(const char16_t* path, DWORD disposition) {
  const HANDLE handle = CreateFileW(wide(path), FILE_APPEND_DATA | FILE_READ_DATA, kShareAll,
                                    nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<File>(handle);
}

// Takes the writers' lock, waiting while another writer holds it, but never longer
// than kLockPatienceMs: a writer holds it for one write only, so a lock held longer
// belongs to something else, and the caller must not hang on it. False when the
// lock was not taken (also on file systems without byte-range locks).
bool lock_writers(HANDLE handle) {
  constexpr ULONGLONG kLockPatienceMs = 5000;
  const ULONGLONG start = GetTickCount64();
  for (int attempt = 0;; ++attempt) {
    OVERLAPPED range{};
    range.Offset = kLockOffsetLow;
    range.OffsetHigh = kLockOffsetHigh;
    if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range))
      return true;
    if (GetLastError() != ERROR_LOCK_VIOLATION || GetTickCount64() - start >= kLockPatienceMs)
      return false;
    Sleep(attempt < 4 ? 0 : 1);
  }
}

void unlock_writers(HANDLE handle) {
  OVERLAPPED range{};
  range.Offset = kLockOffsetLow;
  range.OffsetHigh = kLockOffsetHigh;
  UnlockFileEx(handle, 0, 1, 0, &range);
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

File open_existing(const char16_t* path) { return open_for_append(path, OPEN_EXISTING); }
File create_new(const char16_t* path) { return open_for_append(path, CREATE_NEW); }

Publish publish(const char16_t* from, const char16_t* to) {
  if (MoveFileExW(wide(from), wide(to), 0)) return Publish::kDone;
  const DWORD error = GetLastError();
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? Publish::kTargetExists
                                                                      : Publish::kFailed;
}

void roll_over(const char16_t* path, std::uint64_t limit) {
  const HANDLE handle = CreateFileW(wide(path), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
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
    auto* info = static_cast<FILE_RENAME_INFO*>(std::calloc(1, info_bytes));
    if (info != nullptr && !name.failed()) {
      info->ReplaceIfExists = TRUE;
      info->RootDirectory = nullptr;
      info->FileNameLength = name_bytes;
      std::memcpy(info->FileName, name.data(), name_bytes);
      SetFileInformationByHandle(handle, FileRenameInfo, info, info_bytes);
    }
    std::free(info);
  }
  CloseHandle(handle);
}

std::uint64_t size(File file) {
  LARGE_INTEGER bytes;
  return GetFileSizeEx(reinterpret_cast<HANDLE>(file), &bytes) ? static_cast<std::uint64_t>(bytes.QuadPart) : 0;
}

void make_dir(const char16_t* path) { CreateDirectoryW(wide(path), nullptr); }

void remove(const char16_t* path) { DeleteFileW(wide(path)); }

bool append(File file, std::string_view bytes) {
  const HANDLE handle = reinterpret_cast<HANDLE>(file);
  // Without the lock the row is still written: on Windows appends stay whole, and
  // losing the row for certain is worse than the small risk under Wine.
  const bool locked = lock_writers(handle);
  bool complete = true;
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(bytes.size() < 0x7FFFFFFF ? bytes.size() : 0x7FFFFFFF);
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0) {
      complete = false;
      break;
    }
    bytes.remove_prefix(written);
  }
  if (locked) unlock_writers(handle);
  return complete;
}

void close(File file) {
  if (file != kNoFile) CloseHandle(reinterpret_cast<HANDLE>(file));
}

}  // namespace tracelib::sys
