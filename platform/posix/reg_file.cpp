#include "platform/posix/reg_file.h"

#include <algorithm>
#include <cstdint>

#include "platform/posix/text_encoding.h"

namespace qlx::platform::posix {
namespace {

using Text = std::u16string;
using Entry = RegFile::Entry;
using EntryKind = RegFile::EntryKind;

constexpr char16_t kRegedit4Header[] = u"REGEDIT4";
constexpr char16_t kVersion5Header[] = u"Windows Registry Editor Version 5.00";
constexpr char16_t kLocalMachine[] = u"HKEY_LOCAL_MACHINE";
constexpr char kUtf16LeBom[] = "\xFF\xFE";
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
// Hex data is wrapped before a line grows past this many characters.
constexpr std::size_t kHexLineLimit = 76;

// --- lines ---------------------------------------------------------------

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

// The line ending of one physical line: "\r\n", "\n" or none (the last line).
Text LineEndOf(const Text& line) {
  if (line.size() >= 2 && line.compare(line.size() - 2, 2, u"\r\n") == 0) return u"\r\n";
  if (!line.empty() && line.back() == u'\n') return u"\n";
  return Text();
}

Text WithoutLineEnd(const Text& line) {
  return line.substr(0, line.size() - LineEndOf(line).size());
}

std::vector<Text> SplitLines(const Text& text) {
  std::vector<Text> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t newline = text.find(u'\n', start);
    const std::size_t end = newline == Text::npos ? text.size() : newline + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

// The file's own line ending, for the lines that are added to it.
Text DominantLineEnd(const std::vector<Text>& lines) {
  for (const Text& line : lines) {
    const Text end = LineEndOf(line);
    if (!end.empty()) return end;
  }
  return u"\r\n";
}

bool StartsWithIgnoringCase(const Text& text, const Text& prefix) {
  return text.size() >= prefix.size() && EqualIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// --- decoding the file ---------------------------------------------------

bool StartsWith(const std::string& bytes, const char* prefix) {
  return bytes.rfind(prefix, 0) == 0;
}

Text DecodeFile(const std::string& bytes, RegFile::Encoding* encoding) {
  if (StartsWith(bytes, kUtf16LeBom)) {
    *encoding = RegFile::Encoding::kUtf16LeWithBom;
    return Utf16FromLittleEndianBytes(bytes.substr(2));
  }
  if (StartsWith(bytes, kUtf8Bom)) {
    *encoding = RegFile::Encoding::kUtf8WithBom;
    return Utf16FromUtf8(bytes.substr(3));
  }
  *encoding = RegFile::Encoding::kAnsi;
  return Utf16FromAnsi(bytes);
}

std::string EncodeFile(const Text& text, RegFile::Encoding encoding) {
  switch (encoding) {
    case RegFile::Encoding::kUtf16LeWithBom:
      return kUtf16LeBom + LittleEndianBytesFromUtf16(text);
    case RegFile::Encoding::kUtf8WithBom:
      return kUtf8Bom + Utf8FromUtf16(text);
    case RegFile::Encoding::kAnsi:
      break;
  }
  return AnsiFromUtf16(text);
}

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

int HexDigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
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
// starts, past the "=".
std::optional<Text> ParseValueName(const Text& line, std::size_t& data_start) {
  std::size_t pos = 0;
  std::optional<Text> name;
  if (!line.empty() && line[0] == u'@') {
    name = Text();
    pos = 1;
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

// --- entries -----------------------------------------------------------------

bool ContinuesOnNextLine(const Text& content) {
  const Text trimmed = TrimRight(content);
  return !trimmed.empty() && trimmed.back() == u'\\';
}

// A line that is neither a key nor a value: kept as it is.
Entry OtherEntry(const Text& raw) {
  Entry entry;
  entry.raw = raw;
  return entry;
}

Entry ParseKeyLine(const Text& raw, const Text& content) {
  Entry entry;
  entry.kind = EntryKind::kKey;
  entry.raw = raw;
  const std::size_t close = content.rfind(u']');
  const Text path = content.substr(1, close == Text::npos ? Text::npos : close - 1);
  // "[-...]" deletes a key: the values after it belong to no key.
  if (!path.empty() && path[0] == u'-') return entry;
  const std::size_t backslash = path.find(u'\\');
  entry.local_machine = EqualIgnoringCase(path.substr(0, backslash), kLocalMachine);
  entry.key_path = backslash == Text::npos ? Text() : path.substr(backslash + 1);
  return entry;
}

// A value line, joined with the lines its hex data continues on. `next` moves
// past the lines used.
Entry ParseValueLines(const std::vector<Text>& lines, std::size_t& next, bool unicode) {
  Entry entry;
  entry.raw = lines[next];
  Text content = TrimLeft(WithoutLineEnd(lines[next++]));
  std::size_t data_start = 0;
  std::optional<Text> name = ParseValueName(content, data_start);
  if (!name) return entry;
  if (StartsWithIgnoringCase(content.substr(data_start), u"hex")) {
    while (ContinuesOnNextLine(content) && next < lines.size()) {
      content = TrimRight(content);
      content.pop_back();
      content += TrimLeft(WithoutLineEnd(lines[next]));
      entry.raw += lines[next++];
    }
  }
  std::optional<RegistryData> data = ParseData(TrimRight(content.substr(data_start)), unicode);
  if (!data) return entry;
  entry.kind = EntryKind::kValue;
  entry.name = *name;
  entry.data = std::move(*data);
  return entry;
}

Entry ParseEntry(const std::vector<Text>& lines, std::size_t& next, bool unicode) {
  const Text content = TrimLeft(WithoutLineEnd(lines[next]));
  if (!content.empty() && content[0] == u'[') {
    const Text& raw = lines[next++];
    return ParseKeyLine(raw, content);
  }
  if (!content.empty() && (content[0] == u'"' || content[0] == u'@')) {
    return ParseValueLines(lines, next, unicode);
  }
  return OtherEntry(lines[next++]);
}

// Which header the file starts with, if any; blank lines before it are kept.
std::optional<bool> ParseHeader(const std::vector<Text>& lines, std::size_t& next,
                                std::vector<Entry>& entries) {
  for (; next < lines.size(); ++next) {
    const Text content = Trim(WithoutLineEnd(lines[next]));
    if (content.empty()) {
      entries.push_back(OtherEntry(lines[next]));
      continue;
    }
    if (content != kRegedit4Header && content != kVersion5Header) return std::nullopt;
    entries.push_back(OtherEntry(lines[next++]));
    return content == kVersion5Header;
  }
  return std::nullopt;
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

// "xx,xx,..." wrapped as regedit wraps it: a line ends in ",\" and the next
// one starts with two blanks.
Text HexList(const std::vector<unsigned char>& bytes, std::size_t line_length,
             const Text& line_end) {
  Text list;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (line_length + 3 > kHexLineLimit && i > 0) {
      list += u"\\" + line_end + u"  ";
      line_length = 2;
    }
    list += HexDigits(bytes[i], 2);
    if (i + 1 < bytes.size()) list += u',';
    line_length += 3;
  }
  return list;
}

bool IsPlainText(const RegistryData& data) {
  if (data.type != kRegSz || data.bytes.empty() || data.bytes.back() != 0) return false;
  return std::find(data.bytes.begin(), data.bytes.end() - 1, 0) == data.bytes.end() - 1;
}

Text DataText(const RegistryData& data, std::size_t line_length, bool unicode,
              const Text& line_end) {
  if (IsPlainText(data)) {
    const std::string text(data.bytes.begin(), data.bytes.end() - 1);
    return u"\"" + Escaped(Utf16FromAnsi(text)) + u"\"";
  }
  if (data.type == kRegDword && data.bytes.size() == 4) {
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = (number << 8) | data.bytes[static_cast<std::size_t>(i)];
    return u"dword:" + HexDigits(number, 8);
  }
  const Text tag = HexTypeTag(data.type);
  const std::vector<unsigned char> bytes = FileBytesFromData(data.type, data.bytes, unicode);
  return tag + HexList(bytes, line_length + tag.size(), line_end);
}

bool EndsWithLineEnd(const Text& raw) { return !raw.empty() && raw.back() == u'\n'; }

// --- addressing ----------------------------------------------------------------

bool IsKey(const Entry& entry, const Text& key_path) {
  return entry.kind == EntryKind::kKey && entry.local_machine &&
         EqualIgnoringCase(entry.key_path, key_path);
}

bool IsKeyOrBelow(const Entry& entry, const Text& key_path) {
  if (key_path.empty()) return entry.kind == EntryKind::kKey && entry.local_machine;
  if (IsKey(entry, key_path)) return true;
  return entry.kind == EntryKind::kKey && entry.local_machine &&
         entry.key_path.size() > key_path.size() && entry.key_path[key_path.size()] == u'\\' &&
         EqualIgnoringCase(entry.key_path.substr(0, key_path.size()), key_path);
}

// Where a value of a key lies in the file: the last definition wins, as when
// the file is imported.
struct ValueLocation {
  std::optional<std::size_t> value;
  std::optional<std::size_t> end_of_key;  // the key's last section: its last value or header
};

ValueLocation Locate(const std::vector<Entry>& entries, const Text& key_path, const Text& name) {
  ValueLocation location;
  bool in_key = false;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& entry = entries[i];
    if (entry.kind == EntryKind::kKey) {
      in_key = IsKey(entry, key_path);
      if (in_key) location.end_of_key = i;
    } else if (entry.kind == EntryKind::kValue && in_key) {
      location.end_of_key = i;
      if (EqualIgnoringCase(entry.name, name)) location.value = i;
    }
  }
  return location;
}

}  // namespace

std::optional<RegFile> RegFile::Parse(const std::string& file_bytes) {
  RegFile file;
  const std::vector<Text> lines = SplitLines(DecodeFile(file_bytes, &file.encoding_));
  std::size_t next = 0;
  const std::optional<bool> unicode = ParseHeader(lines, next, file.entries_);
  if (!unicode) return std::nullopt;
  file.unicode_ = *unicode;
  file.line_end_ = DominantLineEnd(lines);
  while (next < lines.size()) file.entries_.push_back(ParseEntry(lines, next, file.unicode_));
  return file;
}

std::string RegFile::Serialize() const {
  Text text;
  for (const Entry& entry : entries_) text += entry.raw;
  return EncodeFile(text, encoding_);
}

bool RegFile::HasKey(const std::string& key_path) const {
  const Text path = Utf16FromAnsi(key_path);
  return std::any_of(entries_.begin(), entries_.end(),
                     [&path](const Entry& entry) { return IsKeyOrBelow(entry, path); }) ||
         path.empty();
}

std::optional<RegistryData> RegFile::QueryValue(const std::string& key_path,
                                                const std::string& name) const {
  const ValueLocation location = Locate(entries_, Utf16FromAnsi(key_path), Utf16FromAnsi(name));
  if (!location.value) return std::nullopt;
  return entries_[*location.value].data;
}

bool RegFile::SetValue(const std::string& key_path, const std::string& name,
                       const RegistryData& data) {
  const Text path = Utf16FromAnsi(key_path);
  const Text wide_name = Utf16FromAnsi(name);
  const ValueLocation location = Locate(entries_, path, wide_name);
  if (location.value) {
    Entry& existing = entries_[*location.value];
    // The value keeps its spelling and its own line end.
    existing = MakeValueEntry(existing.name, data, LineEndOf(existing.raw));
    return true;
  }
  if (location.end_of_key) {
    InsertEntry(*location.end_of_key + 1, MakeValueEntry(wide_name, data, line_end_));
    return true;
  }
  if (!HasKey(key_path)) return false;
  AppendKeyWithValue(path, MakeValueEntry(wide_name, data, line_end_));
  return true;
}

RegFile::Entry RegFile::MakeValueEntry(const Text& name, const RegistryData& data,
                                       const Text& line_end) const {
  Entry entry;
  entry.kind = EntryKind::kValue;
  entry.name = name;
  entry.data = data;
  const Text name_part = (name.empty() ? Text(u"@") : u"\"" + Escaped(name) + u"\"") + u"=";
  const Text wrap_end = line_end.empty() ? line_end_ : line_end;
  entry.raw = name_part + DataText(data, name_part.size(), unicode_, wrap_end) + line_end;
  return entry;
}

// The entry before an inserted one must end its line.
void RegFile::InsertEntry(std::size_t position, Entry entry) {
  if (position > 0 && !EndsWithLineEnd(entries_[position - 1].raw)) {
    entries_[position - 1].raw += line_end_;
  }
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(position), std::move(entry));
}

// A key that only exists because keys below it do gets a section of its own.
void RegFile::AppendKeyWithValue(const Text& key_path, Entry value) {
  Entry key;
  key.kind = EntryKind::kKey;
  key.local_machine = true;
  key.key_path = key_path;
  key.raw = line_end_ + u"[" + Text(kLocalMachine) + u"\\" + key_path + u"]" + line_end_;
  InsertEntry(entries_.size(), std::move(key));
  InsertEntry(entries_.size(), std::move(value));
}

}  // namespace qlx::platform::posix
