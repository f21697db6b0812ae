#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "platform/result.h"
#include "platform/unique_handle.h"

namespace qlx::platform {

// The program reads text as fgets does with a buffer of this many bytes: at
// most 199 characters a read.
constexpr int kLineBufferSize = 200;

// An open file; closed when destroyed.
class File {
 public:
  virtual ~File() = default;
  // Reads as fgets does with a buffer of `buffer_size` bytes: at most
  // buffer_size - 1 characters, up to and including the first line feed.
  // False at the end of the file, or when the read fails.
  virtual bool ReadLine(int buffer_size, std::string* line) = 0;
  // Writes the text as it is; false when it could not be written.
  virtual bool Write(const std::string& text) = 0;
  // Hands what was written to the system; false when that failed.
  virtual bool Flush() = 0;
  // Appends the text at the end in a single write. A write that stops short
  // (a full disk) is cut back off, so the text is in the file whole or not at
  // all; false then.
  virtual bool Append(const std::string& text) = 0;
};

// The files the program opens on the paths it forms (a directory followed by
// a suffix that begins with a backslash, or a name in the current directory).
// Failures carry the Windows error code: 2 for a missing file, 3 for a
// missing directory, 5 for no access.
class Files {
 public:
  virtual ~Files() = default;
  // Opens with a C stdio mode: "r" (text mode), "w" or "a+".
  virtual Result<std::unique_ptr<File>> Open(const std::string& path, const char* mode) = 0;
  // Deletes the file; fails for a directory and for a file that is not there.
  virtual Result<> Remove(const std::string& path) = 0;
  // Copies a file over another, replacing it.
  virtual Result<> CopyReplacing(const std::string& from, const std::string& to) = 0;
  // Creates the file, empty and for the program's account alone, only if no
  // file, link or directory of that name exists (80 when one does); a link is
  // never followed.
  virtual Result<> CreateNew(const std::string& path) = 0;
  // Has the file deleted when the system next starts.
  virtual Result<> RemoveAtReboot(const std::string& path) = 0;
  // Cuts the file to nothing; fails for a link (never followed), a directory
  // or a missing file.
  virtual Result<> Empty(const std::string& path) = 0;
  // Whether the path names an existing directory.
  virtual bool IsDirectory(const std::string& path) = 0;
  // Whether the file could be written, changing nothing: an existing file is
  // opened for writing and closed again untouched; a missing one is created
  // and deleted again. Nothing, or the Windows code of the refusal.
  virtual Result<> ProbeWrite(const std::string& path) = 0;
};

Files& SystemFiles();

// The whole text of a file opened for reading, through the files in force:
// every line once, in pieces of at most 199 characters joined in order, as the
// program has always read its output and setting files.
Result<std::string> ReadWholeText(const std::string& path);

// The system's own calls behind SystemFiles(), on a C stdio stream.
inline int CloseStream(std::FILE* file) { return std::fclose(file); }
using UniqueFile = UniqueHandle<ClosedBy<std::FILE*, &CloseStream>>;

// The path the system is given for one the program formed: on Linux with
// slashes for its backslashes, in UTF-8; on Windows the path as it is.
std::string SystemPath(const std::string& path);

Result<UniqueFile> OpenFile(const std::string& path, const char* mode);
Result<> RemoveFile(const std::string& path);
Result<> CopyFileReplacing(const std::string& from, const std::string& to);
Result<> CreateNewFile(const std::string& path);
Result<> RemoveFileAtReboot(const std::string& path);
Result<> EmptyFile(const std::string& path);
bool IsDirectoryPath(const std::string& path);
Result<> ProbeFileWrite(const std::string& path);
// The current directory as the system names it; "." when it cannot say.
std::string CurrentDirectory();
// File::Append on a stream opened for appending.
bool AppendWhole(std::FILE* stream, const std::string& text);

}  // namespace qlx::platform
