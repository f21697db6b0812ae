// The resolution walks the mapped directory by hand rather than letting the
// kernel follow the path: every component is looked up without regard to case,
// and every symbolic link met on the way is read and followed here, so that
// one whose target lies outside the mapped directory is refused. The result
// names no symbolic link; the file is then opened by that path, so a link put
// in place between the two steps is not seen (a rehearsal's copy of a host
// is no place another user writes to).
#include "platform/posix/drives.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <deque>
#include <vector>

#include "platform/posix/posix_io.h"
#include "platform/posix/text_encoding.h"
#include "platform/posix/trace.h"
#include "platform/unique_handle.h"
#include "platform/windows_codes.h"

namespace qlx::platform::posix {
namespace {

using UniqueDir = UniqueHandle<ClosedBy<DIR*, &::closedir>>;

constexpr char kDriveVariablePrefix[] = "QLX_DRIVE_";
// As many links as Linux follows for one path.
constexpr int kMaxLinks = 40;
// MAX_PATH: an ANSI path this long leaves no room for its terminating zero.
constexpr std::size_t kMaxPathCharacters = 260;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::vector<std::string> Components(const std::string& text) {
  std::vector<std::string> components;
  std::size_t start = 0;
  while (start < text.size()) {
    const auto end =
        std::find_if(text.begin() + static_cast<std::ptrdiff_t>(start), text.end(), IsSeparator);
    const auto stop = static_cast<std::size_t>(end - text.begin());
    if (stop > start) components.push_back(text.substr(start, stop - start));
    start = stop + 1;
  }
  return components;
}

// The program's components with "." and ".." taken by the text, as Windows
// takes them before it looks at any file; ".." at the root stays there.
std::vector<std::string> ProgramComponents(const std::string& text) {
  std::vector<std::string> components;
  for (std::string& component : Components(text)) {
    if (component == ".") continue;
    if (component == "..") {
      if (!components.empty()) components.pop_back();
      continue;
    }
    components.push_back(std::move(component));
  }
  return components;
}

std::string Joined(const std::string& directory, const std::string& name) {
  return directory.back() == '/' ? directory + name : directory + "/" + name;
}

std::string Joined(const std::string& root, const std::vector<std::string>& names) {
  std::string path = root;
  for (const std::string& name : names) path = Joined(path, name);
  return path;
}

bool LinkStatus(const std::string& path, struct stat* status) {
  return ::lstat(path.c_str(), status) == 0;
}

// Whether the program's calls refuse the path (UTF-8, from an ANSI path:
// every character was one byte there).
bool IsTooLong(const std::string& path) { return Utf16FromUtf8(path).size() >= kMaxPathCharacters; }

// Whether the name is UTF-8, as every name of a copy on Linux should be.
bool IsUtf8(const std::string& name) { return Utf8FromUtf16(Utf16FromUtf8(name)) == name; }

std::optional<std::string> LinkTarget(const std::string& path) {
  std::string target(PATH_MAX, '\0');
  const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
  target.resize(static_cast<std::size_t>(length));
  return target;
}

std::string DriveVariable(char letter) {
  return kDriveVariablePrefix + std::string(1, static_cast<char>(std::toupper(letter)));
}

// The mapped directory with every link in it resolved; nothing when the
// letter is not mapped or the directory does not exist.
std::optional<std::string> DriveRoot(char letter) {
  const std::string variable = DriveVariable(letter);
  const std::string directory = EnvironmentOr(variable.c_str(), "");
  if (directory.empty()) return std::nullopt;
  std::string root(PATH_MAX, '\0');
  if (!::realpath(directory.c_str(), root.data())) return std::nullopt;
  root.resize(root.find('\0'));
  if (!IsDirectory(root)) return std::nullopt;
  return root;
}

// Says once why a drive has no directory: its variable is not set, or names
// no directory.
void NoteUnmapped(char letter) {
  const std::string variable = DriveVariable(letter);
  const std::string directory = EnvironmentOr(variable.c_str(), "");
  const std::string drive(1, static_cast<char>(std::toupper(letter)));
  if (directory.empty()) {
    NoteOnce("no directory for drive " + drive + ": (" + variable + " maps it to one)");
  } else {
    NoteOnce(variable + "=" + directory + " names no directory; drive " + drive + ": has none");
  }
}

class DriveWalk {
 public:
  DriveWalk(std::string root, DriveResolution* findings)
      : root_(std::move(root)), findings_(findings) {}

  Result<std::string> Resolve(const std::string& rest) {
    for (std::string& component : ProgramComponents(rest)) pending_.push_back(component);
    while (!pending_.empty()) {
      const std::string name = pending_.front();
      pending_.pop_front();
      if (!Take(name)) return Failure{kErrorPathNotFound};
    }
    return Joined(root_, walked_);
  }

