#include "config/properties_file.h"

#include <algorithm>
#include <climits>
#include <memory>

#include "platform/files.h"
#include "platform/platform.h"

namespace qlx {
namespace {

// One read takes at most this many characters and the terminating zero.
constexpr int kLineBufferSize = 200;

std::unique_ptr<platform::File> OpenForReading(const std::string& path, uint32_t* open_error) {
  return platform::Current().files->Open(path, "r", open_error);
}

}  // namespace

bool ScanPropertiesFile(const std::string& path, const PropertyVisitor& visitor,
                        uint32_t* open_error) {
  std::unique_ptr<platform::File> file = OpenForReading(path, open_error);
  if (!file) return false;
  std::string line;
  while (file->ReadLine(kLineBufferSize, &line)) {
    PropertyLine split = SplitPropertyLine(line);
    if (!split.has_separator) continue;
    TrimTrailingWhiteSpace(split.value);
    if (!visitor(split.key, split.value)) break;
  }
  return true;
}

PropertyLine SplitPropertyLine(const std::string& line) {
  const std::string::size_type separator = line.find('=');
  if (separator == std::string::npos) return PropertyLine{line, line, false};
  return PropertyLine{line.substr(0, separator), line.substr(separator + 1), true};
}

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

std::string ReadWholeText(const std::string& path, bool* opened, uint32_t* open_error) {
  std::unique_ptr<platform::File> file = OpenForReading(path, open_error);
  *opened = static_cast<bool>(file);
  std::string text;
  std::string line;
  if (file) {
    while (file->ReadLine(kLineBufferSize, &line)) text += line;
  }
  return text;
}

}  // namespace qlx
