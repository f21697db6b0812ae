#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace qlx::platform {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens a path the program formed (a directory followed by a suffix that
// begins with a backslash) with a C stdio mode. On failure the result is null
// and *error, when given, receives the Windows error code of the failure
// (2 for a missing file, 3 for a missing directory, 5 for no access).
UniqueFile OpenFile(const std::string& path, const char* mode, uint32_t* error = nullptr);

// Deletes the file; false when it could not be deleted (or did not exist).
bool RemoveFile(const std::string& path);

// Copies a file over another, replacing it; 0 or the Windows error code.
uint32_t CopyFileReplacing(const std::string& from, const std::string& to);

}  // namespace qlx::platform
