#include "platform/posix/reg_file.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/posix/posix_io.h"
#include "platform/posix/reg_line_reader.h"
#include "platform/posix/text_encoding.h"

namespace qlx::platform::posix {
namespace {

using Text = std::u16string;

constexpr char16_t kRegedit4Header[] = u"REGEDIT4";
constexpr char16_t kVersion5Header[] = u"Windows Registry Editor Version 5.00";
constexpr char16_t kLocalMachine[] = u"HKEY_LOCAL_MACHINE";
constexpr std::size_t kLocalMachineLength = sizeof kLocalMachine / sizeof kLocalMachine[0] - 1;
constexpr char16_t kByteOrderMark = 0xFEFF;
constexpr std::size_t kNotFound = Text::npos;
// A value's lines together, continuation lines included.
constexpr std::size_t kMaxValueBytes = 4 * kMaxRegLineBytes;
// Hex data is wrapped once a line has reached this column.
constexpr std::size_t kHexWrapColumn = 77;

// --- characters ------------------------------------------------------------

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

Text TrimLeft(const Text& text) {
  const auto first = std::find_if_not(text.begin(), text.end(), IsBlank);
  return Text(first, text.end());
}

Text TrimRight(const Text& text) {
  const auto last = std::find_if_not(text.rbegin(), text.rend(), IsBlank);
  return Text(text.begin(), last.base());
}

Text Trim(const Text& text) { return TrimRight(TrimLeft(text)); }

bool StartsWithIgnoringCase(const Text& text, const Text& prefix) {
  return text.size() >= prefix.size() && EqualIgnoringCase(text.substr(0, prefix.size()), prefix);
}

int HexDigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

char16_t AnsiCharacter(unsigned char byte) {
  static const std::array<char16_t, 256> kTable = [] {
    std::string bytes(256, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i);
    const Text characters = Utf16FromAnsi(bytes);
    std::array<char16_t, 256> table{};
    std::copy(characters.begin(), characters.end(), table.begin());
    return table;
  }();
  return kTable[byte];
}

// The characters of a line as stored, decoded one at a time so that the
// lines a search passes over cost no copies.
class LineText {
 public:
  LineText(std::string_view bytes, bool utf16) : bytes_(bytes), utf16_(utf16) {}

  std::size_t size() const { return utf16_ ? bytes_.size() / 2 : bytes_.size(); }
  char16_t operator[](std::size_t i) const {
    if (!utf16_) return AnsiCharacter(static_cast<unsigned char>(bytes_[i]));
    const auto low = static_cast<unsigned char>(bytes_[2 * i]);
    const auto high = static_cast<unsigned char>(bytes_[2 * i + 1]);
    return static_cast<char16_t>(low | (high << 8));
  }
  // False for a UTF-16 line that ends in half a character.
  bool whole() const { return !utf16_ || bytes_.size() % 2 == 0; }
  bool readable() const { return whole() && !HasNul(); }

  std::size_t FirstNonBlank() const {
    std::size_t i = 0;
    while (i < size() && IsBlank((*this)[i])) ++i;
    return i;
  }
  // Whether the line's first character other than a blank is c.
  bool StartsWith(char16_t c) const {
    const std::size_t first = FirstNonBlank();
    return first < size() && (*this)[first] == c;
  }
  std::size_t LastIndexOf(char16_t c) const {
    for (std::size_t i = size(); i > 0; --i) {
      if ((*this)[i - 1] == c) return i - 1;
    }
    return kNotFound;
  }
  bool EqualsIgnoringCase(std::size_t at, const Text& text) const {
    if (at + text.size() > size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (FoldCase((*this)[at + i]) != FoldCase(text[i])) return false;
    }
    return true;
  }
  Text Decode() const {
    const std::string bytes(bytes_);
    return utf16_ ? Utf16FromLittleEndianBytes(bytes) : Utf16FromAnsi(bytes);
  }
  std::string_view Prefix(std::size_t characters) const {
    return bytes_.substr(0, utf16_ ? 2 * characters : characters);
  }

 private:
  bool HasNul() const {
    for (std::size_t i = 0; i < size(); ++i) {
      if ((*this)[i] == 0) return true;
    }
    return false;
  }

