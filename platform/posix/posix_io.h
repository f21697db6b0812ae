#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "platform/result.h"
#include "platform/unique_handle.h"

struct stat;

namespace qlx::platform::posix {

// Closes the descriptor: 0, or the errno of the failed close (a write may
// fail only here).
int CloseDescriptor(int fd);

// An open file descriptor; closed when destroyed.
using UniqueFd = UniqueHandle<ClosedBy<int, &CloseDescriptor, -1>>;

// Opens the path with `flags` (O_CLOEXEC and O_NONBLOCK added) only when it is
// a regular file. The open does not block, as it would for ever on a FIFO
// that no one writes to; anything that is not a regular file (a FIFO, a
// device, a directory) is closed again and refused with EISDIR, which is
// access denied in the Windows codes, as Windows refuses a path that is no
// file. O_NONBLOCK changes nothing for a regular file. Sets *error (an errno)
// on failure.
UniqueFd OpenRegularFile(const std::string& path, int flags, int* error, unsigned mode = 0666);

// Reads the descriptor to its end and hands every chunk read, in order, to
// `take`, which returns 0 or an errno that ends the reading. A read that a
// signal interrupts is made again. 0, or the errno of the failed read or the
// one `take` returned.
using ChunkSink = std::function<int(const char* data, std::size_t size)>;
int ReadToEnd(int fd, const ChunkSink& take);

// The file's whole contents, or the Windows error code of the failure (what
// is no regular file gives access denied, as a directory does on Windows).
Result<std::string> ReadWholeFile(const std::string& path);

// Holds an exclusive advisory lock (flock) on the open file for its scope,
// waiting for it; every writer of ours that takes it goes in turn.
class FileLock {
 public:
  explicit FileLock(int fd);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_;
};

// Writes all bytes; 0 or the errno of the failed write.
int WriteAll(int fd, const char* data, std::size_t size);

// Receives the descriptor of the new file and writes its contents; returns 0
// or the errno of the failure.
using ContentsWriter = std::function<int(int fd)>;

struct ReplaceOptions {
  unsigned permissions = 0644;
  // Gives the new file the owner of the file it replaces (when it can).
  bool keep_owner = false;
  // Called right before the rename; an errno it returns stops the
  // replacement and leaves the old file as it was.
  std::function<int()> before_rename;
};

// Writes a new file beside `path` and renames it over `path`, so the file
// holds either its old or its new contents, never a mix. When a step fails
// the old file is left as it was and the new one is removed. A symbolic link
// is followed: the file it points to is replaced. Returns 0 or the errno of
// the failed step.
int ReplaceFile(const std::string& path, const ReplaceOptions& options,
                const ContentsWriter& write_contents);

// ReplaceFile with the given bytes, keeping the permissions and owner of the
// file that is replaced.
int ReplaceFileContents(const std::string& path, const std::string& contents);

// The directory part of a slash-separated path: "." for a bare name, "/" for
// a name in the root.
std::string ParentDirectory(const std::string& path);

bool IsDirectory(const std::string& path);

// True when no one may write to the file by its permission bits: the
// counterpart of a read-only file or of a key or service manager that the
// account may only read. Root is held to it too, although the system is not.
bool IsWriteProtected(const struct stat& status);
bool IsWriteProtected(const std::string& path);
bool Exists(const std::string& path);

// The environment variable's value, or the fallback when it is unset or empty.
std::string EnvironmentOr(const char* name, const std::string& fallback);

}  // namespace qlx::platform::posix
