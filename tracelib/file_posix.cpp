// POSIX services, used by the native build that the tests run on. Paths are
// the program's Windows paths: '\' separates folders and a path without a
// leading separator (even "C:\...") is taken from the current directory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "sys.h"

namespace tracelib::sys {
namespace {

std::string native(const std::u16string& path) {
  std::string out;
  append_utf8(out, path);
  for (char& ch : out)
    if (ch == '\\') ch = '/';
  return out;
}

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

File open_existing(const std::u16string& path) {
  return ::open(native(path).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
}

File create_new(const std::u16string& path) {
  return ::open(native(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

// A hard link is the portable rename that refuses to replace its target.
Publish publish(const std::u16string& from, const std::u16string& to) {
  const std::string source = native(from);
  if (::link(source.c_str(), native(to).c_str()) != 0)
    return errno == EEXIST ? Publish::kTargetExists : Publish::kFailed;
  ::unlink(source.c_str());
  return Publish::kDone;
}

void roll_over(const std::u16string& path, std::uint64_t limit) {
  const std::string name = native(path);
  struct stat info {};
  if (::stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
      static_cast<std::uint64_t>(info.st_size) >= limit)
    ::rename(name.c_str(), (name + ".1").c_str());
}

void make_dir(const std::u16string& path) { ::mkdir(native(path).c_str(), 0777); }

void remove(const std::u16string& path) { ::unlink(native(path).c_str()); }

bool append(File file, std::string_view bytes) {
  // O_APPEND makes each write land whole at the end; the loop only matters
  // for rows beyond what one write() accepts, and for interrupted calls.
  while (!bytes.empty()) {
    const ssize_t done = ::write(static_cast<int>(file), bytes.data(), bytes.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(done));
  }
  return true;
}

void close(File file) {
  if (file != kNoFile) ::close(static_cast<int>(file));
}

}  // namespace tracelib::sys
