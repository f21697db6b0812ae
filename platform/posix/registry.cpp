// HKEY_LOCAL_MACHINE as registry export files, named by QLX_REGISTRY_FILE
// (default /etc/qlxpatch/registry.reg; several separated by ':'). Every
// request reads the files afresh, so a change another program makes between
// two requests is always seen; a missing, unreadable or malformed file holds
// no key. A key is read from, and updated in, the first file that holds it.
//
// The program is a 32-bit one: in an export taken on 64-bit Windows (one that
// holds SOFTWARE\WOW6432Node), its SOFTWARE keys are read and updated under
// SOFTWARE\WOW6432Node, as the registry redirector does; any other export is
// read as it is. QLX_REGISTRY_VIEW=32 or 64 gives every export that view
// instead of the guess.
//
// A change copies the file beside the old one with only the value's lines
// replaced, and renames the copy into place, so the file is never half
// written. Changes are made under an advisory lock on "<export>.lock" (a lock
// on the export itself would go with the rename). Right before the rename the
// export is checked for a change by another program, which the copy would
// undo; the change is then made afresh, up to three times more, and after
// that refused with a sharing violation, the file as it was. A file whose permission bits let
// nobody write it stands for a key the account may only read: opening it for a change is refused,
// also for root, whom the permission bits alone would not stop.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
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
// A change made by another program during a rewrite lets it be made this
// many times in all.
constexpr int kRewriteAttempts = 4;
// How long a change waits for another holder of the lock.
constexpr auto kLockWait = std::chrono::seconds(5);
constexpr auto kLockRetryPause = std::chrono::milliseconds(20);
// The file opened for one request, without blocking; invalid unless it is a
// regular file.
posix::UniqueFd OpenExport(const std::string& file_path) {
  int ignored = 0;
  posix::UniqueFd fd = posix::OpenRegularFile(file_path, O_RDONLY, &ignored);
  if (!fd) return {};
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

// Where an update put the value's new lines: they replaced the bytes
// [begin, end) of the export as it was with `length` bytes.
struct Splice {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
  std::uint64_t length = 0;
};

// Copies the export from in_fd to out_fd with the value's lines replaced. The
// plan says where the value was last seen; the copy reads the whole file
// again, and if the value is elsewhere now, it is copied once more with the
// lines it found, which become the plan.
int CopyReplacingValue(int in_fd, int out_fd, const std::string& key_path, const std::string& name,
                       const RegistryData& data, posix::RegValueDefinition& plan) {
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

std::string TypeField(const std::optional<RegistryData>& data) {
  return data ? posix::RegistryTypeName(data->type) : "-";
}

std::string DataField(const std::optional<RegistryData>& data) {
  return data ? posix::RegistryDataText(*data) : "-";
}

std::vector<std::string> SpliceFields(const std::optional<Splice>& splice) {
  if (!splice) return {"-", "-", "-"};
  return {std::to_string(splice->begin), std::to_string(splice->end),
          std::to_string(splice->length)};
}

// Takes the advisory lock beside the export, waiting a bounded time for
// another holder; the lock goes with the descriptor. Sets *error (an errno).
posix::UniqueFd LockExport(const std::string& file_path, int* error) {
  posix::UniqueFd lock =
      posix::OpenRegularFile(file_path + ".lock", O_RDWR | O_CREAT | O_NOFOLLOW, error, 0600);
  if (!lock) return lock;
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  while (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
      *error = errno == EWOULDBLOCK ? EBUSY : errno;
      return posix::UniqueFd();
    }
    std::this_thread::sleep_for(kLockRetryPause);
  }
  return lock;
}

class FileRegistryKey : public RegistryKey {
 public:
  // The key at key_path in the export, which the program asked for as
  // asked_path.
  FileRegistryKey(std::string file_path, std::string asked_path, std::string key_path)
      : file_path_(std::move(file_path)),
        asked_path_(std::move(asked_path)),
        key_path_(std::move(key_path)) {}

  Result<RegistryData> QueryValue(const std::string& name) override {
    Result<RegistryData> result = Query(name);
    const std::optional<RegistryData> found =
        result ? std::optional<RegistryData>(*result) : std::nullopt;
    posix::Trace({"registry.read", file_path_, posix::Utf8FromAnsi(asked_path_),
                  posix::Utf8FromAnsi(key_path_), posix::Utf8FromAnsi(name), TypeField(found),
                  DataField(found), std::to_string(result.error())});
    return result;
  }

  Result<> SetValue(const std::string& name, const RegistryData& data) override {
    std::optional<RegistryData> before;
    std::optional<Splice> splice;
    const Result<> result = Set(name, data, &before, &splice);
    std::vector<std::string> fields = {"registry.write",
                                       file_path_,
                                       posix::Utf8FromAnsi(asked_path_),
                                       posix::Utf8FromAnsi(key_path_),
                                       posix::Utf8FromAnsi(name),
                                       posix::RegistryTypeName(data.type),
                                       DataField(before),
                                       posix::RegistryDataText(data),
                                       std::to_string(result.error())};
    for (std::string& field : SpliceFields(splice)) fields.push_back(std::move(field));
    posix::Trace(fields);
    return result;
  }

 private:
  Result<RegistryData> Query(const std::string& name) {
    const posix::UniqueFd fd = OpenExport(file_path_);
    if (!fd) return Failure{kErrorFileNotFound};
    last_found_ = posix::FindValueDefinition(fd.get(), key_path_, name);
    last_name_ = name;
    if (!last_found_) return Failure{kErrorFileNotFound};
    return last_found_->data;
  }

  // Only an existing value is changed; nothing is created.
  // *old_data becomes the data the value had, when it was found, and *splice
  // where the change went, once it is made.
  Result<> Set(const std::string& name, const RegistryData& data,
               std::optional<RegistryData>* old_data, std::optional<Splice>* splice) {
    if (posix::IsWriteProtected(file_path_)) return Failure{kErrorAccessDenied};
    int lock_error = 0;
    const posix::UniqueFd lock = LockExport(file_path_, &lock_error);
    if (!lock) return Failure{posix::WindowsErrorFromErrno(lock_error)};
    for (int attempt = 0; attempt < kRewriteAttempts; ++attempt) {
      const int error = Rewrite(name, data, old_data, splice);
      if (error == 0) return {};
      if (error != EAGAIN) return Failure{posix::WindowsErrorFromErrno(error)};
    }
    return Failure{kErrorSharingViolation};
  }

  // One copy of the export with the value's lines replaced, renamed into
  // place unless the export changed meanwhile (EAGAIN). 0 or an errno.
  int Rewrite(const std::string& name, const RegistryData& data,
              std::optional<RegistryData>* old_data, std::optional<Splice>* splice) {
    const posix::UniqueFd fd = OpenExport(file_path_);
    struct stat before {};
    if (!fd || ::fstat(fd.get(), &before) != 0) return ENOENT;
    std::optional<posix::RegValueDefinition> plan = PlanFor(fd.get(), name);
    last_found_.reset();
    if (!plan) return ENOENT;
    *old_data = plan->data;
    posix::ReplaceOptions options;
    options.permissions = before.st_mode & 07777;
    options.keep_owner = true;
    options.before_rename = [&] {
      return UnchangedSince(before, fd.get(), file_path_) ? 0 : EAGAIN;
    };
    const int error = posix::ReplaceFile(file_path_, options, [&](int out_fd) {
      return CopyReplacingValue(fd.get(), out_fd, key_path_, name, data, *plan);
    });
    if (error == 0) {
      *splice = Splice{plan->begin, plan->end, posix::ReplacementLines(*plan, data).size()};
    }
    return error;
  }

  // Where the value lies, as the last query found it (the copy checks it
  // again) or as a search finds it now.
  std::optional<posix::RegValueDefinition> PlanFor(int fd, const std::string& name) const {
    if (last_found_ && posix::EqualIgnoringCase(last_name_, name)) return last_found_;
    return posix::FindValueDefinition(fd, key_path_, name);
  }

  std::string file_path_;
  std::string asked_path_;
  std::string key_path_;
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

// The view an export is read in: the one QLX_REGISTRY_VIEW names, else the
// 32-bit view when the export comes from 64-bit Windows, else the keys as
// they are named.
posix::RegistryView GuessView(const std::string& file_path) {
  const std::string named = posix::EnvironmentOr(kRegistryViewVariable, "");
  if (const std::optional<posix::RegistryView> view = posix::ViewFromText(named)) return *view;
  if (!named.empty()) {
    posix::NoteOnce(std::string(kRegistryViewVariable) + "=" + named +
                    " is neither 32 nor 64; the view is guessed from each export");
  }
  return ExportHoldsKey(file_path, posix::kWow64Key) ? posix::RegistryView::k32
                                                     : posix::RegistryView::k64;
}

// A key no export holds, for the trace.
void TraceMissingKey(const std::string& asked_path, uint32_t code) {
  posix::Trace({"registry.read", "-", posix::Utf8FromAnsi(asked_path), "-", "-", "-", "-",
                std::to_string(code)});
}

class FileRegistry : public Registry {
 public:
  Result<std::unique_ptr<RegistryKey>> OpenLocalMachineKey(const std::string& path,
                                                           KeyAccess access) override {
    const std::vector<std::string> files =
        posix::ExportFiles(posix::EnvironmentOr(kRegistryFileVariable, kDefaultRegistryFile));
    for (const std::string& file_path : files) {
      const std::string key_path = posix::KeyInView(path, ViewOf(file_path));
      if (!ExportHoldsKey(file_path, key_path)) continue;
      if (access == KeyAccess::kQueryAndSet && posix::IsWriteProtected(file_path)) {
        return Failure{kErrorAccessDenied};
      }
      return std::unique_ptr<RegistryKey>(
          std::make_unique<FileRegistryKey>(file_path, path, key_path));
    }
    const bool denied = access == KeyAccess::kQueryAndSet && files.size() == 1 &&
                        posix::IsWriteProtected(files.front());
    const uint32_t code = denied ? kErrorAccessDenied : kErrorFileNotFound;
    TraceMissingKey(path, code);
    return Failure{code};
  }

 private:
  // An export's view is guessed once while the variables stay as they are,
  // not for every request: a guess reads the export up to its WOW6432Node key.
  posix::RegistryView ViewOf(const std::string& file_path) {
    const std::string settings = posix::EnvironmentOr(kRegistryFileVariable, "") + '\n' +
                                 posix::EnvironmentOr(kRegistryViewVariable, "");
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (settings != view_settings_) {
        views_.clear();
        view_settings_ = settings;
      }
      const auto known = views_.find(file_path);
      if (known != views_.end()) return known->second;
    }
    // The scan of the export runs without the lock.
    const posix::RegistryView view = GuessView(file_path);
    const std::lock_guard<std::mutex> lock(mutex_);
    if (settings == view_settings_) views_.emplace(file_path, view);
    return view;
  }

  std::mutex mutex_;
  std::map<std::string, posix::RegistryView> views_;
  std::string view_settings_;
};

}  // namespace

Registry& SystemRegistry() {
  static FileRegistry registry;
  return registry;
}

}  // namespace qlx::platform
