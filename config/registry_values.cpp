#include "config/registry_values.h"

#include <algorithm>
#include <memory>

#include "platform/platform.h"
#include "platform/registry.h"

namespace qlx {
namespace {

platform::Result<std::unique_ptr<platform::RegistryKey>> OpenKey(RegistryRoot /*root*/,
                                                                 const std::string& path,
                                                                 platform::KeyAccess access) {
  return platform::Current().registry->OpenLocalMachineKey(path, access);
}

// A value of zero or one byte holds no text (at most the terminating zero).
bool HoldsText(const platform::RegistryData& data) { return data.bytes.size() > 1; }

bool IsStringType(uint32_t type) {
  return type == platform::kRegSz || type == platform::kRegExpandSz ||
         type == platform::kRegMultiSz;
}

// The new data in the layout the value's type needs: the text and its zero
// byte, and for a multi-string the empty string that ends the list.
std::vector<unsigned char> EncodeText(const std::string& text, uint32_t type) {
  std::vector<unsigned char> bytes(text.begin(), text.end());
  bytes.push_back(0);
  if (type == platform::kRegMultiSz) bytes.push_back(0);
  return bytes;
}

}  // namespace

std::string ReadRegistryValue(RegistryRoot root, std::string key_path, std::string value_name) {
  const std::string unreadable = " ";
  const auto key = OpenKey(root, key_path, platform::KeyAccess::kQuery);
  if (!key) return unreadable;
  const platform::Result<platform::RegistryData> value = (*key)->QueryValue(value_name);
  if (!value || !HoldsText(*value)) return unreadable;
  const auto end = std::find(value->bytes.begin(), value->bytes.end(), 0);
  return std::string(value->bytes.begin(), end);
}

bool UpdateRegistryValue(RegistryRoot root, std::string key_path, std::string value_name,
                         std::string data) {
  const auto key = OpenKey(root, key_path, platform::KeyAccess::kQueryAndSet);
  if (!key) return false;
  const platform::Result<platform::RegistryData> existing = (*key)->QueryValue(value_name);
  if (!existing || !HoldsText(*existing)) return false;
  // Text written into a number or raw bytes would corrupt the value.
  if (!IsStringType(existing->type)) return false;
  platform::RegistryData updated;
  updated.type = existing->type;
  updated.bytes = EncodeText(data, existing->type);
  return static_cast<bool>((*key)->SetValue(value_name, updated));
}

}  // namespace qlx
