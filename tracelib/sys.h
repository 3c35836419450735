// The handful of operating-system services the log writer needs, and the one
// growable buffer it builds rows and paths in. The CSV and UTF-8 work is shared;
// file_win32.cpp and file_posix.cpp each implement the services.
//
// The library uses no part of the C++ runtime library and no exceptions, so that
// loading it costs a process as little as possible: memory comes from malloc, and
// a buffer whose allocation failed says so instead of throwing.
#ifndef TRACELIB_SYS_H
#define TRACELIB_SYS_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace tracelib {

// A growable array of characters, always NUL-terminated once anything was added.
// After a failed allocation it is marked failed and ignores further additions.
template <typename Char>
class Buffer {
 public:
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() { std::free(data_); }

  void append(const Char* text, std::size_t count) {
    if (!reserve(count)) return;
    if (count != 0) std::memcpy(data_ + size_, text, count * sizeof(Char));
    size_ += count;
    data_[size_] = Char();
  }
  void append(std::basic_string_view<Char> text) { append(text.data(), text.size()); }
  void push(Char c) { append(&c, 1); }
  // Drops everything from position `size` on.
  void truncate(std::size_t size) {
    if (size < size_) data_[size_ = size] = Char();
  }

  bool failed() const { return failed_; }
  std::size_t size() const { return size_; }
  Char* data() { return data_; }
  std::basic_string_view<Char> view() const { return {data_ ? data_ : empty(), size_}; }
  const Char* c_str() const { return data_ ? data_ : empty(); }

 private:
  static const Char* empty() {
    static const Char nothing[1] = {};
    return nothing;
  }
  // Room for `more` characters and the NUL after them.
  bool reserve(std::size_t more) {
    if (failed_) return false;
    if (more < capacity_ - size_) return true;
    std::size_t wanted = capacity_ < 128 ? 128 : capacity_;
    while (wanted - size_ <= more) {
      if (wanted > SIZE_MAX / 2 / sizeof(Char)) return fail();
      wanted *= 2;
    }
    Char* grown = static_cast<Char*>(std::realloc(data_, wanted * sizeof(Char)));
    if (grown == nullptr) return fail();
    data_ = grown;
    capacity_ = wanted;
    return true;
  }
  bool fail() {
    failed_ = true;
    return false;
  }

  Char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  bool failed_ = false;
};

using Bytes = Buffer<char>;
using Path = Buffer<char16_t>;

// Appends text as UTF-8; unpaired surrogates become U+FFFD.
void append_utf8(Bytes& out, std::u16string_view text);

// Closes the log; called once, when the library is unloaded or the process ends.
void shutdown();

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

// The lock that keeps this process's threads from writing or re-targeting the log
// at the same time.
void lock();
void unlock();

// A monotonic clock in microseconds (read under lock() only), and a short pause between attempts to take a lock:
// the first attempts only yield, later ones sleep about a millisecond.
std::uint64_t ticks_us();
void pause(int attempt);

// This session's writers of one file may take turns, so that under contention they sleep
// instead of polling the lock below. Waiting counts only while one writer keeps the turn:
// stall_us is what may still be counted, and it is reduced by what this wait counted (to 0
// when it ran out). False when the turn did not come; where there are no turns it is always
// the writer's turn.
bool enter_queue(File file, std::uint64_t& stall_us);
void leave_queue();

// The lock that a writer of a file, in any process, holds for each row, and that a
// foreign program may hold to keep the writers out. kNone: the file system keeps no
// such locks, so there is nothing to wait for.
enum class Lock { kTaken, kBusy, kNone };
// One attempt; never waits.
Lock try_lock_writers(File file);
void unlock_writers(File file);

// Paths arrive as the caller's Windows-style UTF-16 path, NUL-terminated.

// Opens the file at path for appending and reading, creating it when it is missing. A link
// at the name is not followed: the open fails, or gives the link itself, which inspect()
// then reports as not plain.
File open_log(const char16_t* path);

// True when path names a folder itself: not a symbolic link, junction or mount point.
bool plain_folder(const char16_t* path);

// Renames the open log `file`, named path, to path + ".1", replacing an older one, if it
// holds at least limit bytes; only when both names hold plain files (see Facts), or ".1"
// holds nothing. The caller holds the writers' lock, so no row is written meanwhile and a
// process rolling over at the same moment finds the file moved and leaves it be.
void roll_over(File file, const char16_t* path, std::uint64_t limit);

// Best effort: failures (folder exists, no rights) are left to the next open to report.
void make_dir(const char16_t* path);

// What the library needs to know of an open file before it writes.
struct Facts {
  std::uint64_t size;
  // A regular file with exactly one name: not a reparse point or symbolic link, and no
  // second hard link through which the row would land in somebody else's file.
  bool plain;
};
// False when the file cannot be asked.
bool inspect(File file, Facts& facts);
// Reads exactly count bytes from offset; false when that many could not be read.
bool read_at(File file, std::uint64_t offset, char* out, std::size_t count);
// Cuts the file back to bytes long.
bool cut(File file, std::uint64_t bytes);

// Writes the bytes at the end of the file in one write (more only beyond 2 GiB) and
// returns how many were written: fewer when the disk or a quota is full.
std::size_t append(File file, std::string_view bytes);
void close(File file);

// The process's one open log (or kNoFile). It has no destructor, since the library runs
// none at unload: shutdown() resets it, which closes the file.
class LogFile {
 public:
  File get() const { return file_; }
  void reset(File file = kNoFile) {
    close(file_);
    file_ = file;
  }

 private:
  File file_ = kNoFile;
};

// Owns an open file (or kNoFile): closes it when it goes, unless release() handed it on.
class OwnedFile {
 public:
  explicit OwnedFile(File file) : file_(file) {}
  OwnedFile(const OwnedFile&) = delete;
  OwnedFile& operator=(const OwnedFile&) = delete;
  ~OwnedFile() { reset(); }

  File get() const { return file_; }
  File release() {
    const File file = file_;
    file_ = kNoFile;
    return file;
  }
  void reset() { close(release()); }

 private:
  File file_;
};

}  // namespace sys
}  // namespace tracelib

#endif
