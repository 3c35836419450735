// Row formatting and the exported calls; everything OS-specific is in sys.h.
#include "tracelib.h"

#include <string_view>

#include "sys.h"
#include "utf8.h"

namespace tracelib {

void append_utf8(Bytes& out, std::u16string_view text) {
  encode_utf8(text, [&out](std::uint32_t bits) { out.push(static_cast<char>(bits)); });
}

namespace {

constexpr std::string_view kHeader = "Time (UTC),Level,Process,Thread,Logger,Message\r\n";

// The open log of this process and what is known about it; all guarded by sys::lock().
sys::LogFile g_file;
// Rows that would take the file beyond this size are dropped: when a roll-over is
// blocked (the ".1" file held open, a folder of that name, a read-only folder), the
// log still stays within twice the roll-over size.
std::uint64_t g_cap = UINT64_MAX;
// The file may end in part of a row (this or another process ran out of space and could
// not cut it back): the next row first cuts the file back to its last CRLF.
bool g_check_tail = false;

// How long this process may wait for the writers' lock, all rows together. A writer holds
// the lock for one write only, so a lock held for longer while the log does not grow
// belongs to something else (a viewer locking the file), and the program's own work must
// not wait on it for more than this. Waiting while the log grows, as other writers take
// their turns, is not counted: with 32 runs at once on two cores a run waited up to
// 126 ms in all, of which up to 20 ms while the log stood still.
constexpr std::uint64_t kWaitBudgetMs = 200;
std::uint64_t g_waited_ms = 0;

// Appends value in decimal, zero-padded to at least width digits.
template <typename Char>
void put_number(Buffer<Char>& out, std::uint64_t value, int width = 1) {
  Char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<Char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (; width > n; --width) out.push('0');
  while (n > 0) out.push(digits[--n]);
}

// Appends one cell. A leading formula character is defused with an apostrophe
// so spreadsheets show the text; separators, quotes and line breaks force quoting.
void put_cell(Bytes& row, std::string_view cell) {
  const bool formula = !cell.empty() && std::string_view("=+-@").find(cell.front()) != std::string_view::npos;
  const bool quoted = cell.find_first_of(",\"\r\n") != std::string_view::npos;
  if (quoted) row.push('"');
  if (formula) row.push('\'');
  if (!quoted) {
    row.append(cell);
    return;
  }
  for (const char ch : cell) {
    if (ch == '"') row.push('"');
    row.push(ch);
  }
  row.push('"');
}

// Builds the whole row, CRLF included; false when memory ran out.
bool format_row(Bytes& row, std::string_view level, const char* logger, const char16_t* line) {
  const sys::UtcTime t = sys::now_utc();
  const struct {
    int value, width;
    char after;
  } stamp[] = {{t.year, 4, '-'},  {t.month, 2, '-'},  {t.day, 2, 'T'},         {t.hour, 2, ':'},
               {t.minute, 2, ':'}, {t.second, 2, '.'}, {t.millisecond, 3, 'Z'}};
  for (const auto& part : stamp) {
    put_number(row, static_cast<std::uint64_t>(part.value), part.width);
    row.push(part.after);
  }
  row.push(',');
  row.append(level);
  row.push(',');
  put_number(row, sys::process_id());
  row.push(',');
  put_number(row, sys::thread_id());
  row.push(',');

  // The logger name should be ASCII; anything else becomes U+FFFD so the file stays UTF-8.
  Bytes text;
  for (const char* p = logger; p != nullptr && *p != '\0'; ++p) {
    if (static_cast<unsigned char>(*p) < 0x80) {
      text.push(*p);
    } else {
      text.append("\xEF\xBF\xBD");
    }
  }
  put_cell(row, text.view());
  row.push(',');
  text.truncate(0);
  if (line != nullptr) append_utf8(text, line);
  put_cell(row, text.view());
  row.append("\r\n");
  return !text.failed() && !row.failed();
}

// Takes the writers' lock, waiting while it is held for as long as the process's
// waiting budget lasts. False when the lock was not taken: from then on every row is
// dropped at once, so the rest of the run goes at full speed.
bool lock_writers(sys::File file) {
  std::uint64_t last = 0, last_size = 0;
  for (int attempt = 0; g_waited_ms < kWaitBudgetMs; ++attempt) {
    if (sys::try_lock_writers(file) != sys::Lock::kBusy) return true;
    const std::uint64_t now = sys::ticks_ms();
    std::uint64_t size = 0;
    const bool moved = sys::size(file, size) && size != last_size;
    if (attempt > 0 && !moved) g_waited_ms += now - last;
    last = now;
    last_size = size;
    sys::pause(attempt);
  }
  return false;
}

// Where the file's whole rows end: just past its last CRLF, 0 when it has none.
// False when the file could not be read.
bool whole_rows_end(sys::File file, std::uint64_t size, std::uint64_t& end) {
  char chunk[2048];  // small enough to need no stack probe, which the library does not link
  std::uint64_t to = size;  // the bytes before `to` are still to be searched
  while (to > 1) {
    const std::uint64_t from = to > sizeof chunk ? to - sizeof chunk : 0;
    if (!sys::read_at(file, from, chunk, static_cast<std::size_t>(to - from))) return false;
    for (std::size_t i = static_cast<std::size_t>(to - from) - 1; i > 0; --i) {
      if (chunk[i - 1] == '\r' && chunk[i] == '\n') {
        end = from + i + 1;
        return true;
      }
    }
    to = from + 1;  // the first byte again, in case a CRLF straddles two chunks
  }
  end = 0;
  return true;
}

// Appends the row whole or not at all, and only within the cap; the caller holds the
// writers' lock, so the file's size is not moved by anybody else meanwhile.
bool append_whole(std::string_view row) {
  std::uint64_t before = 0;
  if (!sys::size(g_file.get(), before)) return false;
  if (g_check_tail) {
    std::uint64_t end = 0;
    if (!whole_rows_end(g_file.get(), before, end) || (end != before && !sys::cut(g_file.get(), end))) return false;
    before = end;
    g_check_tail = false;
  }
  if (before + row.size() > g_cap) return false;
  if (sys::append(g_file.get(), row) == row.size()) return true;
  // A short write (a full disk, a quota): whatever part of the row got in is cut off
  // again, or else the next row (of any process) checks the tail first.
  if (!sys::cut(g_file.get(), before)) g_check_tail = true;
  return false;
}

// Writes one row; a row that could not be built in memory is dropped whole.
int write_row(std::string_view level, const char* logger, const char16_t* line) {
  Bytes row;
  if (!format_row(row, level, logger, line)) return 0;
  sys::lock();
  bool written = false;
  if (g_file.get() != sys::kNoFile && lock_writers(g_file.get())) {
    written = append_whole(row.view());
    sys::unlock_writers(g_file.get());
  }
  sys::unlock();
  return written ? 1 : 0;
}

// Opens the log at path, which the caller just found missing. It is created under
// a private name, given its header and only then published, so no other process can
// append before the header; if another process publishes first, its file is used.
sys::File create_log(const Path& path) {
  for (std::uint64_t attempt = 0; attempt < 4; ++attempt) {
    if (attempt > 0) {
      const sys::File file = sys::open_existing(path.c_str());
      if (file != sys::kNoFile) return file;
    }

    Path temp;
    temp.append(path.view());
    temp.push(u'.');
    put_number(temp, sys::process_id());
    temp.push(u'-');
    put_number(temp, attempt);
    temp.append(u".tmp");
    if (temp.failed()) return sys::kNoFile;
    sys::OwnedFile file(sys::create_new(temp.c_str()));
    if (file.get() == sys::kNoFile) {
      // Most likely the folder is missing: create every folder on the way.
      Path folder;
      for (std::size_t i = 1; i < path.size(); ++i) {
        if (path.view()[i] != u'\\' && path.view()[i] != u'/') continue;
        folder.truncate(0);
        folder.append(path.c_str(), i);
        if (!folder.failed()) sys::make_dir(folder.c_str());
      }
      continue;
    }
    const sys::Publish result = sys::append(file.get(), kHeader) == kHeader.size()
                                    ? sys::publish(temp.c_str(), path.c_str())
                                    : sys::Publish::kFailed;
    if (result == sys::Publish::kDone) return file.release();
    file.reset();  // closed before its temporary name is removed
    sys::remove(temp.c_str());
    if (result == sys::Publish::kFailed) return sys::kNoFile;
  }
  return sys::kNoFile;
}

}  // namespace

// Runs at unload or process exit. It takes no lock: at exit another thread may
// have died holding it, and no call can be running any more.
void shutdown() {
  g_file.reset();
}

}  // namespace tracelib

