// Row formatting and the exported calls; everything OS-specific is in sys.h.
#include "tracelib.h"

#include <mutex>
#include <string>
#include <string_view>

#include "sys.h"

namespace tracelib {

void append_utf8(std::string& out, std::u16string_view text) {
  auto put = [&out](std::uint32_t bits) { out += static_cast<char>(bits); };
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDFFF) {
      const bool paired = c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                          text[i + 1] <= 0xDFFF;
      c = paired ? 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u) : 0xFFFDu;
    }
    if (c < 0x80) {
      put(c);
    } else if (c < 0x800) {
      put(0xC0 | c >> 6);
      put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      put(0xE0 | c >> 12);
      put(0x80 | (c >> 6 & 0x3F));
      put(0x80 | (c & 0x3F));
    } else {
      put(0xF0 | c >> 18);
      put(0x80 | (c >> 12 & 0x3F));
      put(0x80 | (c >> 6 & 0x3F));
      put(0x80 | (c & 0x3F));
    }
  }
}

namespace {

constexpr std::string_view kHeader = "Time (UTC),Level,Process,Thread,Logger,Message\r\n";

struct Log {
  std::mutex lock;
  sys::File file = sys::kNoFile;
  // Runs at unload or process exit. It takes no lock: at exit another thread
  // may have died holding it, and no call can be running any more.
  ~Log() { sys::close(file); }
};

Log g_log;

// Appends value in decimal, zero-padded to at least width digits.
void put_number(std::string& out, std::uint64_t value, int width = 1) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (; width > n; --width) out += '0';
  while (n > 0) out += digits[--n];
}

// Appends one cell. A leading formula character is defused with an apostrophe
// so spreadsheets show the text; separators, quotes and line breaks force quoting.
void put_cell(std::string& row, std::string_view cell) {
  const std::string_view guard =
      !cell.empty() && std::string_view("=+-@").find(cell.front()) != std::string_view::npos ? "'"
                                                                                              : "";
  if (cell.find_first_of(",\"\r\n") == std::string_view::npos) {
    row += guard;
    row += cell;
    return;
  }
  row += '"';
  row += guard;
  for (const char ch : cell) {
    if (ch == '"') row += '"';
    row += ch;
  }
  row += '"';
}

std::string format_row(std::string_view level, const char* logger, const char16_t* line) {
  const sys::UtcTime t = sys::now_utc();
  const struct {
    int value, width;
    char after;
  } stamp[] = {{t.year, 4, '-'},  {t.month, 2, '-'},  {t.day, 2, 'T'},         {t.hour, 2, ':'},
               {t.minute, 2, ':'}, {t.second, 2, '.'}, {t.millisecond, 3, 'Z'}};
  std::string row;
  for (const auto& part : stamp) {
    put_number(row, part.value, part.width);
    row += part.after;
  }
  row += ',';
  row += level;
  row += ',';
  put_number(row, sys::process_id());
  row += ',';
  put_number(row, sys::thread_id());
  row += ',';

  // The logger name should be ASCII; anything else becomes U+FFFD so the file stays UTF-8.
  std::string text;
  for (const char* p = logger; p != nullptr && *p != '\0'; ++p) {
    if (static_cast<unsigned char>(*p) < 0x80) {
      text += *p;
    } else {
      text += "\xEF\xBF\xBD";
    }
  }
  put_cell(row, text);
  row += ',';
  text.clear();
  if (line != nullptr) append_utf8(text, line);
  put_cell(row, text);
  row += "\r\n";
  return row;
}

int write_row(std::string_view level, const char* logger, const char16_t* line) noexcept {
  try {
    const std::string row = format_row(level, logger, line);
    std::lock_guard<std::mutex> hold(g_log.lock);
    return g_log.file != sys::kNoFile && sys::append(g_log.file, row) ? 1 : 0;
  } catch (...) {  // Out of memory for an enormous line: the call does nothing.
    return 0;
  }
}

// Opens path for appending. A missing file is created under a private name,
// given its header and only then published, so no other process can append
// before the header; if another process publishes first, its file is used.
sys::File open_log(const std::u16string& path) {
  for (std::uint64_t attempt = 0; attempt < 4; ++attempt) {
    sys::File file = sys::open_existing(path);
    if (file != sys::kNoFile) return file;

    std::string suffix = ".";
    put_number(suffix, sys::process_id());
    suffix += '-';
    put_number(suffix, attempt);
    suffix += ".tmp";
    const std::u16string temp = path + std::u16string(suffix.begin(), suffix.end());
    file = sys::create_new(temp);
    if (file == sys::kNoFile) {
      // Most likely the folder is missing: create every folder on the way.
      for (std::size_t i = 1; i < path.size(); ++i)
        if (path[i] == u'\\' || path[i] == u'/') sys::make_dir(path.substr(0, i));
      continue;
    }
    const sys::Publish result =
        sys::append(file, kHeader) ? sys::publish(temp, path) : sys::Publish::kFailed;
    if (result == sys::Publish::kDone) return file;
    sys::close(file);
    sys::remove(temp);
    if (result == sys::Publish::kFailed) return sys::kNoFile;
  }
  return sys::kNoFile;
}

}  // namespace
}  // namespace tracelib

using namespace tracelib;

extern "C" int LogInitialize(const char*, const char16_t* logFilePath, int maxSizeMiB) {
  try {
    std::lock_guard<std::mutex> hold(g_log.lock);
    sys::close(g_log.file);
    g_log.file = sys::kNoFile;
    if (logFilePath == nullptr || *logFilePath == u'\0') return 0;
    const std::u16string path(logFilePath);
    if (maxSizeMiB > 0) sys::roll_over(path, static_cast<std::uint64_t>(maxSizeMiB) << 20);
    g_log.file = open_log(path);
    return g_log.file != sys::kNoFile ? 1 : 0;
  } catch (...) {
    return 0;
  }
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
