#include "platform/posix/trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <set>

#include "platform/posix/posix_io.h"
#include "platform/posix/text_encoding.h"

namespace qlx::platform::posix {
namespace {

constexpr char kTraceFileVariable[] = "QLX_TRACE_FILE";

std::string HexBytes(const std::vector<unsigned char>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const unsigned char byte : bytes) {
    if (!text.empty()) text.push_back(',');
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0xF]);
  }
  return text;
}

// The text of a string value without its terminating zero.
std::string StringText(const std::vector<unsigned char>& bytes) {
  std::string ansi(bytes.begin(), bytes.end());
  while (!ansi.empty() && ansi.back() == '\0') ansi.pop_back();
  return Utf8FromAnsi(ansi);
}

}  // namespace

std::string TraceField(const std::string& text) {
  std::string field;
  for (const char c : text) {
    switch (c) {
      case '\\':
        field += "\\\\";
        break;
      case '\t':
        field += "\\t";
        break;
      case '\r':
        field += "\\r";
        break;
      case '\n':
        field += "\\n";
        break;
      default:
        field.push_back(c);
    }
  }
  return field;
}

void Trace(const std::vector<std::string>& fields) {
  const std::string path = EnvironmentOr(kTraceFileVariable, "");
  if (path.empty()) return;
  std::string line;
  for (const std::string& field : fields) {
    if (!line.empty()) line.push_back('\t');
    line += TraceField(field);
  }
  line.push_back('\n');
  const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
  if (fd) WriteAll(fd.get(), line.data(), line.size());
}

std::string RegistryTypeName(uint32_t type) {
  switch (type) {
    case kRegNone:
      return "REG_NONE";
    case kRegSz:
      return "REG_SZ";
    case kRegExpandSz:
      return "REG_EXPAND_SZ";
    case kRegBinary:
      return "REG_BINARY";
    case kRegDword:
      return "REG_DWORD";
    case kRegDwordBigEndian:
      return "REG_DWORD_BIG_ENDIAN";
    case kRegLink:
      return "REG_LINK";
    case kRegMultiSz:
      return "REG_MULTI_SZ";
    case kRegQword:
      return "REG_QWORD";
    default:
      return std::to_string(type);
  }
}

std::string RegistryDataText(const RegistryData& data) {
  if (data.type == kRegSz || data.type == kRegExpandSz) return StringText(data.bytes);
  if (data.type == kRegDword && data.bytes.size() == 4) {
    uint32_t number = 0;
    for (std::size_t i = 4; i > 0; --i) number = (number << 8) | data.bytes[i - 1];
    return std::to_string(number);
  }
  return HexBytes(data.bytes);
}

void NoteOnce(const std::string& line) {
  static std::mutex mutex;
  static std::set<std::string> written;
  const std::lock_guard<std::mutex> lock(mutex);
  if (!written.insert(line).second) return;
  const std::string text = "qlxpatch: " + line + "\n";
  WriteAll(STDERR_FILENO, text.data(), text.size());
}

}  // namespace qlx::platform::posix
