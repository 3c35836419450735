// Windows services. Files are opened with FILE_APPEND_DATA only, so every
// WriteFile lands whole at the current end of the file, and with all share
// modes, so other processes (and roll-over) can keep using the file.
#include <windows.h>

#include <cstring>

#include "sys.h"

namespace tracelib::sys {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

const wchar_t* wide(const std::u16string& path) {
  return reinterpret_cast<const wchar_t*>(path.c_str());
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

File open_for_append(const std::u16string& path, DWORD disposition) {
  const HANDLE handle = CreateFileW(wide(path), FILE_APPEND_DATA, kShareAll, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<File>(handle);
}

}  // namespace

UtcTime now_utc() {
  SYSTEMTIME t;
  GetSystemTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

std::uint64_t process_id() { return GetCurrentProcessId(); }
std::uint64_t thread_id() { return GetCurrentThreadId(); }

File open_existing(const std::u16string& path) { return open_for_append(path, OPEN_EXISTING); }
File create_new(const std::u16string& path) { return open_for_append(path, CREATE_NEW); }

Publish publish(const std::u16string& from, const std::u16string& to) {
  if (MoveFileExW(wide(from), wide(to), 0)) return Publish::kDone;
  const DWORD error = GetLastError();
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? Publish::kTargetExists
                                                                      : Publish::kFailed;
}

void roll_over(const std::u16string& path, std::uint64_t limit) {
  const HANDLE handle = CreateFileW(wide(path), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER size;
  if (GetFileSizeEx(handle, &size) && static_cast<std::uint64_t>(size.QuadPart) >= limit) {
    // Renaming through the handle moves exactly the file that was measured, so
    // a process rolling at the same moment cannot push a fresh log over ".1".
    // The new name is read like any path (relative ones from the current folder)
    // and must end in NUL, which the zeroed buffer's spare character provides.
    const std::u16string name = path + u".1";
    const DWORD name_bytes = static_cast<DWORD>(name.size() * sizeof(char16_t));
    const DWORD info_bytes = static_cast<DWORD>(sizeof(FILE_RENAME_INFO)) + name_bytes;
    std::string buffer(info_bytes, '\0');
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = name_bytes;
    std::memcpy(info->FileName, name.data(), name_bytes);
    SetFileInformationByHandle(handle, FileRenameInfo, info, info_bytes);
  }
  CloseHandle(handle);
}

void make_dir(const std::u16string& path) { CreateDirectoryW(wide(path), nullptr); }

void remove(const std::u16string& path) { DeleteFileW(wide(path)); }

bool append(File file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(bytes.size() < 0x7FFFFFFF ? bytes.size() : 0x7FFFFFFF);
    DWORD written = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(file), bytes.data(), chunk, &written, nullptr) ||
        written == 0)
      return false;
    bytes.remove_prefix(written);
  }
  return true;
}

void close(File file) {
  if (file != kNoFile) CloseHandle(reinterpret_cast<HANDLE>(file));
}

}  // namespace tracelib::sys
