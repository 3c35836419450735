#include "logging/format.h"

#include <algorithm>

namespace logging {
namespace {

struct Spec {
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

void PutPadded(Sink& sink, const Spec& spec, std::u16string_view prefix, std::u16string_view body,
               std::size_t zeros) {
  const std::size_t length = prefix.size() + zeros + body.size();
  const std::size_t pad = spec.width > 0 && static_cast<std::size_t>(spec.width) > length
                              ? static_cast<std::size_t>(spec.width) - length
                              : 0;
  if (!spec.left && !(spec.zero && spec.precision < 0)) sink.Pad(u' ', pad);
  sink.Put(prefix);
  if (!spec.left && spec.zero && spec.precision < 0) sink.Pad(u'0', pad);
  sink.Pad(u'0', zeros);
  sink.Put(body);
  if (spec.left) sink.Pad(u' ', pad);
}

void PutNumber(Sink& sink, const Spec& spec, std::int64_t raw) {
  const bool isSigned = spec.conversion == u'd' || spec.conversion == u'i';
  const std::int32_t asSigned = static_cast<std::int32_t>(raw);
  const bool negative = isSigned && asSigned < 0;
  std::uint64_t value = isSigned ? (negative ? 0ULL - static_cast<std::uint64_t>(static_cast<std::int64_t>(asSigned))
                                             : static_cast<std::uint64_t>(asSigned))
                                 : static_cast<std::uint32_t>(raw);
  const unsigned base = spec.conversion == u'o' ? 8 : (spec.conversion == u'x' || spec.conversion == u'X') ? 16 : 10;
  const char16_t* digits = spec.conversion == u'X' ? u"0123456789ABCDEF" : u"0123456789abcdef";

  char16_t buffer[24];
  std::size_t n = 0;
  const bool isZero = value == 0;
  while (value != 0) {
    buffer[sizeof buffer / sizeof buffer[0] - ++n] = digits[value % base];
    value /= base;
  }
  std::u16string_view body(buffer + sizeof buffer / sizeof buffer[0] - n, n);
  if (isZero && spec.precision != 0) body = u"0";

  std::u16string_view prefix;
  if (negative) prefix = u"-";
  else if (isSigned && spec.plus) prefix = u"+";
  else if (isSigned && spec.space) prefix = u" ";
  else if (spec.alternate && !isZero && base == 16) prefix = spec.conversion == u'X' ? u"0X" : u"0x";
  else if (spec.alternate && !isZero && base == 8) prefix = u"0";

  const std::size_t zeros =
      spec.precision > 0 && static_cast<std::size_t>(spec.precision) > body.size()
          ? static_cast<std::size_t>(spec.precision) - body.size()
          : 0;
  PutPadded(sink, spec, prefix, body, zeros);
}

void PutArgument(Sink& sink, const Spec& spec, const FormatArg* arg) {
  if (!arg) return;
  if (spec.conversion == u's') {
    if (!arg->isText) return PutNumber(sink, Spec{spec.left, false, false, false, false, spec.width, -1, u'd'}, arg->number);
    std::u16string_view text = arg->text;
    if (spec.precision >= 0) text = text.substr(0, static_cast<std::size_t>(spec.precision));
    return PutPadded(sink, spec, {}, text, 0);
  }
  if (spec.conversion == u'c') {
    const char16_t c = arg->isText ? (arg->text.empty() ? u'\0' : arg->text.front()) : static_cast<char16_t>(arg->number);
    return PutPadded(sink, spec, {}, std::u16string_view(&c, 1), 0);
  }
  if (arg->isText) return PutPadded(sink, spec, {}, arg->text, 0);
  PutNumber(sink, spec, arg->number);
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
    Spec spec;
    for (; i < format.size(); ++i) {
      const char16_t f = format[i];
      if (f == u'-') spec.left = true;
      else if (f == u'+') spec.plus = true;
      else if (f == u' ') spec.space = true;
      else if (f == u'#') spec.alternate = true;
      else if (f == u'0') spec.zero = true;
      else break;
    }
    spec.width = ReadCount(format, i, args);
    if (spec.width < 0) {
      spec.left = true;
      spec.width = -spec.width;
    }
    if (i < format.size() && format[i] == u'.') {
      ++i;
      spec.precision = std::max(ReadCount(format, i, args), 0);
    }
    while (i < format.size() && (format[i] == u'l' || format[i] == u'h' || format[i] == u'w')) ++i;
    if (i >= format.size()) {
      sink.Put(format.substr(start));
      return;
    }
    spec.conversion = format[i];
    switch (spec.conversion) {
      case u'%': sink.Put(u'%'); break;
      case u'd': case u'i': case u'u': case u'x': case u'X': case u'o': case u'c': case u's':
        PutArgument(sink, spec, args.Next());
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
