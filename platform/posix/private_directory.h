#pragma once

#include <string>

#include "platform/posix/posix_io.h"
#include "platform/result.h"

namespace qlx::platform::posix {

// A directory nobody but the user may change, held open: its path names it
// for messages and lookups, and its descriptor is what the children use, so
// the directory that was checked cannot be swapped for another meanwhile.
struct PrivateDirectory {
  std::string path;
  UniqueFd fd;
};

// Opens `path` as a private directory: a directory (a symbolic link is not
// followed) of the user's own that neither group nor others may write to.
// Fails with ERROR_DIRECTORY otherwise, and when it is missing.
Result<PrivateDirectory> OpenPrivateDirectory(const std::string& path);

// The private directory "qlxpatch-<uid>" inside `parent`, created with mode
// 0700 when it is missing. The parent must belong to root or to the user and,
// when others may write to it, be sticky, so that nobody else can remove or
// rename the directory once it is made. Fails with ERROR_DIRECTORY.
Result<PrivateDirectory> PreparePrivateDirectory(const std::string& parent);

// Where the children run: $TMPDIR (`tmpdir`) itself when it passes the checks
// of a private directory; else "qlxpatch-<uid>" inside it; failing that
// "qlxpatch-<uid>" inside `system_temporary` (/tmp).
Result<PrivateDirectory> ChildrenDirectory(const std::string& tmpdir,
                                           const std::string& system_temporary);

}  // namespace qlx::platform::posix