using namespace tracelib;

extern "C" int LogInitialize(const char*, const char16_t* logFilePath, int maxSizeMiB) {
  sys::lock();
  g_file.reset();
  if (logFilePath != nullptr && *logFilePath != u'\0') {
    Path path;
    path.append(logFilePath, std::char_traits<char16_t>::length(logFilePath));
    if (!path.failed()) {
      // The usual case, a log below its limit, costs one open; only a full one is
      // closed again to be rolled over.
      const std::uint64_t limit = maxSizeMiB > 0 ? static_cast<std::uint64_t>(maxSizeMiB) << 20 : UINT64_MAX;
      std::uint64_t bytes = 0;
      sys::OwnedFile existing(sys::open_existing(path.c_str()));
      if (existing.get() != sys::kNoFile && sys::size(existing.get(), bytes) && bytes >= limit) {
        existing.reset();
        sys::roll_over(path.c_str(), limit);
      }
      g_file.reset(existing.get() != sys::kNoFile ? existing.release() : create_log(path));
      // A file that was there may end in a torn row: the first row checks.
      g_check_tail = true;
      g_cap = limit < UINT64_MAX / 2 ? 2 * limit : UINT64_MAX;
    }
  }
  const bool open = g_file.get() != sys::kNoFile;
  sys::unlock();
  return open ? 1 : 0;
}

extern "C" int LogErrorW(const char* loggerName, const char16_t* line) {
  return write_row("ERROR", loggerName, line);
}

extern "C" int LogWarningW(const char* loggerName, const char16_t* line) {
  return write_row("WARNING", loggerName, line);
}

extern "C" int LogInformationW(const char* loggerName, const char16_t* line) {
  return write_row("INFO", loggerName, line);
}
