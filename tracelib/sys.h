// The handful of operating-system services the log writer needs. The CSV and
// UTF-8 work is shared; file_win32.cpp and file_posix.cpp each implement this.
#ifndef TRACELIB_SYS_H
#define TRACELIB_SYS_H

#include <cstdint>
#include <string>
#include <string_view>

namespace tracelib {

// Appends text as UTF-8; unpaired surrogates become U+FFFD.
void append_utf8(std::string& out, std::u16string_view text);

namespace sys {

// An open file handle or descriptor, kNoFile when there is none.
using File = std::intptr_t;
inline constexpr File kNoFile = -1;

struct UtcTime {
  int year, month, day, hour, minute, second, millisecond;
};

UtcTime now_utc();
std::uint64_t process_id();
std::uint64_t thread_id();

// Paths arrive as the caller's Windows-style UTF-16 path.

// Opens an existing file for appending; never creates one.
File open_existing(const std::u16string& path);
// Creates a file for appending; fails if the name is taken.
File create_new(const std::u16string& path);

enum class Publish { kDone, kTargetExists, kFailed };
// Gives the file at `from` the name `to` without ever replacing a file at `to`.
// Handles open on the file stay valid and follow it.
Publish publish(const std::u16string& from, const std::u16string& to);

// Renames path to path + ".1", replacing an older one, if it holds at least limit bytes.
void roll_over(const std::u16string& path, std::uint64_t limit);

// Best effort: failures (folder exists, no rights) are left to the next open to report.
void make_dir(const std::u16string& path);
void remove(const std::u16string& path);

// Writes all bytes at the end of the file in one write (more only beyond 2 GiB).
bool append(File file, std::string_view bytes);
void close(File file);

}  // namespace sys
}  // namespace tracelib

#endif
