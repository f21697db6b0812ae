#pragma once

// Drive letters on Linux: QLX_DRIVE_<LETTER>=<directory> maps a letter to a
// directory (QLX_DRIVE_C=/srv/rehearsal/c). A path on a drive is resolved
// there one component at a time as Windows resolves it: letter case does not
// matter, "." and ".." are taken by the text with ".." stopping at the
// drive's root, and no symbolic link leads out of the mapped directory.
//
// A copy of a Windows disk can hold what the disk itself cannot: two names
// that differ only in letter case, or names in another encoding than UTF-8
// (a Windows-1252 name never matches). A component that more than one entry
// matches does not resolve; both kinds are named once on standard error, and
// ExamineDrivePath lists them. A path of 260 characters or more, as the
// program's ANSI calls count them, fails with 206 as it does on Windows.

#include <optional>
#include <string>
#include <vector>

#include "platform/result.h"
#include "platform/windows_codes.h"

namespace qlx::platform::posix {

// The names of one directory that a copy of a Windows disk should not hold.
struct NamesInDirectory {
  std::string directory;
  std::vector<std::string> names;
};

// What the walk to a path on a drive met.
struct DriveResolution {
  // The Linux path, or 3 as ResolveDrivePath gives it, its length aside.
  Result<std::string> path = Failure{kErrorPathNotFound};
  // 260 characters or more: the program's calls refuse the path with 206.
  bool too_long = false;
  // Entries that the same component matches, differing only in letter case.
  std::vector<NamesInDirectory> case_duplicates;
  // Entries of a directory searched on the way whose names are not UTF-8.
  std::vector<NamesInDirectory> not_utf8;
};

// Whether the path starts with a drive: a letter and a colon.
bool HasDriveLetter(const std::string& path);

// The Linux path for a path on a drive (UTF-8, either slash): the entries as
// the directories spell them, a last component that does not exist as it is
// written. Fails with 3, as a missing path does on Windows, for a drive that
// nothing maps, a directory on the way that does not exist, and a symbolic
// link that leads out of the mapped directory (or through too many links).
// A drive that nothing maps is named once on standard error, with its
// variable. Fails with 206 for a path too long for the program's calls.
Result<std::string> ResolveDrivePath(const std::string& path);

// The walk of ResolveDrivePath, with what it met; nothing is written.
DriveResolution ExamineDrivePath(const std::string& path);

// For an argument of a command line: the Linux path when the argument begins
// with "<letter>:\" for a mapped letter and resolves; otherwise nothing, and
// the argument stays as it is.
std::optional<std::string> MappedDriveArgument(const std::string& argument);

}  // namespace qlx::platform::posix
