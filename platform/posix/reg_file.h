#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace qlx::platform::posix {

// A registry export file, "REGEDIT4" or "Windows Registry Editor Version
// 5.00", in the encodings regedit writes (ANSI, or UTF-16LE with its byte
// order mark) or UTF-8 with a byte order mark.
//
// The file is kept as its own lines, so changing a value rewrites that value's
// lines only and every other byte (comments, order, spelling, line ends) stays
// as it was.
//
// Keys are addressed by their path below HKEY_LOCAL_MACHINE (the only root the
// program uses); paths and value names compare case-insensitively, and "" names
// the default value ("@"). Names and data are ANSI (see text_encoding.h): a
// value's data is what RegQueryValueExA gives a narrow program, so a string
// type holds its text in the ANSI code page with the terminating zero. Version
// 5 files store the hex forms of string types as UTF-16LE; they are converted
// on the way in and out.
class RegFile {
 public:
  // Nothing when the bytes are not a registry export (no header line).
  static std::optional<RegFile> Parse(const std::string& file_bytes);
  // The file again, in the encoding and with the header it came with.
  std::string Serialize() const;

  // A key exists when a section names it or a key below it.
  bool HasKey(const std::string& key_path) const;
  std::optional<RegistryData> QueryValue(const std::string& key_path,
                                         const std::string& name) const;
  // Replaces the value's lines, or adds the value at the end of its key;
  // false when the key does not exist.
  bool SetValue(const std::string& key_path, const std::string& name, const RegistryData& data);

  enum class Encoding { kAnsi, kUtf8WithBom, kUtf16LeWithBom };
  enum class EntryKind { kOther, kKey, kValue };
  // One line of the file, or for a value all the lines it continues over.
  struct Entry {
    EntryKind kind = EntryKind::kOther;
    std::u16string raw;          // as in the file, line ends included
    bool local_machine = false;  // kKey: a key below HKEY_LOCAL_MACHINE
    std::u16string key_path;     // kKey: its path below the root
    std::u16string name;         // kValue
    RegistryData data;           // kValue
  };

 private:
  RegFile() = default;
  void InsertEntry(std::size_t position, Entry entry);
  void AppendKeyWithValue(const std::u16string& key_path, Entry value);
  Entry MakeValueEntry(const std::u16string& name, const RegistryData& data,
                       const std::u16string& line_end) const;

  Encoding encoding_ = Encoding::kAnsi;
  bool unicode_ = false;  // a version 5 file
  std::u16string line_end_;
  std::vector<Entry> entries_;
};

}  // namespace qlx::platform::posix
