#pragma once

#include <memory>
#include <string>

#include "platform/files.h"

namespace qlx::check {

// The files as the check sees them: everything reads as it is, and nothing
// the patch would write can be written, so that the patch's own readers,
// which the check calls, write no log entry and create no time-out file. The
// one exception is the password tool's output files, which the password
// retrieval creates and deletes again as it does for the patch.
class ReadOnlyFiles : public platform::Files {
 public:
  explicit ReadOnlyFiles(platform::Files& files) : files_(files) {}

  platform::Result<std::unique_ptr<platform::File>> Open(const std::string& path,
                                                         const char* mode) override;
  platform::Result<> Remove(const std::string& path) override;
  platform::Result<> CopyReplacing(const std::string& from, const std::string& to) override;
  platform::Result<> CreateNew(const std::string& path) override;
  platform::Result<> RemoveAtReboot(const std::string& path) override;
  platform::Result<> Empty(const std::string& path) override;
  bool IsDirectory(const std::string& path) override { return files_.IsDirectory(path); }
  platform::Result<> ProbeWrite(const std::string& path) override {
    return files_.ProbeWrite(path);
  }

 private:
  platform::Files& files_;
};

}  // namespace qlx::check
