#include "platform/text.h"

#include <algorithm>
#include <climits>

namespace qlx {

bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string TrimTrailingWhiteSpace(std::string& text) {
  while (!text.empty() && IsWhiteSpace(text.back())) text.pop_back();
  return text;
}

void RemoveWhiteSpace(std::string& text) {
  text.erase(std::remove_if(text.begin(), text.end(), IsWhiteSpace), text.end());
}

int ParseDigits(const std::string& text) {
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return 0;  // not a number this program can use
  }
  return static_cast<int>(value);
}

std::string WithoutTrailingLineBreaks(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace qlx