 private:
  // Walks one component. What remains of the program's own "." and ".." is
  // gone; these come from a link's target, and may not climb above the root.
  bool Take(const std::string& name) {
    if (name == ".") return true;
    if (name == "..") {
      if (walked_.empty()) return false;  // out of the mapped directory
      walked_.pop_back();
      return true;
    }
    const std::string directory = Joined(root_, walked_);
    std::vector<std::string> entries = FindEntries(directory, name);
    if (entries.size() > 1) {
      findings_->case_duplicates.push_back({directory, std::move(entries)});
      return false;  // which of them the server holds, the copy cannot tell
    }
    if (entries.empty()) {
      // A file still to be created; a missing directory on the way, or a
      // file taken for one, fails.
      walked_.push_back(name);
      return pending_.empty() && IsDirectory(directory);
    }
    struct stat status {};
    const std::string path = Joined(directory, entries.front());
    if (LinkStatus(path, &status) && S_ISLNK(status.st_mode)) return Follow(path);
    walked_.push_back(entries.front());
    return true;
  }

  // The directory's entries that equal the name without regard to case, in
  // byte order; its names that are not UTF-8 go to the findings. A directory
  // that cannot be listed is asked for the name as it is written.
  std::vector<std::string> FindEntries(const std::string& directory, const std::string& name) {
    const UniqueDir dir(::opendir(directory.c_str()));
    if (!dir) {
      struct stat status {};
      if (LinkStatus(Joined(directory, name), &status)) return {name};
      return {};
    }
    const std::u16string wanted = Utf16FromUtf8(name);
    std::vector<std::string> matches;
    std::vector<std::string> not_utf8;
    while (const dirent* entry = ::readdir(dir.get())) {
      const std::string candidate = entry->d_name;
      if (candidate == "." || candidate == "..") continue;
      if (!IsUtf8(candidate)) {
        not_utf8.push_back(candidate);
      } else if (EqualIgnoringCase(Utf16FromUtf8(candidate), wanted)) {
        matches.push_back(candidate);
      }
    }
    if (!not_utf8.empty()) {
      std::sort(not_utf8.begin(), not_utf8.end());
      findings_->not_utf8.push_back({directory, std::move(not_utf8)});
    }
    std::sort(matches.begin(), matches.end());
    return matches;
  }

  // Puts the link's target before the components still to be walked; an
  // absolute one must lie below the root.
  bool Follow(const std::string& link) {
    const std::optional<std::string> target = LinkTarget(link);
    if (!target || ++links_ > kMaxLinks) return false;
    std::string relative = *target;
    if (relative.front() == '/') {
      const bool beneath = relative == root_ || root_ == "/" ||
                           relative.compare(0, root_.size() + 1, root_ + "/") == 0;
      if (!beneath) return false;
      walked_.clear();
      relative.erase(0, root_ == "/" ? 0 : root_.size());
    }
    const std::vector<std::string> components = Components(relative);
    for (auto it = components.rbegin(); it != components.rend(); ++it) {
      pending_.push_front(*it);
    }
    return true;
  }

  const std::string root_;
  DriveResolution* findings_;
  std::vector<std::string> walked_;
  std::deque<std::string> pending_;
  int links_ = 0;
};

std::string Listed(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "\"" : " and \"") + name + "\"";
  return text;
}

// Says once what of the copy the walk could not take as a Windows disk holds it.
void NoteFindings(const DriveResolution& resolution) {
  for (const NamesInDirectory& duplicate : resolution.case_duplicates) {
    NoteOnce(duplicate.directory + " holds " + Listed(duplicate.names) +
             ", which differ only in letter case; a Windows disk holds one of them, so no "
             "path through them resolves");
  }
  for (const NamesInDirectory& names : resolution.not_utf8) {
    NoteOnce(names.directory +
             " holds names that are not UTF-8, which match no name: " + Listed(names.names));
  }
}

}  // namespace

bool HasDriveLetter(const std::string& path) {
  return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

DriveResolution ExamineDrivePath(const std::string& path) {
  DriveResolution resolution;
  resolution.too_long = IsTooLong(path);
  if (!HasDriveLetter(path)) return resolution;
  const std::optional<std::string> root = DriveRoot(path[0]);
  if (!root) return resolution;
  resolution.path = DriveWalk(*root, &resolution).Resolve(path.substr(2));
  return resolution;
}

Result<std::string> ResolveDrivePath(const std::string& path) {
  if (!HasDriveLetter(path)) return Failure{kErrorPathNotFound};
  // Refused before any file is looked at, as the ANSI calls refuse it.
  if (IsTooLong(path)) return Failure{kErrorFilenameExcedRange};
  if (!DriveRoot(path[0])) {
    NoteUnmapped(path[0]);
    return Failure{kErrorPathNotFound};
  }
  const DriveResolution resolution = ExamineDrivePath(path);
  NoteFindings(resolution);
  return resolution.path;
}

std::optional<std::string> MappedDriveArgument(const std::string& argument) {
  if (!HasDriveLetter(argument) || argument.size() < 3 || argument[2] != '\\') return std::nullopt;
  if (!DriveRoot(argument[0])) return std::nullopt;
  const Result<std::string> resolved = ResolveDrivePath(argument);
  if (!resolved) return std::nullopt;
  return *resolved;
}

}  // namespace qlx::platform::posix
