#pragma once

#include <cstdint>
#include <string>

#include "platform/win32/handles.h"

namespace qlx::platform::win32 {

// A security descriptor whose protected access list admits the current user,
// the Administrators and SYSTEM alone, for a new directory (inherited by what
// it holds) or file; empty, with *error set, when none can be made.
UniqueLocalMemory PrivateSecurityDescriptor(bool for_directory, uint32_t* error);

// A fresh directory for the hidden children inside the temporary directory,
// which every user may write to when the program runs as SYSTEM: its access
// list admits the current user, the Administrators and SYSTEM alone, and
// nothing is inherited from the parent. It is held open without delete
// sharing while it lives, so nobody can rename it and put another in its
// place, and it is removed with its contents when it goes out of scope.
class ScopedPrivateDirectory {
 public:
  // `parent` ends in a backslash, as GetTempPathA gives it.
  explicit ScopedPrivateDirectory(const std::string& parent);
  ~ScopedPrivateDirectory();
  ScopedPrivateDirectory(const ScopedPrivateDirectory&) = delete;
  ScopedPrivateDirectory& operator=(const ScopedPrivateDirectory&) = delete;

  // 0 when the directory was made, else the Windows error code.
  uint32_t error() const { return error_; }
  // Without a trailing backslash.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  UniqueKernelHandle held_;
  uint32_t error_ = 0;
};

}  // namespace qlx::platform::win32
