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

// How long this process may still wait for the log, all rows together. A writer keeps the
// log for one write only, so a lock held for long, or one turn at the log held for long,
// means something else holds it (a viewer locking the file, a process that keeps it and
// appends, a stalled process), and the program's own work must not be held up by that:
// from then on rows are dropped at once. Taking a free lock does not count, nor does
// waiting in line while the turns pass from writer to writer, each taking one row: that
// line ends, and a row dropped from it would be a row lost for nothing.
std::uint64_t g_budget_us = 200000;

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

// Takes this session's turn at the log and then the writers' lock, waiting while they are
// held for as long as the process's waiting budget lasts. False when either was not taken.
bool lock_writers(sys::File file) {
  if (g_budget_us == 0 || !sys::enter_queue(file, g_budget_us)) return false;
  std::uint64_t since = 0;  // when the lock was first found held; 0 before that
  for (int attempt = 0;; ++attempt) {
    const bool taken = sys::try_lock_writers(file) != sys::Lock::kBusy;
    const std::uint64_t now = sys::ticks_us(), waited = since == 0 ? 0 : now - since;
    if (taken || waited >= g_budget_us) {
      g_budget_us -= waited < g_budget_us ? waited : g_budget_us;
      if (!taken) sys::leave_queue();
      return taken;
    }
    if (since == 0) since = now;
    sys::pause(attempt);
  }
}

void unlock_writers(sys::File file) {
  sys::unlock_writers(file);
  sys::leave_queue();
}

// What must precede a row in a file of `size` bytes: the header in an empty file, a line
// break after bytes that do not end in one (a foreign note, a fragment of a write cut
// short), so that the row starts on a line of its own and every earlier byte stays.
std::string_view lead_for(sys::File file, std::uint64_t size) {
  if (size == 0) return kHeader;
  char tail[2] = {};
  const bool ends_line = size >= 2 && sys::read_at(file, size - 2, tail, 2) && tail[0] == '\r' && tail[1] == '\n';
  return ends_line ? std::string_view() : std::string_view("\r\n");
}

// Appends the row whole or not at all, only within the cap and only to a plain file; the
// caller holds the writers' lock, so the file's size is not moved by anybody else meanwhile.
// The only bytes ever cut are those of this call's own short write.
bool append_whole(std::string_view row) {
  sys::Facts file{};
  if (!sys::inspect(g_file.get(), file) || !file.plain) return false;
  const std::string_view lead = lead_for(g_file.get(), file.size);
  if (file.size + lead.size() + row.size() > g_cap) return false;
  Bytes joined;  // one write, so no other writer's row can come between the two
  if (!lead.empty()) {
    joined.append(lead);
    joined.append(row);
    if (joined.failed()) return false;
    row = joined.view();
  }
  if (sys::append(g_file.get(), row) == row.size()) return true;
  // A short write (a full disk, a quota): whatever part got in is cut off again. Should
  // that fail, the next row still starts on a line of its own (see lead_for).
  sys::cut(g_file.get(), file.size);
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
    unlock_writers(g_file.get());
  }
  sys::unlock();
  return written ? 1 : 0;
}

// Opens (or creates) the log at path, making its missing folders; kNoFile unless the log is
// a plain file in a folder that is no link, so that no row is steered into another file.
// `facts` tells what the opened file held.
sys::File open_plain_log(const Path& path, sys::Facts& facts) {
  const std::u16string_view name = path.view();
  const std::size_t slash = name.find_last_of(u"\\/");
  if (slash != std::u16string_view::npos && slash > 0) {
    Path folder;
    folder.append(path.c_str(), slash);
    if (folder.failed()) return sys::kNoFile;
    if (!sys::plain_folder(folder.c_str())) {
      // Most likely the folder is missing: create every folder on the way.
      for (std::size_t i = 1; i <= slash; ++i) {
        if (name[i] != u'\\' && name[i] != u'/') continue;
        folder.truncate(0);
        folder.append(path.c_str(), i);
        if (!folder.failed()) sys::make_dir(folder.c_str());
      }
      if (folder.failed() || !sys::plain_folder(folder.c_str())) return sys::kNoFile;
    }
  }
  sys::OwnedFile file(sys::open_log(path.c_str()));
  if (file.get() == sys::kNoFile || !sys::inspect(file.get(), facts) || !facts.plain) return sys::kNoFile;
  return file.release();
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
      // The usual case, a log below its limit, costs one open; a full one is rolled over
      // and the fresh file opened.
      const std::uint64_t limit = maxSizeMiB > 0 ? static_cast<std::uint64_t>(maxSizeMiB) << 20 : UINT64_MAX;
      sys::Facts facts{};
      g_file.reset(open_plain_log(path, facts));
      if (g_file.get() != sys::kNoFile && facts.size >= limit) {
        if (lock_writers(g_file.get())) {
          sys::roll_over(g_file.get(), path.c_str(), limit);
          unlock_writers(g_file.get());
        }
        g_file.reset(open_plain_log(path, facts));
      }
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
