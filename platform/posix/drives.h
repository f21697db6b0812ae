#pragma once

// Drive letters on Linux: QLX_DRIVE_<LETTER>=<directory> maps a letter to a
// directory (QLX_DRIVE_C=/srv/rehearsal/c). A path on a drive is resolved
// there one component at a time as Windows resolves it: letter case does not
// matter, "." and ".." are taken by the text with ".." stopping at the
// drive's root, and no symbolic link leads out of the mapped directory.

#include <optional>
#include <string>

#include "platform/result.h"

namespace qlx::platform::posix {

// Whether the path starts with a drive: a letter and a colon.
bool HasDriveLetter(const std::string& path);

// The Linux path for a path on a drive (UTF-8, either slash): the entries as
// the directories spell them, a last component that does not exist as it is
// written. Fails with 3, as a missing path does on Windows, for a drive that
// nothing maps, a directory on the way that does not exist, and a symbolic
// link that leads out of the mapped directory (or through too many links).
Result<std::string> ResolveDrivePath(const std::string& path);

// For an argument of a command line: the Linux path when the argument begins
// with "<letter>:\" for a mapped letter and resolves; otherwise nothing, and
// the argument stays as it is.
std::optional<std::string> MappedDriveArgument(const std::string& argument);

}  // namespace qlx::platform::posix
