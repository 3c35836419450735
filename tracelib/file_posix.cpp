// POSIX services, used by the native build that the tests run on. Paths are
// the program's Windows paths: '\' separates folders and a path without a
// leading separator (even "C:\...") is taken from the current directory.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include "sys.h"

// At unload (dlclose or process exit) the log file is closed.
__attribute__((destructor)) static void close_log_at_unload() { tracelib::shutdown(); }

namespace tracelib::sys {
namespace {

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;

// The path in UTF-8 with '/' for '\'; empty (which names no file) when memory ran out.
class Native {
 public:
  explicit Native(const char16_t* path, const char* suffix = "") {
    append_utf8(bytes_, std::u16string_view(path));
    bytes_.append(std::string_view(suffix));
    for (std::size_t i = 0; i < bytes_.size(); ++i)
      if (bytes_.data()[i] == '\\') bytes_.data()[i] = '/';
  }
  const char* c_str() const { return bytes_.failed() ? "" : bytes_.c_str(); }

 private:
  Bytes bytes_;
};

}  // namespace

UtcTime now_utc() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm parts{};
  gmtime_r(&now.tv_sec, &parts);
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
          parts.tm_hour,        parts.tm_min,     parts.tm_sec,
          static_cast<int>(now.tv_nsec / 1000000)};
}

std::uint64_t process_id() { return static_cast<std::uint64_t>(getpid()); }
std::uint64_t thread_id() { return static_cast<std::uint64_t>(gettid()); }

void lock() { pthread_mutex_lock(&g_lock); }
void unlock() { pthread_mutex_unlock(&g_lock); }

std::uint64_t ticks_us() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000;
}

// Linux takes the lock below quickly enough that its writers need no queue.
bool enter_queue(File, std::uint64_t&) { return true; }
void leave_queue() {}

void pause(int attempt) {
  if (attempt < 4) {
    sched_yield();
    return;
  }
  const timespec millisecond{0, 1000000};
  nanosleep(&millisecond, nullptr);
}

// As on Windows, the writers' lock is one byte far beyond any real log size. It is
// locked per open file (not per process), so that two opens of the log in one process
// exclude each other as two processes do.
int lock_range(File file, short type) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = 0x7FFFFFFF00000000;
  range.l_len = 1;
  return ::fcntl(static_cast<int>(file), F_OFD_SETLK, &range);
}

Lock try_lock_writers(File file) {
  if (lock_range(file, F_WRLCK) == 0) return Lock::kTaken;
  return errno == EAGAIN || errno == EACCES ? Lock::kBusy : Lock::kNone;
}

void unlock_writers(File file) { lock_range(file, F_UNLCK); }

// O_NOFOLLOW refuses a symbolic link at the name; O_NONBLOCK keeps a FIFO there from
// holding up the open, and inspect() then refuses it as not a regular file.
File open_log(const char16_t* path) {
  return ::open(Native(path).c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
}

bool plain_folder(const char16_t* path) {
  struct stat info {};
  return ::lstat(Native(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

namespace {
bool plain(const struct stat& info) { return S_ISREG(info.st_mode) && info.st_nlink == 1; }
}  // namespace

void roll_over(File file, const char16_t* path, std::uint64_t limit) {
  const Native name(path), copy(path, ".1");
  struct stat own {}, named {}, older {};
  if (::fstat(static_cast<int>(file), &own) != 0 || !plain(own) || static_cast<std::uint64_t>(own.st_size) < limit)
    return;
  // The name must still lead to this file: another process may have rolled it over already.
  if (::lstat(name.c_str(), &named) != 0 || named.st_dev != own.st_dev || named.st_ino != own.st_ino) return;
  if (::lstat(copy.c_str(), &older) == 0 ? plain(older) : errno == ENOENT) ::rename(name.c_str(), copy.c_str());
}

bool inspect(File file, Facts& facts) {
  struct stat info {};
  if (::fstat(static_cast<int>(file), &info) != 0) return false;
  facts = {static_cast<std::uint64_t>(info.st_size), plain(info)};
  return true;
}

bool read_at(File file, std::uint64_t offset, char* out, std::size_t count) {
  while (count > 0) {
    const ssize_t done = ::pread(static_cast<int>(file), out, count, static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    out += done;
    offset += static_cast<std::uint64_t>(done);
    count -= static_cast<std::size_t>(done);
  }
  return true;
}

bool cut(File file, std::uint64_t bytes) { return ::ftruncate(static_cast<int>(file), static_cast<off_t>(bytes)) == 0; }

void make_dir(const char16_t* path) { ::mkdir(Native(path).c_str(), 0777); }

std::size_t append(File file, std::string_view bytes) {
  // O_APPEND makes each write land whole at the end; the loop only matters for rows
  // beyond what one write() accepts, interrupted calls and a full disk (a short write).
  std::size_t total = 0;
  while (total < bytes.size()) {
    const ssize_t done = ::write(static_cast<int>(file), bytes.data() + total, bytes.size() - total);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) break;
    total += static_cast<std::size_t>(done);
  }
  return total;
}

void close(File file) {
  if (file != kNoFile) ::close(static_cast<int>(file));
}

}  // namespace tracelib::sys
