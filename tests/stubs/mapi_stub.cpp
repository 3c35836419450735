// A MAPI stub whose FGetComponentPath answers as the test wrote in C:\mapistub-answers.txt,
// one rule a line: component|qualifier|result|path, where "*" matches anything and "-" a
// null pointer. Every call is appended to C:\mapistub-calls.txt with all five arguments,
// component|qualifier|buffer|size|install, the buffer as the text it held on entry.
#include <cstdio>
#include <cstring>
#include <string>

#include "export.h"

namespace {
std::string Text(const char* value) { return value ? value : "-"; }
bool Match(const char* rule, const std::string& value) { return std::strcmp(rule, "*") == 0 || rule == value; }
}  // namespace

EXPORT int FGetComponentPath(const char* component, char* qualifier, char* path, unsigned size, int install) {
  if (FILE* calls = std::fopen("C:/mapistub-calls.txt", "a")) {
    const std::string buffer = path ? std::string(path, strnlen(path, size)) : "-";
    std::fprintf(calls, "%s|%s|%s|%u|%d\n", Text(component).c_str(), Text(qualifier).c_str(), buffer.c_str(), size,
                 install);
    std::fclose(calls);
  }
  FILE* answers = std::fopen("C:/mapistub-answers.txt", "r");
  char line[1024], rule[2][256], answer[512] = "";
  int result = 0;
  while (answers && std::fgets(line, sizeof line, answers)) {
    answer[0] = '\0';
    if (std::sscanf(line, "%255[^|]|%255[^|]|%d|%511[^\r\n]", rule[0], rule[1], &result, answer) >= 3 &&
        Match(rule[0], Text(component)) && Match(rule[1], Text(qualifier))) {
      if (size > 0 && path) std::snprintf(path, size, "%s", answer);
      break;
    }
    result = 0;
  }
  if (answers) std::fclose(answers);
  return result;
}
