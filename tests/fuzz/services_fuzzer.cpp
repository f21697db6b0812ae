// Feeds arbitrary bytes to the service manager stand-in as its services file,
// then stops and starts the add-on's service. No input may crash it; a stop
// or start that succeeds changes the state word of one line and no other
// byte, and one that finds the service in that state already changes
// nothing.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/posix/windows_errors.h"
#include "platform/services.h"
#include "posix/posix_test_support.h"

namespace {

namespace fs = std::filesystem;
namespace posix = qlx::platform::posix;

constexpr char kServiceName[] = "OV Quellmark";
constexpr std::size_t kStateLength = 7;  // "running" and "stopped" alike

// Ends the run as a crash, saying which property failed.
void Require(bool condition, const char* property) {
  if (condition) return;
  std::fprintf(stderr, "property failed: %s\n", property);
  std::abort();
}

// A directory of its own on tmpfs where there is one: every stop or start
// syncs the file it writes.
class TmpfsDirectory {
 public:
  TmpfsDirectory() {
    const fs::path base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
    std::string name_template = (base / "qlx-fuzz-XXXXXX").string();
    Require(::mkdtemp(name_template.data()) != nullptr, "a scratch directory");
    path_ = name_template;
  }
  ~TmpfsDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TmpfsDirectory(const TmpfsDirectory&) = delete;
  TmpfsDirectory& operator=(const TmpfsDirectory&) = delete;

  std::string File(const char* name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

bool IsWord(const std::string& text, std::size_t at, const char* word) {
  if (at + kStateLength > text.size()) return false;
  for (std::size_t i = 0; i < kStateLength; ++i) {
    const char c = text[at + i];
    const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != word[i]) return false;
  }
  return true;
}

// Where the file changed from `from` (any case) to `to`, which is all that
// changed; every letter of the two words differs, so the change starts there.
std::size_t RequireOnlyStateChanged(const std::string& before, const std::string& after,
                                    const char* from, const char* to) {
  Require(before.size() == after.size(), "the file keeps its size");
  std::size_t at = 0;
  while (at < before.size() && before[at] == after[at]) ++at;
  Require(IsWord(before, at, from) && after.compare(at, kStateLength, to) == 0,
          "the state word is what changed");
  Require(before.compare(at + kStateLength, std::string::npos, after, at + kStateLength) == 0,
          "nothing after the state word changed");
  return at;
}

// Stops and starts the service in a file that names it.
void CheckStopAndStart(qlx::platform::Service& service, const std::string& path,
                       const std::string& original) {
  const uint32_t stop = service.Stop().error();
  Require(stop == 0 || stop == qlx::platform::kErrorServiceNotActive,
          "a stop succeeds or finds none");
  const std::string stopped = qlx::posix_tests::ReadBytes(path);
  std::size_t changed = 0;
  if (stop == 0) {
    changed = RequireOnlyStateChanged(original, stopped, "running", "stopped");
  } else {
    Require(stopped == original, "a stop that finds none changes nothing");
  }
  Require(service.Stop().error() == qlx::platform::kErrorServiceNotActive,
          "a stopped service stops no more");
  Require(qlx::posix_tests::ReadBytes(path) == stopped, "a second stop changes nothing");

  Require(static_cast<bool>(service.Start()), "a stopped service starts");
  const std::size_t restarted =
      RequireOnlyStateChanged(stopped, qlx::posix_tests::ReadBytes(path), "stopped", "running");
  Require(stop != 0 || restarted == changed, "the start changes the line the stop changed");
  Require(service.Start().error() == qlx::platform::kErrorServiceAlreadyRunning,
          "a running one starts no more");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const TmpfsDirectory directory;
  static const std::string path = directory.File("services");
  static const qlx::posix_tests::ScopedEnvironment variable("QLX_SERVICES_FILE", path);

  const std::string original(reinterpret_cast<const char*>(data), size);
  qlx::posix_tests::WriteBytes(path, original);
  auto manager = qlx::platform::SystemServices().OpenManager();
  Require(static_cast<bool>(manager), "a file that may be written opens the manager");
  auto service = (*manager)->OpenNamedService(kServiceName);
  Require(service || service.error() == qlx::platform::kErrorServiceDoesNotExist,
          "the service opens or does not exist");
  if (service) CheckStopAndStart(**service, path, original);
  return 0;
}
