#pragma once

// Scratch directories, environment variables and file helpers for the tests
// of the POSIX stand-ins, which work on real files and processes.

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>

namespace qlx::posix_tests {

namespace fs = std::filesystem;

// A fresh directory from mkdtemp, removed with its contents at the end.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string name_template = (fs::temp_directory_path() / "qlx-posix-XXXXXX").string();
    if (::mkdtemp(name_template.data())) path_ = name_template;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const fs::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// Sets (or, given nothing, unsets) an environment variable for the scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* previous = std::getenv(name)) previous_ = previous;
    Set(value);
  }
  ~ScopedEnvironment() { Set(previous_); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  void Set(const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name_, value->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  const char* name_;
  std::optional<std::string> previous_;
};

// Changes the current directory for the scope.
class ScopedCurrentDirectory {
 public:
  explicit ScopedCurrentDirectory(const fs::path& directory) : previous_(fs::current_path()) {
    fs::current_path(directory);
  }
  ~ScopedCurrentDirectory() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
  }
  ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
  ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

 private:
  fs::path previous_;
};

inline std::string ReadBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << bytes;
}

inline bool CanCreateFileIn(const fs::path& directory) {
  const fs::path probe = directory / ".probe";
  const bool created = static_cast<bool>(std::ofstream(probe));
  std::error_code ignored;
  fs::remove(probe, ignored);
  return created;
}

// Gives the calling thread's effective capability up (or takes it back from
// the permitted set); true when that changed it. Only the calling thread is
// affected.
inline bool SetEffectiveCapability(int capability, bool effective) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  std::uint32_t& bits = data[CAP_TO_INDEX(capability)].effective;
  const std::uint32_t mask = CAP_TO_MASK(capability);
  if (((bits & mask) != 0) == effective) return false;
  bits = effective ? bits | mask : bits & ~mask;
  return ::syscall(SYS_capset, &header, data) == 0;
}

// Makes a directory refuse new files and renames for the scope, as a folder
// whose ACL denies the account any change: its write bits are cleared, and
// root, whom CAP_DAC_OVERRIDE lets past them, gives that capability up in
// this thread for the scope. Any file system and any account will do.
class ReadOnlyDirectory {
 public:
  explicit ReadOnlyDirectory(const fs::path& directory) : directory_(directory) {
    fs::permissions(directory_,
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    override_given_up_ = SetEffectiveCapability(CAP_DAC_OVERRIDE, false);
  }
  ~ReadOnlyDirectory() {
    if (override_given_up_) SetEffectiveCapability(CAP_DAC_OVERRIDE, true);
    std::error_code ignored;
    fs::permissions(directory_, fs::perms::owner_write, fs::perm_options::add, ignored);
  }
  ReadOnlyDirectory(const ReadOnlyDirectory&) = delete;
  ReadOnlyDirectory& operator=(const ReadOnlyDirectory&) = delete;

  bool Refuses() const { return !CanCreateFileIn(directory_); }

 private:
  fs::path directory_;
  bool override_given_up_ = false;
};

}  // namespace qlx::posix_tests
