#include "logging/format.h"

namespace logging {
namespace {

// Writes through the same code twice: once counting, once storing.
class Sink {
 public:
  explicit Sink(char16_t* out) noexcept : out_(out) {}
  void Put(char16_t c) noexcept {
    if (out_) out_[size_] = c;
    ++size_;
  }
  void Put(std::u16string_view text) noexcept {
    for (const char16_t c : text) Put(c);
  }
  [[nodiscard]] std::size_t size() const noexcept { return size_; }

 private:
  char16_t* out_;
  std::size_t size_ = 0;
};

// A number as printf writes the non-negative ints of the program's formats: %d in decimal,
// %x in lower-case hexadecimal, which the "#" flag gives a "0x" (no format shows a 0 that way).
void PutNumber(Sink& sink, std::int64_t raw, bool hex, bool alternate) {
  auto value = static_cast<std::uint32_t>(raw);
  if (hex && alternate) sink.Put(u"0x");
  const std::uint32_t base = hex ? 16 : 10;
  char16_t digits[10];  // 4294967295, the largest value, has ten digits
  std::size_t n = 0;
  do {
    digits[n++] = u"0123456789abcdef"[value % base];
    value /= base;
  } while (value != 0);
  while (n > 0) sink.Put(digits[--n]);
}

void Expand(Sink& sink, std::u16string_view format, std::initializer_list<FormatArg> args) {
  const FormatArg* next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != u'%') {
      sink.Put(format[i]);
      continue;
    }
    ++i;
    const bool alternate = i < format.size() && format[i] == u'#';
    if (alternate) ++i;
    // A lone "%" at the very end (no format of the program has one) is read as "%%" rather
    // than read past the format.
    const char16_t conversion = i < format.size() ? format[i] : u'%';
    if (conversion != u's' && conversion != u'd' && conversion != u'x') {
      sink.Put(conversion);  // "%%" is a percent sign; any other character stands for itself
    } else if (next != args.end()) {
      const FormatArg& arg = *next++;
      if (arg.isText) sink.Put(arg.text);
      else PutNumber(sink, arg.number, conversion == u'x', alternate);
    }
  }
}

}  // namespace

std::u16string Format(std::u16string_view format, std::initializer_list<FormatArg> args) {
  Sink measure(nullptr);
  Expand(measure, format, args);
  std::u16string result(measure.size(), u'\0');
  Sink write(result.data());
  Expand(write, format, args);
  return result;
}

}  // namespace logging
