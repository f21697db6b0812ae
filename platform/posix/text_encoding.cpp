#include "platform/posix/text_encoding.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace qlx::platform::posix {
namespace {

// Windows-1252 bytes 0x80-0x9F.
constexpr char16_t kCp1252HighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char16_t kReplacement = 0xFFFD;

char16_t CharacterOfAnsiByte(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return kCp1252HighControls[byte - 0x80];
  return byte;
}

char AnsiByteOf(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  const auto* end = std::end(kCp1252HighControls);
  const auto* found = std::find(std::begin(kCp1252HighControls), end, c);
  if (found == end) return '?';
  return static_cast<char>(0x80 + (found - std::begin(kCp1252HighControls)));
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendUtf16(char32_t code_point, std::u16string& out) {
  if (code_point < 0x10000) {
    out.push_back(static_cast<char16_t>(code_point));
    return;
  }
  code_point -= 0x10000;
  out.push_back(static_cast<char16_t>(0xD800 + (code_point >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + (code_point & 0x3FF)));
}

void AppendUtf8(char32_t code_point, std::string& out) {
  if (code_point < 0x80) {
    out.push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at `pos` and moves past it; U+FFFD for a
// malformed one (consuming one byte).
char32_t DecodeUtf8At(const std::string& utf8, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(utf8[pos++]);
  if (lead < 0x80) return lead;
  int trailing = 0;
  char32_t code_point = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    trailing = 1, code_point = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    trailing = 2, code_point = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    trailing = 3, code_point = lead & 0x07, minimum = 0x10000;
  } else {
    return kReplacement;
  }
  const std::size_t start = pos;
  for (int i = 0; i < trailing; ++i, ++pos) {
    if (pos >= utf8.size() || (static_cast<unsigned char>(utf8[pos]) & 0xC0) != 0x80) {
      pos = start;
      return kReplacement;
    }
    code_point = (code_point << 6) | (static_cast<unsigned char>(utf8[pos]) & 0x3F);
  }
  const bool surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
  if (code_point < minimum || code_point > 0x10FFFF || surrogate) {
    pos = start;
    return kReplacement;
  }
  return code_point;
}

}  // namespace

std::u16string Utf16FromAnsi(const std::string& ansi) {
  std::u16string text;
  text.reserve(ansi.size());
  for (char byte : ansi) text.push_back(CharacterOfAnsiByte(static_cast<unsigned char>(byte)));
  return text;
}

std::string AnsiFromUtf16(const std::u16string& text) {
  std::string ansi;
  ansi.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    // A surrogate pair is one character, and one '?'.
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) ++i;
    ansi.push_back(AnsiByteOf(text[i]));
  }
  return ansi;
}

std::u16string Utf16FromLittleEndianBytes(const std::string& bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto low = static_cast<unsigned char>(bytes[i]);
    const auto high = static_cast<unsigned char>(bytes[i + 1]);
    text.push_back(static_cast<char16_t>(low | (high << 8)));
  }
  return text;
}

std::string LittleEndianBytesFromUtf16(const std::u16string& text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::u16string Utf16FromUtf8(const std::string& utf8) {
  std::u16string text;
  text.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) AppendUtf16(DecodeUtf8At(utf8, pos), text);
  return text;
}

std::string Utf8FromUtf16(const std::u16string& text) {
  std::string utf8;
  utf8.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code_point = text[i];
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      code_point = 0x10000 + ((code_point - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
      code_point = kReplacement;
    }
    AppendUtf8(code_point, utf8);
  }
  return utf8;
}

std::string Utf8FromAnsi(const std::string& ansi) { return Utf8FromUtf16(Utf16FromAnsi(ansi)); }

std::string AnsiFromUtf8(const std::string& utf8) { return AnsiFromUtf16(Utf16FromUtf8(utf8)); }

char16_t FoldCase(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  switch (c) {
    case 0xFF:
      return 0x178;
    case 0x161:  // s with caron
    case 0x153:  // oe
    case 0x17E:  // z with caron
      return static_cast<char16_t>(c - 1);
    default:
      return c;
  }
}

bool EqualIgnoringCase(const std::u16string& a, const std::u16string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return FoldCase(x) == FoldCase(y); });
}

bool EqualIgnoringCase(const std::string& ansi_a, const std::string& ansi_b) {
  return EqualIgnoringCase(Utf16FromAnsi(ansi_a), Utf16FromAnsi(ansi_b));
}

}  // namespace qlx::platform::posix
