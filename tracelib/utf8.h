// UTF-16 to UTF-8, written once for the log writer and the simulated Windows of the native
// tests. Header only and free of the C++ runtime library, as the log writer needs.
#ifndef TRACELIB_UTF8_H
#define TRACELIB_UTF8_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tracelib {

// Hands put each byte of text as UTF-8, in order; unpaired surrogates become U+FFFD.
template <typename Put>
void encode_utf8(std::u16string_view text, Put put) {
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

}  // namespace tracelib

#endif
