#include "database/password_files.h"

#include <algorithm>
#include <cctype>
#include <thread>

#include "config/host_paths.h"
#include "driver/patch_log.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/windows_codes.h"

namespace qlx {
namespace {

// A delete that fails (a tool still holding the file) is tried again this often.
constexpr std::chrono::milliseconds kRemoveRetryPause{50};

constexpr const char* kNames[] = {"\\pass1.txt", "\\pass2.txt"};

bool AlreadyGone(uint32_t error) {
  return error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound;
}

bool Removed(const std::string& path) {
  const platform::Result<> removed = platform::Current().files->Remove(path);
  return removed || AlreadyGone(removed.error());
}

std::string Outcome(const platform::Result<>& result, const char* done, const char* refused) {
  return result ? done : std::string(refused) + ", error " + std::to_string(result.error());
}

void GiveUp(const std::string& path) {
  const platform::Result<> emptied = platform::Current().files->Empty(path);
  const platform::Result<> scheduled = platform::Current().files->RemoveAtReboot(path);
  LogModuleMessage(
      "QLXPatch",
      path + " could not be deleted (" + Outcome(emptied, "emptied", "not emptied") + "; " +
          Outcome(scheduled, "deletion at restart scheduled", "deletion at restart refused") + ")");
}

}  // namespace

std::vector<std::string> PasswordFilePaths() {
  const std::string directory = AddOnDirectory();
  return {directory + kNames[0], directory + kNames[1]};
}

bool IsPasswordFile(const std::string& path) {
  for (const std::string name : kNames) {
    if (path.size() < name.size()) continue;
    const std::string end = path.substr(path.size() - name.size());
    if (std::equal(end.begin(), end.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == b;
        })) {
      return true;
    }
  }
  return false;
}

bool PreparePasswordFile(const std::string& path) {
  return Removed(path) && platform::Current().files->CreateNew(path);
}

void RemovePasswordFile(const std::string& path, std::chrono::steady_clock::time_point deadline) {
  while (!Removed(path)) {
    if (std::chrono::steady_clock::now() + kRemoveRetryPause > deadline) return GiveUp(path);
    std::this_thread::sleep_for(kRemoveRetryPause);
  }
}

void RemovePasswordFiles(std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (const std::string& path : PasswordFilePaths()) RemovePasswordFile(path, deadline);
}

}  // namespace qlx
