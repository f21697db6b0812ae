// Values below HKEY_LOCAL_MACHINE through the Windows registry. A 32-bit
// program sees the 32-bit view of the registry, where the host server and the
// add-on keep their keys.
#include "platform/registry.h"

#include <memory>
#include <utility>

#include "platform/win32/handles.h"

namespace qlx::platform {
namespace {

using win32::UniqueGlobalMemory;
using win32::UniqueHkey;

Failure FailureOf(LSTATUS status) { return Failure{static_cast<uint32_t>(status)}; }

// The size in bytes of the value's data, read without the data itself.
Result<DWORD> StoredSize(HKEY key, const std::string& name) {
  DWORD size = 0;
  const LSTATUS status = RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, &size);
  if (status != ERROR_SUCCESS) return FailureOf(status);
  return size;
}

// Reads the value into a zero-filled work buffer one byte longer than the
// stored data, so a string stored without its terminating zero still ends in
// one inside the buffer.
Result<RegistryData> ReadStoredData(HKEY key, const std::string& name, DWORD size) {
  const DWORD buffer_size = size + 1;
  UniqueGlobalMemory buffer(GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, buffer_size));
  if (!buffer) return Failure{GetLastError()};
  auto* const bytes = static_cast<unsigned char*>(buffer.get());
  DWORD type = REG_NONE;
  DWORD read_size = buffer_size;
  const LSTATUS status = RegQueryValueExA(key, name.c_str(), nullptr, &type, bytes, &read_size);
  if (status != ERROR_SUCCESS) return FailureOf(status);
  RegistryData data;
  data.type = type;
  data.bytes.assign(bytes, bytes + read_size);
  return data;
}

class Win32RegistryKey : public RegistryKey {
 public:
  explicit Win32RegistryKey(UniqueHkey key) : key_(std::move(key)) {}

  Result<RegistryData> QueryValue(const std::string& name) override {
    const Result<DWORD> size = StoredSize(key_.get(), name);
    if (!size) return Failure{size.error()};
    return ReadStoredData(key_.get(), name, *size);
  }

  Result<> SetValue(const std::string& name, const RegistryData& data) override {
    const LSTATUS status = RegSetValueExA(key_.get(), name.c_str(), 0, data.type, data.bytes.data(),
                                          static_cast<DWORD>(data.bytes.size()));
    if (status != ERROR_SUCCESS) return FailureOf(status);
    return {};
  }

 private:
  UniqueHkey key_;
};

class Win32Registry : public Registry {
 public:
  Result<std::unique_ptr<RegistryKey>> OpenLocalMachineKey(const std::string& path,
                                                           KeyAccess access) override {
    const REGSAM rights =
        access == KeyAccess::kQuery ? KEY_QUERY_VALUE : KEY_QUERY_VALUE | KEY_SET_VALUE;
    UniqueHkey key;
    const LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, rights, key.put());
    if (status != ERROR_SUCCESS) return FailureOf(status);
    return std::unique_ptr<RegistryKey>(std::make_unique<Win32RegistryKey>(std::move(key)));
  }
};

}  // namespace

Registry& SystemRegistry() {
  static Win32Registry registry;
  return registry;
}

}  // namespace qlx::platform
