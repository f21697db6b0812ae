#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/registry.h"

namespace qlx::platform::posix {

// A registry export file, "REGEDIT4" or "Windows Registry Editor Version
// 5.00", in the encodings regedit writes: ANSI, or UTF-16LE with its byte
// order mark.
//
// The file is never held in memory: every function below reads it from its
// first byte through a buffer of bounded size, so each answer reflects the
// file as it is at that moment, however large it is.
//
// Keys are addressed by their path below HKEY_LOCAL_MACHINE (the only root the
// program uses); paths and value names compare case-insensitively, and "" names
// the default value ("@"). A key exists when a section names it or a key below
// it; the last definition of a value wins, as when the file is imported.
// Names and data are ANSI (see text_encoding.h): a value's data is what
// RegQueryValueExA gives a narrow program, so a string type holds its text in
// the ANSI code page with the terminating zero. Version 5 files store the hex
// forms of string types as UTF-16LE; they are converted on the way in and out.
//
// A line that cannot be read (a key line without its closing bracket, a line
// longer than kMaxRegLineBytes, a NUL character, half a UTF-16 character, hex
// data cut short) makes only the key or value it defines unknown; the rest of
// the file reads as before.

// Where the definition of a value lies in the file, and what the line that
// replaces it needs to look like the file's own.
struct RegValueDefinition {
  std::uint64_t begin = 0;       // the first byte of its first line
  std::uint64_t end = 0;         // past the line end of its last line
  std::string name_part;         // its first line up to the data, as stored
  std::string line_end;          // its last line's line end, as stored
  std::u16string wrap_line_end;  // the line end within wrapped hex data
  bool utf16 = false;            // the file is UTF-16LE, else ANSI
  bool unicode = false;          // a version 5 file
  RegistryData data;
};

// Whether two definitions are the same lines of the same file, so that a
// replacement made for one fits the other.
bool SameLines(const RegValueDefinition& a, const RegValueDefinition& b);

// Whether the export read from `fd` holds the key; stops at the first section
// that names it or a key below it.
bool ExportHasKey(int fd, const std::string& key_path);

// What an export read from `fd` is: whether it is an export at all, and the
// first key line (UTF-8, trimmed) under another root than HKEY_LOCAL_MACHINE,
// which the program never reads, deletions of keys included.
struct ExportRoots {
  bool is_export = false;
  std::optional<std::string> foreign_key;
};
ExportRoots ReadExportRoots(int fd);

// The last definition of the value in the export read from `fd`; nothing when
// there is none or it cannot be read (or the file is no export).
std::optional<RegValueDefinition> FindValueDefinition(int fd, const std::string& key_path,
                                                      const std::string& name);

// The lines that replace the definition to give the value the data: its own
// spelling of the name, the data as regedit writes it (a REG_SZ of one line of text
// quoted, anything else as hex wrapped as regedit wraps it), and its own line
// ends, in the file's encoding.
std::string ReplacementLines(const RegValueDefinition& definition, const RegistryData& data);

struct ReplacementCopy {
  int error = 0;  // an errno from reading or writing
  // The last definition of the value as this copy read it; the copy is the
  // wanted one only when it has the same lines as the planned definition.
  std::optional<RegValueDefinition> found;
  std::uint64_t bytes_copied = 0;  // bytes read from in_fd
};

// Copies the whole export from in_fd to out_fd, with the planned
// definition's bytes replaced by `replacement` and every other byte as it is.
ReplacementCopy CopyWithReplacement(int in_fd, int out_fd, const std::string& key_path,
                                    const std::string& name, const RegValueDefinition& planned,
                                    const std::string& replacement);

}  // namespace qlx::platform::posix
