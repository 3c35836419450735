// A MAPI stub whose FGetComponentPath answers as the test wrote in C:\mapistub-answers.txt,
// one rule a line: component|qualifier|result|path, where "*" matches anything and "-" a
// null pointer. Every call is appended to C:\mapistub-calls.txt with all five arguments,
// component|qualifier|buffer|size|install, the buffer as the text it held on entry.
#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#define EXPORT extern "C" __declspec(dllexport)
#else
#define EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
std::string Text(const char* value) { return value ? value : "-"; }
bool Match(const std::string& rule, const std::string& value) { return rule == "*" || rule == value; }
}  // namespace

EXPORT int FGetComponentPath(const char* component, char* qualifier, char* path, unsigned size, int install) {
  if (FILE* calls = std::fopen("C:/mapistub-calls.txt", "a")) {
    const std::string buffer = path ? std::string(path, strnlen(path, size)) : "-";
    std::fprintf(calls, "%s|%s|%s|%u|%d\n", Text(component).c_str(), Text(qualifier).c_str(), buffer.c_str(), size,
                 install);
    std::fclose(calls);
  }
  FILE* answers = std::fopen("C:/mapistub-answers.txt", "r");
  if (!answers) return 0;
  char line[1024];
  int result = 0;
  while (std::fgets(line, sizeof line, answers)) {
    std::string rule(line);
    while (!rule.empty() && (rule.back() == '\n' || rule.back() == '\r')) rule.pop_back();
    const std::size_t a = rule.find('|'), b = rule.find('|', a + 1), c = rule.find('|', b + 1);
    if (c == std::string::npos) continue;
    if (!Match(rule.substr(0, a), Text(component)) || !Match(rule.substr(a + 1, b - a - 1), Text(qualifier))) continue;
    result = std::stoi(rule.substr(b + 1, c - b - 1));
    const std::string answer = rule.substr(c + 1);
    if (size > 0 && path) {
      std::strncpy(path, answer.c_str(), size - 1);
      path[size - 1] = '\0';
    }
    break;
  }
  std::fclose(answers);
  return result;
}
