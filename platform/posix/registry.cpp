// HKEY_LOCAL_MACHINE as registry export files, named by QLX_REGISTRY_FILE
// (default /etc/qlxpatch/registry.reg; several separated by ':'). Every
// request reads the files afresh, so a change another program makes between
// two requests is always seen; a missing, unreadable or malformed file holds
// no key. A key is read from, and updated in, the first file that holds it.
//
// The program is a 32-bit one: where the exports come from 64-bit Windows
// (one of them holds SOFTWARE\WOW6432Node), its SOFTWARE keys are read and
// updated under SOFTWARE\WOW6432Node, as the registry redirector does.
// QLX_REGISTRY_VIEW=32 or 64 says which view to give instead of that guess.
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
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/posix_io.h"
#include "platform/posix/reg_file.h"
#include "platform/posix/registry_view.h"
#include "platform/posix/text_encoding.h"
#include "platform/posix/trace.h"
#include "platform/posix/windows_errors.h"
#include "platform/registry.h"

namespace qlx::platform {
namespace {

constexpr char kRegistryFileVariable[] = "QLX_REGISTRY_FILE";
constexpr char kDefaultRegistryFile[] = "/etc/qlxpatch/registry.reg";
constexpr char kRegistryViewVariable[] = "QLX_REGISTRY_VIEW";
// The file opened for one request; invalid unless it is a regular file.
posix::UniqueFd OpenExport(const std::string& file_path) {
  posix::UniqueFd fd(::open(file_path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return {};
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

// A key's place: the export that holds it, the path the program asked for
// and the key in the export that path stands for.
struct KeyPlace {
  std::string file_path;
  std::string asked_path;
  std::string key_path;
};

std::string TypeField(const std::optional<RegistryData>& data) {
  return data ? posix::RegistryTypeName(data->type) : "-";
}

std::string DataField(const std::optional<RegistryData>& data) {
  return data ? posix::RegistryDataText(*data) : "-";
}

void TraceRead(const KeyPlace& place, const std::string& name,
               const std::optional<RegistryData>& data, uint32_t code) {
  posix::Trace({"registry.read", place.file_path, posix::Utf8FromAnsi(place.asked_path),
                posix::Utf8FromAnsi(place.key_path), posix::Utf8FromAnsi(name), TypeField(data),
                DataField(data), std::to_string(code)});
}

void TraceWrite(const KeyPlace& place, const std::string& name,
                const std::optional<RegistryData>& before, const RegistryData& after,
                uint32_t code) {
  posix::Trace({"registry.write", place.file_path, posix::Utf8FromAnsi(place.asked_path),
                posix::Utf8FromAnsi(place.key_path), posix::Utf8FromAnsi(name),
                posix::RegistryTypeName(after.type), DataField(before),
                posix::RegistryDataText(after), std::to_string(code)});
}

class FileRegistryKey : public RegistryKey {
 public:
  explicit FileRegistryKey(KeyPlace place) : place_(std::move(place)) {}

  Result<RegistryData> QueryValue(const std::string& name) override {
    Result<RegistryData> result = Query(name);
    TraceRead(place_, name, result ? std::optional<RegistryData>(*result) : std::nullopt,
              result.error());
    return result;
  }

  Result<> SetValue(const std::string& name, const RegistryData& data) override {
    std::optional<RegistryData> before;
    const Result<> result = Set(name, data, &before);
    TraceWrite(place_, name, before, data, result.error());
    return result;
  }

 private:
  Result<RegistryData> Query(const std::string& name) {
    const posix::UniqueFd fd = OpenExport(place_.file_path);
    if (!fd) return Failure{kErrorFileNotFound};
    last_found_ = posix::FindValueDefinition(fd.get(), place_.key_path, name);
    last_name_ = name;
    if (!last_found_) return Failure{kErrorFileNotFound};
    return last_found_->data;
  }

  // Only an existing value is changed; nothing is created.
  // *old_data becomes the data the value had, when it was found.
  Result<> Set(const std::string& name, const RegistryData& data,
               std::optional<RegistryData>* old_data) {
    if (posix::IsWriteProtected(place_.file_path)) return Failure{kErrorAccessDenied};
    const posix::UniqueFd fd = OpenExport(place_.file_path);
    struct stat before {};
    if (!fd || ::fstat(fd.get(), &before) != 0) return Failure{kErrorFileNotFound};
    std::optional<posix::RegValueDefinition> plan = PlanFor(fd.get(), name);
    last_found_.reset();
    if (!plan) return Failure{kErrorFileNotFound};
    *old_data = plan->data;
    posix::ReplaceOptions options;
    options.permissions = before.st_mode & 07777;
    options.keep_owner = true;
    const int error = posix::ReplaceFile(place_.file_path, options, [&](int out_fd) {
      const int copy_error =
          CopyReplacingValue(fd.get(), out_fd, place_.key_path, name, data, *plan);
      if (copy_error != 0) return copy_error;
      return UnchangedSince(before, fd.get(), place_.file_path) ? 0 : EAGAIN;
    });
    if (error != 0) return Failure{posix::WindowsErrorFromErrno(error)};
    return {};
  }

  // Where the value lies, as the last query found it (the copy checks it
  // again) or as a search finds it now.
  std::optional<posix::RegValueDefinition> PlanFor(int fd, const std::string& name) const {
    if (last_found_ && posix::EqualIgnoringCase(last_name_, name)) return last_found_;
    return posix::FindValueDefinition(fd, place_.key_path, name);
  }

  const KeyPlace place_;
  std::optional<posix::RegValueDefinition> last_found_;
  std::string last_name_;
};

// Whether the export at the path holds the key; a missing file is named once
// on standard error, with the variable that says where the exports are.
bool ExportHoldsKey(const std::string& file_path, const std::string& key_path) {
  const posix::UniqueFd fd = OpenExport(file_path);
  if (!fd) {
    if (!posix::Exists(file_path)) {
      posix::NoteOnce("no registry export at " + file_path + " (" + kRegistryFileVariable +
                      " names the exports to read)");
    }
    return false;
  }
  return posix::ExportHasKey(fd.get(), key_path);
}

// The view the exports are read in: the one QLX_REGISTRY_VIEW names, else the
// 32-bit view when an export comes from 64-bit Windows.
posix::RegistryView GuessView(const std::vector<std::string>& files) {
  const std::string named = posix::EnvironmentOr(kRegistryViewVariable, "");
  if (const std::optional<posix::RegistryView> view = posix::ViewFromText(named)) return *view;
  if (!named.empty()) {
    posix::NoteOnce(std::string(kRegistryViewVariable) + "=" + named +
                    " is neither 32 nor 64; the view is guessed from the exports");
  }
  for (const std::string& file : files) {
    if (ExportHoldsKey(file, posix::kWow64Key)) return posix::RegistryView::k32;
  }
  return posix::RegistryView::k64;
}

class FileRegistry : public Registry {
 public:
  Result<std::unique_ptr<RegistryKey>> OpenLocalMachineKey(const std::string& path,
                                                           KeyAccess access) override {
    const std::vector<std::string> files =
        posix::ExportFiles(posix::EnvironmentOr(kRegistryFileVariable, kDefaultRegistryFile));
    const std::string key_path = posix::KeyInView(path, ViewOf(files));
    for (const std::string& file_path : files) {
      if (!ExportHoldsKey(file_path, key_path)) continue;
      if (access == KeyAccess::kQueryAndSet && posix::IsWriteProtected(file_path)) {
        return Failure{kErrorAccessDenied};
      }
      return std::unique_ptr<RegistryKey>(
          std::make_unique<FileRegistryKey>(KeyPlace{file_path, path, key_path}));
    }
    if (access == KeyAccess::kQueryAndSet && files.size() == 1 &&
        posix::IsWriteProtected(files.front())) {
      return Failure{kErrorAccessDenied};
    }
    return Failure{kErrorFileNotFound};
  }

 private:
  // The view is guessed once for the exports and variable a run names, not
  // for every request: a guess reads an export up to its WOW6432Node key.
  posix::RegistryView ViewOf(const std::vector<std::string>& files) {
    const std::string settings = posix::EnvironmentOr(kRegistryFileVariable, "") + '\n' +
                                 posix::EnvironmentOr(kRegistryViewVariable, "");
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!view_ || settings != view_settings_) {
      view_ = GuessView(files);
      view_settings_ = settings;
    }
    return *view_;
  }

  std::mutex mutex_;
  std::optional<posix::RegistryView> view_;
  std::string view_settings_;
};

}  // namespace

Registry& SystemRegistry() {
  static FileRegistry registry;
  return registry;
}

}  // namespace qlx::platform
