#include "logging/format.h"

#include <algorithm>

namespace logging {
namespace {

struct Directive {
  bool left = false, plus = false, space = false, alternate = false, zero = false;
  int width = 0;
  int precision = -1;
  char16_t conversion = 0;
};

// Writes through the same code twice: once counting, once storing.
class Sink {
 public:
  explicit Sink(char16_t* out) noexcept : out_(out) {}
  void Put(char16_t c) noexcept {
    if (out_) out_[size_] = c;
    ++size_;
  }
  void Put(std::u16string_view text) noexcept {
    if (out_) std::copy(text.begin(), text.end(), out_ + size_);
    size_ += text.size();
  }
  void Pad(char16_t c, std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; ++i) Put(c);
  }
  [[nodiscard]] std::size_t size() const noexcept { return size_; }

 private:
  char16_t* out_;
  std::size_t size_ = 0;
};

class ArgReader {
 public:
  ArgReader(const FormatArg* begin, const FormatArg* end) noexcept : it_(begin), end_(end) {}
  [[nodiscard]] const FormatArg* Next() noexcept { return it_ == end_ ? nullptr : it_++; }

 private:
  const FormatArg* it_;
  const FormatArg* end_;
};

void PutPadded(Sink& sink, const Directive& directive, std::u16string_view prefix, std::u16string_view body,
               std::size_t zeros) {
  const std::size_t length = prefix.size() + zeros + body.size();
  const std::size_t pad = directive.width > 0 && static_cast<std::size_t>(directive.width) > length
                              ? static_cast<std::size_t>(directive.width) - length
                              : 0;
  if (!directive.left && !(directive.zero && directive.precision < 0)) sink.Pad(u' ', pad);
  sink.Put(prefix);
  if (!directive.left && directive.zero && directive.precision < 0) sink.Pad(u'0', pad);
  sink.Pad(u'0', zeros);
  sink.Put(body);
  if (directive.left) sink.Pad(u' ', pad);
}

void PutNumber(Sink& sink, const Directive& directive, std::int64_t raw) {
  const bool isSigned = directive.conversion == u'd' || directive.conversion == u'i';
  const std::int32_t asSigned = static_cast<std::int32_t>(raw);
  const bool negative = isSigned && asSigned < 0;
  std::uint64_t value = isSigned ? (negative ? 0ULL - static_cast<std::uint64_t>(static_cast<std::int64_t>(asSigned))
                                             : static_cast<std::uint64_t>(asSigned))
                                 : static_cast<std::uint32_t>(raw);
  const unsigned base = directive.conversion == u'o' ? 8 : (directive.conversion == u'x' || directive.conversion == u'X') ? 16 : 10;
  const char16_t* digits = directive.conversion == u'X' ? u"0123456789ABCDEF" : u"0123456789abcdef";

  char16_t buffer[24];
  std::size_t n = 0;
  const bool isZero = value == 0;
  while (value != 0) {
    buffer[sizeof buffer / sizeof buffer[0] - ++n] = digits[value % base];
    value /= base;
  }
  std::u16string_view body(buffer + sizeof buffer / sizeof buffer[0] - n, n);
  if (isZero && directive.precision != 0) body = u"0";

  std::u16string_view prefix;
  if (negative) prefix = u"-";
  else if (isSigned && directive.plus) prefix = u"+";
  else if (isSigned && directive.space) prefix = u" ";
  else if (directive.alternate && !isZero && base == 16) prefix = directive.conversion == u'X' ? u"0X" : u"0x";
  else if (directive.alternate && !isZero && base == 8) prefix = u"0";

  const std::size_t zeros =
      directive.precision > 0 && static_cast<std::size_t>(directive.precision) > body.size()
          ? static_cast<std::size_t>(directive.precision) - body.size()
          : 0;
  PutPadded(sink, directive, prefix, body, zeros);
}

void PutArgument(Sink& sink, const Directive& directive, const FormatArg* arg) {
  if (!arg) return;
  if (directive.conversion == u's') {
    if (!arg->isText) return PutNumber(sink, Directive{directive.left, false, false, false, false, directive.width, -1, u'd'}, arg->number);
    std::u16string_view text = arg->text;
    if (directive.precision >= 0) text = text.substr(0, static_cast<std::size_t>(directive.precision));
    return PutPadded(sink, directive, {}, text, 0);
  }
  if (directive.conversion == u'c') {
    const char16_t c = arg->isText ? (arg->text.empty() ? u'\0' : arg->text.front()) : static_cast<char16_t>(arg->number);
    return PutPadded(sink, directive, {}, std::u16string_view(&c, 1), 0);
  }
  if (arg->isText) return PutPadded(sink, directive, {}, arg->text, 0);
  PutNumber(sink, directive, arg->number);
}

// Reads a decimal field or "*", advancing i.
int ReadCount(std::u16string_view format, std::size_t& i, ArgReader& args) {
  if (i < format.size() && format[i] == u'*') {
    ++i;
    const FormatArg* arg = args.Next();
    return arg && !arg->isText ? static_cast<int>(arg->number) : 0;
  }
  int value = 0;
  while (i < format.size() && format[i] >= u'0' && format[i] <= u'9') {
    value = std::min(value * 10 + (format[i] - u'0'), 1 << 20);
    ++i;
  }
  return value;
}

void Expand(Sink& sink, std::u16string_view format, const std::initializer_list<FormatArg>& list) {
  ArgReader args(list.begin(), list.end());
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != u'%') {
      sink.Put(format[i]);
      continue;
    }
    const std::size_t start = i++;
    Directive directive;
    for (; i < format.size(); ++i) {
      const char16_t f = format[i];
      if (f == u'-') directive.left = true;
      else if (f == u'+') directive.plus = true;
      else if (f == u' ') directive.space = true;
      else if (f == u'#') directive.alternate = true;
      else if (f == u'0') directive.zero = true;
      else break;
    }
    directive.width = ReadCount(format, i, args);
    if (directive.width < 0) {
      directive.left = true;
      directive.width = -directive.width;
    }
    if (i < format.size() && format[i] == u'.') {
      ++i;
      directive.precision = std::max(ReadCount(format, i, args), 0);
    }
    while (i < format.size() && (format[i] == u'l' || format[i] == u'h' || format[i] == u'w')) ++i;
    if (i >= format.size()) {
      sink.Put(format.substr(start));
      return;
    }
    directive.conversion = format[i];
    switch (directive.conversion) {
      case u'%': sink.Put(u'%'); break;
      case u'd': case u'i': case u'u': case u'x': case u'X': case u'o': case u'c': case u's':
        PutArgument(sink, directive, args.Next());
        break;
      default: sink.Put(format.substr(start, i - start + 1)); break;
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
