// HKEY_LOCAL_MACHINE as a registry export file, named by QLX_REGISTRY_FILE
// (default /etc/qlxpatch/registry.reg). Every request reads the file afresh,
// so a change another program makes between two requests is always seen; a
// missing, unreadable or malformed file holds no key.
//
// A change copies the file beside the old one with only the value's lines
// replaced, and renames the copy into place, so the file is never half
// written. A file whose permission bits let nobody write it stands for a key
// the account may only read: opening it for a change is refused, also for
// root, whom the permission bits alone would not stop.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <string>

#include "platform/posix/posix_io.h"
#include "platform/posix/reg_file.h"
#include "platform/posix/text_encoding.h"
#include "platform/registry.h"

namespace qlx::platform {
namespace {

constexpr char kRegistryFileVariable[] = "QLX_REGISTRY_FILE";
constexpr char kDefaultRegistryFile[] = "/etc/qlxpatch/registry.reg";
constexpr unsigned kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;

bool IsWriteProtected(const std::string& file_path) {
  struct stat status {};
  return ::stat(file_path.c_str(), &status) == 0 && (status.st_mode & kAnyWrite) == 0;
}

// The file opened for one request; invalid unless it is a regular file.
posix::UniqueFd OpenExport(const std::string& file_path) {
  posix::UniqueFd fd(::open(file_path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (!fd.valid() || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return {};
  ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  return fd;
}

bool SameState(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Whether the file at the path is still the one read, as it was before the
// copy: otherwise another program changed it meanwhile and the copy would
// undo that change.
bool UnchangedSince(const struct stat& before, int fd, const std::string& file_path) {
  struct stat now {};
  struct stat at_path {};
  return ::fstat(fd, &now) == 0 && ::stat(file_path.c_str(), &at_path) == 0 &&
         SameState(before, now) && SameState(before, at_path);
}

// Copies the export from in_fd to out_fd with the value's lines replaced. The
// plan says where the value was last seen; the copy reads the whole file
// again, and if the value is elsewhere now, it is copied once more with the
// lines it found.
int CopyReplacingValue(int in_fd, int out_fd, const std::string& key_path, const std::string& name,
                       const RegistryData& data, posix::RegValueDefinition plan) {
  constexpr int kAttempts = 2;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (attempt > 0 && (::ftruncate(out_fd, 0) != 0 || ::lseek(out_fd, 0, SEEK_SET) != 0)) {
      return errno;
    }
    const posix::ReplacementCopy copy = posix::CopyWithReplacement(
        in_fd, out_fd, key_path, name, plan, posix::ReplacementLines(plan, data));
    if (copy.error != 0) return copy.error;
    if (!copy.found) return ENOENT;  // gone, or no longer readable
    if (posix::SameLines(*copy.found, plan)) return 0;
    plan = *copy.found;
  }
  return EAGAIN;
}

class FileRegistryKey : public RegistryKey {
 public:
  FileRegistryKey(std::string file_path, std::string key_path)
      : file_path_(std::move(file_path)), key_path_(std::move(key_path)) {}

  std::optional<RegistryData> QueryValue(const std::string& name) override {
    const posix::UniqueFd fd = OpenExport(file_path_);
    if (!fd.valid()) return std::nullopt;
    last_found_ = posix::FindValueDefinition(fd.get(), key_path_, name);
    last_name_ = name;
    if (!last_found_) return std::nullopt;
    return last_found_->data;
  }

  // Only an existing value is changed; nothing is created.
  bool SetValue(const std::string& name, const RegistryData& data) override {
    if (IsWriteProtected(file_path_)) return false;
    const posix::UniqueFd fd = OpenExport(file_path_);
    struct stat before {};
    if (!fd.valid() || ::fstat(fd.get(), &before) != 0) return false;
    std::optional<posix::RegValueDefinition> plan = PlanFor(fd.get(), name);
    last_found_.reset();
    if (!plan) return false;
    posix::ReplaceOptions options;
    options.permissions = before.st_mode & 07777;
    options.keep_owner = true;
    const int error = posix::ReplaceFile(file_path_, options, [&](int out_fd) {
      const int copy_error = CopyReplacingValue(fd.get(), out_fd, key_path_, name, data, *plan);
      if (copy_error != 0) return copy_error;
      return UnchangedSince(before, fd.get(), file_path_) ? 0 : EAGAIN;
    });
    return error == 0;
  }

 private:
  // Where the value lies, as the last query found it (the copy checks it
  // again) or as a search finds it now.
  std::optional<posix::RegValueDefinition> PlanFor(int fd, const std::string& name) const {
    if (last_found_ && posix::EqualIgnoringCase(last_name_, name)) return last_found_;
    return posix::FindValueDefinition(fd, key_path_, name);
  }

  std::string file_path_;
  std::string key_path_;
  std::optional<posix::RegValueDefinition> last_found_;
  std::string last_name_;
};

class FileRegistry : public Registry {
 public:
  std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::string& path,
                                                   KeyAccess access) override {
    std::string file_path = posix::EnvironmentOr(kRegistryFileVariable, kDefaultRegistryFile);
    if (access == KeyAccess::kQueryAndSet && IsWriteProtected(file_path)) return nullptr;
    const posix::UniqueFd fd = OpenExport(file_path);
    if (!fd.valid() || !posix::ExportHasKey(fd.get(), path)) return nullptr;
    return std::make_unique<FileRegistryKey>(std::move(file_path), path);
  }
};

}  // namespace

Registry& SystemRegistry() {
  static FileRegistry registry;
  return registry;
}

}  // namespace qlx::platform