  std::string_view bytes_;
  bool utf16_;
};

// --- value data ------------------------------------------------------------

bool IsStringType(uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

std::vector<unsigned char> BytesOf(const std::string& text) {
  return std::vector<unsigned char>(text.begin(), text.end());
}

std::string TextOf(const std::vector<unsigned char>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// A version 5 file holds the hex forms of string types as UTF-16LE; the
// program sees them in the ANSI code page.
std::vector<unsigned char> DataFromFileBytes(uint32_t type, std::vector<unsigned char> bytes,
                                             bool unicode) {
  if (!unicode || !IsStringType(type) || bytes.size() % 2 != 0) return bytes;
  return BytesOf(AnsiFromUtf16(Utf16FromLittleEndianBytes(TextOf(bytes))));
}

std::vector<unsigned char> FileBytesFromData(uint32_t type, const std::vector<unsigned char>& bytes,
                                             bool unicode) {
  if (!unicode || !IsStringType(type)) return bytes;
  return BytesOf(LittleEndianBytesFromUtf16(Utf16FromAnsi(TextOf(bytes))));
}

// A hexadecimal number of 1 to max_digits digits.
std::optional<uint32_t> ParseHexNumber(const Text& text, std::size_t max_digits) {
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  uint32_t value = 0;
  for (char16_t c : text) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return value;
}

// What follows a value's data: blanks and perhaps a comment.
Text WithoutComment(const Text& data) { return Trim(data.substr(0, data.find(u';'))); }

// "xx,xx,..." with blanks around the items allowed; an empty list is no bytes.
std::optional<std::vector<unsigned char>> ParseByteList(const Text& list) {
  std::vector<unsigned char> bytes;
  Text items = WithoutComment(list);
  if (!items.empty() && items.back() == u',') items.pop_back();
  if (items.empty()) return bytes;
  for (std::size_t start = 0;;) {
    const std::size_t comma = items.find(u',', start);
    const std::optional<uint32_t> byte =
        ParseHexNumber(Trim(items.substr(start, comma - start)), 2);
    if (!byte) return std::nullopt;
    bytes.push_back(static_cast<unsigned char>(*byte));
    if (comma == Text::npos) return bytes;
    start = comma + 1;
  }
}

// "hex:" is REG_BINARY, "hex(N):" the type N.
std::optional<RegistryData> ParseHexData(const Text& data, bool unicode) {
  RegistryData value;
  std::size_t colon = 3;
  if (data.size() > 3 && data[3] == u'(') {
    const std::size_t close = data.find(u')', 4);
    if (close == Text::npos) return std::nullopt;
    const std::optional<uint32_t> type = ParseHexNumber(data.substr(4, close - 4), 8);
    if (!type) return std::nullopt;
    value.type = *type;
    colon = close + 1;
  } else {
    value.type = kRegBinary;
  }
  if (colon >= data.size() || data[colon] != u':') return std::nullopt;
  std::optional<std::vector<unsigned char>> bytes = ParseByteList(data.substr(colon + 1));
  if (!bytes) return std::nullopt;
  value.bytes = DataFromFileBytes(value.type, std::move(*bytes), unicode);
  return value;
}

std::optional<RegistryData> ParseDwordData(const Text& data) {
  const std::optional<uint32_t> number = ParseHexNumber(WithoutComment(data.substr(6)), 8);
  if (!number) return std::nullopt;
  RegistryData value;
  value.type = kRegDword;
  for (int shift = 0; shift < 32; shift += 8) {
    value.bytes.push_back(static_cast<unsigned char>((*number >> shift) & 0xFF));
  }
  return value;
}

// A quoted text starting at `pos`, with "\\" and "\"" unescaped; `pos` ends
// past the closing quote. A backslash before anything else stays as it is.
std::optional<Text> ParseQuoted(const Text& line, std::size_t& pos) {
  if (pos >= line.size() || line[pos] != u'"') return std::nullopt;
  Text text;
  for (++pos; pos < line.size(); ++pos) {
    const char16_t c = line[pos];
    if (c == u'"') {
      ++pos;
      return text;
    }
    const bool escape =
        c == u'\\' && pos + 1 < line.size() && (line[pos + 1] == u'\\' || line[pos + 1] == u'"');
    text.push_back(escape ? line[++pos] : c);
  }
  return std::nullopt;
}

std::optional<RegistryData> ParseStringData(const Text& data) {
  std::size_t pos = 0;
  std::optional<Text> text = ParseQuoted(data, pos);
  if (!text || !WithoutComment(data.substr(pos)).empty()) return std::nullopt;
  RegistryData value;
  value.type = kRegSz;
  value.bytes = BytesOf(AnsiFromUtf16(*text));
  value.bytes.push_back(0);
  return value;
}

// The data after "=": a quoted text, dword:, hex: or hex(N):. A deletion
// ("-") or anything else is no value.
std::optional<RegistryData> ParseData(const Text& data, bool unicode) {
  if (!data.empty() && data[0] == u'"') return ParseStringData(data);
  if (StartsWithIgnoringCase(data, u"dword:")) return ParseDwordData(data);
  if (StartsWithIgnoringCase(data, u"hex")) return ParseHexData(data, unicode);
  return std::nullopt;
}

// The value's name ("@" is the default value, named "") and where its data
// starts, past the "=" and the blanks after it.
std::optional<Text> ParseValueName(const Text& line, std::size_t& data_start) {
  std::size_t pos = 0;
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  std::optional<Text> name;
  if (pos < line.size() && line[pos] == u'@') {
    name = Text();
    ++pos;
  } else {
    name = ParseQuoted(line, pos);
  }
  if (!name) return std::nullopt;
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  if (pos >= line.size() || line[pos] != u'=') return std::nullopt;
  ++pos;
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  data_start = pos;
  return name;
}

// Hex data whose line ends in a backslash goes on in the next line.
bool ContinuesOnNextLine(const Text& data) {
  const Text trimmed = TrimRight(data);
  return !trimmed.empty() && trimmed.back() == u'\\';
}

// --- writing values ----------------------------------------------------------

Text Escaped(const Text& text) {
  Text escaped;
  for (char16_t c : text) {
    if (c == u'\\' || c == u'"') escaped.push_back(u'\\');
    escaped.push_back(c);
  }
  return escaped;
}

Text HexDigits(uint32_t value, int digits) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  Text text(static_cast<std::size_t>(digits), u'0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4)
    text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
  return text;
}

Text HexTypeTag(uint32_t type) {
  if (type == kRegBinary) return u"hex:";
  Text digits = HexDigits(type, 8);
  digits.erase(0, std::min(digits.find_first_not_of(u'0'), digits.size() - 1));
  return u"hex(" + digits + u"):";
}

// "xx,xx,..." wrapped as regedit wraps it: once a line reaches the wrap
// column after an item, it ends in ",\" and the next one starts with two
// blanks. `column` is where the list starts in its line.
Text HexList(const std::vector<unsigned char>& bytes, std::size_t column, const Text& line_end) {
  Text list;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    list += HexDigits(bytes[i], 2);
    if (i + 1 == bytes.size()) break;
    list += u',';
    column += 3;
    if (column >= kHexWrapColumn) {
      list += u"\\" + line_end + u"  ";
      column = 2;
    }
  }
  return list;
}

// A one-line text that a quoted string holds exactly: a line end inside the
// quotes would end the value's line and make the rest of it lines of their own.
bool IsPlainText(const RegistryData& data) {
  if (data.type != kRegSz || data.bytes.empty() || data.bytes.back() != 0) return false;
  const auto breaks_the_quotes = [](unsigned char c) { return c == 0 || c == '\r' || c == '\n'; };
  return std::find_if(data.bytes.begin(), data.bytes.end() - 1, breaks_the_quotes) ==
         data.bytes.end() - 1;
}

Text DataText(const RegistryData& data, std::size_t line_length, bool unicode,
              const Text& line_end) {
  if (IsPlainText(data)) {
    const std::string text(data.bytes.begin(), data.bytes.end() - 1);
    return u"\"" + Escaped(Utf16FromAnsi(text)) + u"\"";
  }
  const Text tag = HexTypeTag(data.type);
  const std::vector<unsigned char> bytes = FileBytesFromData(data.type, data.bytes, unicode);
  return tag + HexList(bytes, line_length + tag.size(), line_end);
}

// --- reading the file --------------------------------------------------------

bool StartsWithUtf16ByteOrderMark(int fd) {
  unsigned char start[2] = {};
  return ::pread(fd, start, sizeof start, 0) == 2 && start[0] == 0xFF && start[1] == 0xFE;
}

// One reading of the export, from its first byte.
class Pass {
 public:
  explicit Pass(int fd, RegLineReader::Sink sink = nullptr)
      : utf16_(StartsWithUtf16ByteOrderMark(fd)), reader_(fd, utf16_ ? 2 : 1, std::move(sink)) {
    is_export_ = ReadHeader();
  }

  bool is_export() const { return is_export_; }
  RegLineReader& reader() { return reader_; }
  bool utf16() const { return utf16_; }
  bool unicode() const { return unicode_; }
  const Text& header_line_end() const { return header_line_end_; }

 private:
  // Blank lines may come before the header; anything else makes the file no
  // export.
  bool ReadHeader() {
    while (const std::optional<RegLine> line = reader_.NextLine()) {
      if (line->overlong) return false;
      Text text = LineText(line->bytes, utf16_).Decode();
      if (utf16_ && line->offset == 0 && !text.empty() && text[0] == kByteOrderMark) {
        text.erase(0, 1);
      }
      text = Trim(text);
      if (text.empty()) continue;
      if (text != kRegedit4Header && text != kVersion5Header) return false;
      unicode_ = text == kVersion5Header;
      const Text line_end = LineText(line->line_end, utf16_).Decode();
      header_line_end_ = line_end.empty() ? Text(u"\r\n") : line_end;
      return true;
    }
    return false;
  }

  bool utf16_;
  RegLineReader reader_;
  bool is_export_ = false;
  bool unicode_ = false;
  Text header_line_end_;
};

enum class KeyMatch { kOther, kBelow, kSame };

// How a key line relates to the key: "[HKEY_LOCAL_MACHINE\path]", the path
// running to the line's last "]". A deletion ("[-...]"), another root or a
// line that cannot be read names no key of ours.
KeyMatch MatchKeyLine(const RegLine& line, bool utf16, const Text& key_path) {
  if (line.overlong) return KeyMatch::kOther;
  const LineText text(line.bytes, utf16);
  const std::size_t root = text.FirstNonBlank() + 1;
  const std::size_t root_end = root + kLocalMachineLength;
  // Most key lines are told apart by the one character after where the
  // key's path would end, before any character is compared.
  const std::size_t rest = root_end + 1 + key_path.size();
  if (!key_path.empty() && (rest >= text.size() || (text[rest] != u']' && text[rest] != u'\\'))) {
    return KeyMatch::kOther;
  }
  const std::size_t close = text.LastIndexOf(u']');
  if (close == kNotFound || close < root_end || !text.EqualsIgnoringCase(root, kLocalMachine)) {
    return KeyMatch::kOther;
  }
  KeyMatch match = KeyMatch::kOther;
  if (close == root_end) {
    match = key_path.empty() ? KeyMatch::kSame : KeyMatch::kOther;
  } else if (text[root_end] == u'\\') {
    const std::size_t path = root_end + 1;
    if (rest <= close && text.EqualsIgnoringCase(path, key_path)) {
      if (rest == close) match = KeyMatch::kSame;
      if (rest < close && (key_path.empty() || text[rest] == u'\\')) match = KeyMatch::kBelow;
    }
  }
  return match != KeyMatch::kOther && text.readable() ? match : KeyMatch::kOther;
}

// A definition as far as its first line tells: the data starts at
// `data_start` (in characters).
RegValueDefinition DefinitionStart(const Pass& pass, const RegLine& first, std::size_t data_start) {
  const LineText text(first.bytes, pass.utf16());
  RegValueDefinition definition;
  definition.begin = first.offset;
  definition.end = first.end_offset();
  definition.name_part = std::string(text.Prefix(data_start));
  definition.line_end = std::string(first.line_end);
  definition.wrap_line_end = LineText(first.line_end, pass.utf16()).Decode();
  if (definition.wrap_line_end.empty()) definition.wrap_line_end = pass.header_line_end();
  definition.utf16 = pass.utf16();
  definition.unicode = pass.unicode();
  return definition;
}

// Joins to `data` the hex data continued on the lines from `next` on, which
// start with a hex digit; `next` ends as the line after the last of them.
// False when the data is cut short or a continuation cannot be read.
bool JoinContinuationLines(Pass& pass, Text& data, RegValueDefinition& definition,
                           std::optional<RegLine>& next) {
  std::size_t size = definition.end - definition.begin;
  while (StartsWithIgnoringCase(data, u"hex") && ContinuesOnNextLine(data)) {
    const LineText more = next ? LineText(next->bytes, pass.utf16()) : LineText({}, false);
    const std::size_t first_character = more.FirstNonBlank();
    if (!next || first_character >= more.size() || HexDigitValue(more[first_character]) < 0) {
      return false;
    }
    size += next->bytes.size();
    if (next->overlong || !more.readable() || size > kMaxValueBytes) return false;
    data = TrimRight(data);
    data.pop_back();
    data += TrimLeft(more.Decode());
    definition.end = next->end_offset();
    definition.line_end = std::string(next->line_end);
    next = pass.reader().NextLine();
  }
  return true;
}

// Reads the definition of the value whose first line has been read. *found
// becomes the definition, or nothing when it cannot be read or deletes the
// value. Returns the line after it.
std::optional<RegLine> ReadDefinition(Pass& pass, const RegLine& first, std::size_t data_start,
                                      std::optional<RegValueDefinition>* found) {
  RegValueDefinition definition = DefinitionStart(pass, first, data_start);
  const LineText text(first.bytes, pass.utf16());
  Text data = text.Decode().substr(data_start);
  const bool first_readable = !first.overlong && text.readable();
  std::optional<RegLine> next = pass.reader().NextLine();
  std::optional<RegistryData> value;
  if (first_readable && JoinContinuationLines(pass, data, definition, next)) {
    value = ParseData(TrimRight(data), pass.unicode());
  }
  if (value) definition.data = std::move(*value);
  *found = value ? std::optional<RegValueDefinition>(std::move(definition)) : std::nullopt;
  return next;
}

// Reads the lines of a section of the key up to the next key line, which it
// returns; a definition of the value there becomes *found.
std::optional<RegLine> ReadSection(Pass& pass, const Text& name,
                                   std::optional<RegValueDefinition>* found) {
  std::optional<RegLine> line = pass.reader().NextLine();
  while (line) {
    const LineText text(line->bytes, pass.utf16());
    if (text.StartsWith(u'[')) return line;
    std::size_t data_start = 0;
    const bool value_line = text.StartsWith(u'"') || text.StartsWith(u'@');
    const std::optional<Text> line_name =
        value_line ? ParseValueName(text.Decode(), data_start) : std::nullopt;
    if (line_name && EqualIgnoringCase(*line_name, name)) {
      line = ReadDefinition(pass, *line, data_start, found);
    } else {
      line = pass.reader().NextLine();
    }
  }
  return std::nullopt;
}

// Reads the pass to its end; the last definition of the value in a section
// of the key.
std::optional<RegValueDefinition> FindInPass(Pass& pass, const std::string& key_path,
                                             const std::string& name) {
  const Text key = Utf16FromAnsi(key_path);
  const Text wide_name = Utf16FromAnsi(name);
  std::optional<RegValueDefinition> found;
  std::optional<RegLine> line = pass.reader().NextSectionLine();
  while (line) {
    if (MatchKeyLine(*line, pass.utf16(), key) == KeyMatch::kSame) {
      line = ReadSection(pass, wide_name, &found);
    } else {
      line = pass.reader().NextSectionLine();
    }
  }
  return found;
}

// Writes what it is given to a file, except that the bytes [begin, end) of
// the input are replaced.
class SplicingWriter {
 public:
  SplicingWriter(int fd, std::uint64_t begin, std::uint64_t end, const std::string& replacement)
      : fd_(fd), begin_(begin), end_(end), replacement_(replacement) {}

  int operator()(const char* data, std::size_t size) {
    const std::uint64_t offset = offset_;
    offset_ += size;
    std::size_t kept = 0;
    if (offset < begin_)
      kept = static_cast<std::size_t>(std::min<std::uint64_t>(size, begin_ - offset));
    if (const int error = WriteAll(fd_, data, kept)) return error;
    if (kept == size) return 0;
    if (!replaced_) {
      replaced_ = true;
      if (const int error = WriteAll(fd_, replacement_.data(), replacement_.size())) return error;
    }
    const std::uint64_t rest_offset = offset + kept;
    std::size_t skipped = 0;
    if (rest_offset < end_) {
      skipped = static_cast<std::size_t>(std::min<std::uint64_t>(size - kept, end_ - rest_offset));
    }
    return WriteAll(fd_, data + kept + skipped, size - kept - skipped);
  }

 private:
  int fd_;
  std::uint64_t begin_;
  std::uint64_t end_;
  const std::string& replacement_;
  std::uint64_t offset_ = 0;
  bool replaced_ = false;
};

}  // namespace

bool SameLines(const RegValueDefinition& a, const RegValueDefinition& b) {
  return a.begin == b.begin && a.end == b.end && a.name_part == b.name_part &&
         a.line_end == b.line_end && a.wrap_line_end == b.wrap_line_end && a.utf16 == b.utf16 &&
         a.unicode == b.unicode;
}

bool ExportHasKey(int fd, const std::string& key_path) {
  Pass pass(fd);
  if (!pass.is_export()) return false;
  const Text key = Utf16FromAnsi(key_path);
  if (key.empty()) return true;
  while (const std::optional<RegLine> line = pass.reader().NextSectionLine()) {
    if (MatchKeyLine(*line, pass.utf16(), key) != KeyMatch::kOther) return true;
  }
  return false;
}

ExportRoots ReadExportRoots(int fd) {
  Pass pass(fd);
  ExportRoots roots;
  roots.is_export = pass.is_export();
  if (!roots.is_export) return roots;
  while (const std::optional<RegLine> line = pass.reader().NextSectionLine()) {
    const LineText text(line->bytes, pass.utf16());
    std::size_t root = text.FirstNonBlank() + 1;
    if (root < text.size() && text[root] == u'-') ++root;
    const std::size_t root_end = root + kLocalMachineLength;
    const bool local_machine =
        text.EqualsIgnoringCase(root, kLocalMachine) &&
        (root_end == text.size() || text[root_end] == u'\\' || text[root_end] == u']');
    if (!local_machine) {
      roots.foreign_key = Utf8FromUtf16(Trim(text.Decode()));
      break;
    }
  }
  return roots;
}

std::optional<RegValueDefinition> FindValueDefinition(int fd, const std::string& key_path,
                                                      const std::string& name) {
  Pass pass(fd);
  if (!pass.is_export()) return std::nullopt;
  std::optional<RegValueDefinition> found = FindInPass(pass, key_path, name);
  if (pass.reader().error() != 0) return std::nullopt;
  return found;
}

std::string ReplacementLines(const RegValueDefinition& definition, const RegistryData& data) {
  const std::size_t name_length = definition.name_part.size() / (definition.utf16 ? 2 : 1);
  const Text text = DataText(data, name_length, definition.unicode, definition.wrap_line_end);
  const std::string encoded =
      definition.utf16 ? LittleEndianBytesFromUtf16(text) : AnsiFromUtf16(text);
  return definition.name_part + encoded + definition.line_end;
}

ReplacementCopy CopyWithReplacement(int in_fd, int out_fd, const std::string& key_path,
                                    const std::string& name, const RegValueDefinition& planned,
                                    const std::string& replacement) {
  SplicingWriter writer(out_fd, planned.begin, planned.end, replacement);
  Pass pass(in_fd, std::ref(writer));
  ReplacementCopy copy;
  if (pass.is_export()) copy.found = FindInPass(pass, key_path, name);
  // Whatever the search left unread is copied all the same.
  while (pass.reader().NextSectionLine()) {
  }
  copy.error = pass.reader().error();
  copy.bytes_copied = pass.reader().bytes_read();
  return copy;
}

}  // namespace qlx::platform::posix
