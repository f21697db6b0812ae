#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace qlx::platform {

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
};

// The files the program opens on the paths it forms (a directory followed by
// a suffix that begins with a backslash, or a name in the current directory).
// Failures carry the Windows error code: 2 for a missing file, 3 for a
// missing directory, 5 for no access.
class Files {
 public:
  virtual ~Files() = default;
  // Opens with a C stdio mode: "r" (text mode), "w" or "a+". Null on
  // failure, with *error (when given) set.
  virtual std::unique_ptr<File> Open(const std::string& path, const char* mode,
                                     uint32_t* error = nullptr) = 0;
  // Deletes the file; false when it could not be deleted (or did not exist).
  virtual bool Remove(const std::string& path) = 0;
  // Copies a file over another, replacing it; 0 or the Windows error code.
  virtual uint32_t CopyReplacing(const std::string& from, const std::string& to) = 0;
};

Files& SystemFiles();

// The system's own calls behind SystemFiles(), on a C stdio stream.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

UniqueFile OpenFile(const std::string& path, const char* mode, uint32_t* error = nullptr);
bool RemoveFile(const std::string& path);
uint32_t CopyFileReplacing(const std::string& from, const std::string& to);

}  // namespace qlx::platform
