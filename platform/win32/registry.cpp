// Values below HKEY_LOCAL_MACHINE through the Windows registry. A 32-bit
// program sees the 32-bit view of the registry, where the host server and the
// add-on keep their keys.
#include "platform/registry.h"

#include <utility>

#include "platform/win32/handles.h"

namespace qlx::platform {
namespace {

using win32::UniqueGlobalMemory;
using win32::UniqueHkey;

// The size in bytes of the value's data, read without the data itself.
std::optional<DWORD> StoredSize(HKEY key, const std::string& name) {
  DWORD size = 0;
  if (RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return size;
}

// Reads the value into a zero-filled work buffer one byte longer than the
// stored data, so a string stored without its terminating zero still ends in
// one inside the buffer.
std::optional<RegistryData> ReadStoredData(HKEY key, const std::string& name, DWORD size) {
  const DWORD buffer_size = size + 1;
  UniqueGlobalMemory buffer(GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, buffer_size));
  if (!buffer) return std::nullopt;
  auto* const bytes = static_cast<unsigned char*>(buffer.get());
  DWORD type = REG_NONE;
  DWORD read_size = buffer_size;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, bytes, &read_size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  RegistryData data;
  data.type = type;
  data.bytes.assign(bytes, bytes + read_size);
  return data;
}

class Win32RegistryKey : public RegistryKey {
 public:
  explicit Win32RegistryKey(UniqueHkey key) : key_(std::move(key)) {}

  std::optional<RegistryData> QueryValue(const std::string& name) override {
    const std::optional<DWORD> size = StoredSize(key_.get(), name);
    if (!size) return std::nullopt;
    return ReadStoredData(key_.get(), name, *size);
  }

  bool SetValue(const std::string& name, const RegistryData& data) override {
    const LSTATUS status = RegSetValueExA(key_.get(), name.c_str(), 0, data.type, data.bytes.data(),
                                          static_cast<DWORD>(data.bytes.size()));
    return status == ERROR_SUCCESS;
  }

 private:
  UniqueHkey key_;
};

class Win32Registry : public Registry {
 public:
  std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::string& path,
                                                   KeyAccess access) override {
    const REGSAM rights =
        access == KeyAccess::kQuery ? KEY_QUERY_VALUE : KEY_QUERY_VALUE | KEY_SET_VALUE;
    UniqueHkey key;
    const LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, rights, key.put());
    if (status != ERROR_SUCCESS) return nullptr;
    return std::make_unique<Win32RegistryKey>(std::move(key));
  }
};

}  // namespace

Registry& SystemRegistry() {
  static Win32Registry registry;
  return registry;
}

}  // namespace qlx::platform
