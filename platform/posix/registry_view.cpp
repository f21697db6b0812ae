#include "platform/posix/registry_view.h"

#include <algorithm>

#include "platform/posix/text_encoding.h"

namespace qlx::platform::posix {
namespace {

constexpr char kSoftware[] = "SOFTWARE";
constexpr std::size_t kSoftwareLength = sizeof kSoftware - 1;

// Whether the path is SOFTWARE or a key below it.
bool IsSoftwareKey(const std::string& key_path) {
  if (key_path.size() < kSoftwareLength) return false;
  if (!EqualIgnoringCase(key_path.substr(0, kSoftwareLength), kSoftware)) return false;
  return key_path.size() == kSoftwareLength || key_path[kSoftwareLength] == '\\';
}

// Whether the path already names the redirected keys, which the redirector
// leaves as they are.
bool IsWow64Key(const std::string& key_path) {
  const std::size_t length = sizeof kWow64Key - 1;
  if (key_path.size() < length || !EqualIgnoringCase(key_path.substr(0, length), kWow64Key)) {
    return false;
  }
  return key_path.size() == length || key_path[length] == '\\';
}

}  // namespace

std::optional<RegistryView> ViewFromText(const std::string& text) {
  if (text == "32") return RegistryView::k32;
  if (text == "64") return RegistryView::k64;
  return std::nullopt;
}

std::string KeyInView(const std::string& key_path, RegistryView view) {
  if (view == RegistryView::k64 || !IsSoftwareKey(key_path) || IsWow64Key(key_path)) {
    return key_path;
  }
  return kWow64Key + key_path.substr(kSoftwareLength);
}

std::vector<std::string> ExportFiles(const std::string& list) {
  std::vector<std::string> files;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t colon = std::min(list.find(':', start), list.size());
    if (colon > start) files.push_back(list.substr(start, colon - start));
    start = colon + 1;
  }
  return files;
}

}  // namespace qlx::platform::posix
