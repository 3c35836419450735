// A strict reader of the log's CSV: quoted cells with doubled quotes, every row ending in
// CRLF. Anything else (a stray quote, an unterminated quote, a torn last row) throws.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace test {

using Rows = std::vector<std::vector<std::string>>;

inline Rows ParseCsv(const std::string& text) {
  Rows rows;
  std::vector<std::string> row;
  std::size_t i = 0;
  while (i < text.size()) {
    std::string cell;
    if (text[i] == '"') {
      for (++i;; ++i) {
        if (i >= text.size()) throw std::runtime_error("unterminated quote");
        if (text[i] == '"' && text.compare(i, 2, "\"\"") != 0) break;
        if (text[i] == '"') ++i;
        cell += text[i];
      }
      ++i;
    } else {
      for (; i < text.size() && std::string_view(",\r\n").find(text[i]) == std::string_view::npos; ++i) {
        if (text[i] == '"') throw std::runtime_error("stray quote at byte " + std::to_string(i));
        cell += text[i];
      }
    }
    row.push_back(std::move(cell));
    if (i < text.size() && text[i] == ',') {
      ++i;
      continue;
    }
    if (text.compare(i, 2, "\r\n") != 0) throw std::runtime_error("no CRLF at byte " + std::to_string(i));
    i += 2;
    rows.push_back(std::move(row));
    row.clear();
  }
  return rows;
}

}  // namespace test
