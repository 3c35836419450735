// printf-style expansion of UTF-16 formats, with the Microsoft meaning of %s (wide text).
#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace logging {

// One argument of a format: a number or a wide text. Holds no copy of the text.
struct FormatArg {
  FormatArg(std::u16string_view value) noexcept : isText(true), text(value) {}
  FormatArg(const char16_t* value) noexcept : isText(true), text(value ? value : u"(null)") {}
  FormatArg(const std::u16string& value) noexcept : isText(true), text(value) {}
  template <std::integral T>
  FormatArg(T value) noexcept : isText(false), number(static_cast<std::int64_t>(value)) {}

  bool isText;
  std::int64_t number = 0;
  std::u16string_view text;
};

// Expands format with args by the printf rules for what the program's formats use: %s (a
// wide text), %d, %x and %#x (numbers taken as unsigned 32-bit: every number the program
// logs is non-negative, and none is shown as %#x when it is 0) and %%. A missing argument
// expands to nothing; "%" before any other character gives that character. The length is
// measured first, then the result is written into exactly that room.
[[nodiscard]] std::u16string Format(std::u16string_view format, std::initializer_list<FormatArg> args);

}  // namespace logging
