// The resolution walks the mapped directory by hand rather than letting the
// kernel follow the path: every component is looked up without regard to case,
// and every symbolic link met on the way is read and followed here, so that
// one whose target lies outside the mapped directory is refused. The result
// names no symbolic link of the mapped tree but perhaps the last component.
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
#include "platform/unique_handle.h"
#include "platform/windows_codes.h"

namespace qlx::platform::posix {
namespace {

using UniqueDir = UniqueHandle<ClosedBy<DIR*, &::closedir>>;

constexpr char kDriveVariablePrefix[] = "QLX_DRIVE_";
// As many links as Linux follows for one path.
constexpr int kMaxLinks = 40;

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

std::string Joined(const std::string& root, const std::vector<std::string>& parts) {
  std::string path = root;
  for (const std::string& part : parts) path = Joined(path, part);
  return path;
}

bool LinkStatus(const std::string& path, struct stat* status) {
  return ::lstat(path.c_str(), status) == 0;
}

// The directory's entry for the name: the name itself when it exists, else
// the first entry, in byte order, that differs from it only in case.
std::optional<std::string> FindEntry(const std::string& directory, const std::string& name) {
  struct stat status {};
  if (LinkStatus(Joined(directory, name), &status)) return name;
  const UniqueDir dir(::opendir(directory.c_str()));
  if (!dir) return std::nullopt;
  const std::u16string wanted = Utf16FromUtf8(name);
  std::optional<std::string> found;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (!EqualIgnoringCase(Utf16FromUtf8(candidate), wanted)) continue;
    if (!found || candidate < *found) found = candidate;
  }
  return found;
}

std::optional<std::string> LinkTarget(const std::string& path) {
  std::string target(PATH_MAX, '\0');
  const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
  target.resize(static_cast<std::size_t>(length));
  return target;
}

// The mapped directory with every link in it resolved; nothing when the
// letter is not mapped or the directory does not exist.
std::optional<std::string> DriveRoot(char letter) {
  const std::string variable =
      kDriveVariablePrefix + std::string(1, static_cast<char>(std::toupper(letter)));
  const std::string directory = EnvironmentOr(variable.c_str(), "");
  if (directory.empty()) return std::nullopt;
  std::string root(PATH_MAX, '\0');
  if (!::realpath(directory.c_str(), root.data())) return std::nullopt;
  root.resize(root.find('\0'));
  if (!IsDirectory(root)) return std::nullopt;
  return root;
}

class DriveWalk {
 public:
  explicit DriveWalk(std::string root) : root_(std::move(root)) {}

  Result<std::string> Resolve(const std::string& rest) {
    for (std::string& component : ProgramComponents(rest)) pending_.push_back(component);
    while (!pending_.empty()) {
      const std::string name = pending_.front();
      pending_.pop_front();
      if (!Take(name)) return Failure{kErrorPathNotFound};
    }
    return Joined(root_, parts_);
  }

 private:
  // Walks one component. What remains of the program's own "." and ".." is
  // gone; these come from a link's target, and may not climb above the root.
  bool Take(const std::string& name) {
    if (name == ".") return true;
    if (name == "..") {
      if (parts_.empty()) return false;  // out of the mapped directory
      parts_.pop_back();
      return true;
    }
    const std::string directory = Joined(root_, parts_);
    const std::optional<std::string> entry = FindEntry(directory, name);
    if (!entry) {
      // A file still to be created; a missing directory on the way, or a
      // file taken for one, fails.
      parts_.push_back(name);
      return pending_.empty() && IsDirectory(directory);
    }
    struct stat status {};
    const std::string path = Joined(directory, *entry);
    if (LinkStatus(path, &status) && S_ISLNK(status.st_mode)) return Follow(path);
    parts_.push_back(*entry);
    return true;
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
      parts_.clear();
      relative.erase(0, root_ == "/" ? 0 : root_.size());
    }
    const std::vector<std::string> components = Components(relative);
    for (auto it = components.rbegin(); it != components.rend(); ++it) {
      pending_.push_front(*it);
    }
    return true;
  }

  const std::string root_;
  std::vector<std::string> parts_;
  std::deque<std::string> pending_;
  int links_ = 0;
};

}  // namespace

bool HasDriveLetter(const std::string& path) {
  return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

Result<std::string> ResolveDrivePath(const std::string& path) {
  if (!HasDriveLetter(path)) return Failure{kErrorPathNotFound};
  const std::optional<std::string> root = DriveRoot(path[0]);
  if (!root) return Failure{kErrorPathNotFound};
  return DriveWalk(*root).Resolve(path.substr(2));
}

std::optional<std::string> MappedDriveArgument(const std::string& argument) {
  if (!HasDriveLetter(argument) || argument.size() < 3 || argument[2] != '\\') return std::nullopt;
  const Result<std::string> resolved = ResolveDrivePath(argument);
  if (!resolved) return std::nullopt;
  return *resolved;
}

}  // namespace qlx::platform::posix
