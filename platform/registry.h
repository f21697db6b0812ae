#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/result.h"

namespace qlx::platform {

// Value types, numbered as the Windows registry numbers them.
enum RegistryType : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegDwordBigEndian = 5,
  kRegLink = 6,
  kRegMultiSz = 7,
  kRegQword = 11,
};

// A value's type and its stored bytes, exactly as the registry holds them.
struct RegistryData {
  uint32_t type = kRegNone;
  std::vector<unsigned char> bytes;
};

// An open key below HKEY_LOCAL_MACHINE; closed when destroyed.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // The value's type and bytes; fails with 2 when the value does not exist.
  virtual Result<RegistryData> QueryValue(const std::string& name) = 0;
  // Stores the value under the name.
  virtual Result<> SetValue(const std::string& name, const RegistryData& data) = 0;
};

// What an opened key is used for: a reader needs no right to change values,
// so it still works where the account may only read the key.
enum class KeyAccess { kQuery, kQueryAndSet };

class Registry {
 public:
  virtual ~Registry() = default;
  // Opens an existing key below HKEY_LOCAL_MACHINE; fails with 2 when it does
  // not exist, with 5 when it cannot be opened with the access asked for.
  virtual Result<std::unique_ptr<RegistryKey>> OpenLocalMachineKey(const std::string& path,
                                                                   KeyAccess access) = 0;
};

Registry& SystemRegistry();

}  // namespace qlx::platform
