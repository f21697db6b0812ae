// HKEY_LOCAL_MACHINE as a registry export file, named by QLX_REGISTRY_FILE
// (default /etc/qlxpatch/registry.reg). The file is read afresh for every
// request, so it can be edited between runs and by hand; a missing, unreadable
// or malformed file holds no key. A change rewrites the whole file beside the
// old one and renames it into place, so the file is never half written.
#include <memory>
#include <optional>
#include <string>

#include "platform/posix/posix_io.h"
#include "platform/posix/reg_file.h"
#include "platform/registry.h"

namespace qlx::platform {
namespace {

constexpr char kRegistryFileVariable[] = "QLX_REGISTRY_FILE";
constexpr char kDefaultRegistryFile[] = "/etc/qlxpatch/registry.reg";

std::optional<posix::RegFile> LoadRegistryFile(const std::string& file_path) {
  int error_number = 0;
  const std::optional<std::string> bytes = posix::ReadWholeFile(file_path, &error_number);
  if (!bytes) return std::nullopt;
  return posix::RegFile::Parse(*bytes);
}

class FileRegistryKey : public RegistryKey {
 public:
  FileRegistryKey(std::string file_path, std::string key_path)
      : file_path_(std::move(file_path)), key_path_(std::move(key_path)) {}

  std::optional<RegistryData> QueryValue(const std::string& name) override {
    const std::optional<posix::RegFile> file = LoadRegistryFile(file_path_);
    if (!file) return std::nullopt;
    return file->QueryValue(key_path_, name);
  }

  // Merges into the file as it is now, so changes made since the key was
  // opened are kept.
  bool SetValue(const std::string& name, const RegistryData& data) override {
    std::optional<posix::RegFile> file = LoadRegistryFile(file_path_);
    if (!file || !file->SetValue(key_path_, name, data)) return false;
    return posix::ReplaceFileContents(file_path_, file->Serialize()) == 0;
  }

 private:
  std::string file_path_;
  std::string key_path_;
};

class FileRegistry : public Registry {
 public:
  std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::string& path,
                                                   KeyAccess /*access*/) override {
    std::string file_path = posix::EnvironmentOr(kRegistryFileVariable, kDefaultRegistryFile);
    const std::optional<posix::RegFile> file = LoadRegistryFile(file_path);
    if (!file || !file->HasKey(path)) return nullptr;
    return std::make_unique<FileRegistryKey>(std::move(file_path), path);
  }
};

}  // namespace

Registry& SystemRegistry() {
  static FileRegistry registry;
  return registry;
}

}  // namespace qlx::platform
