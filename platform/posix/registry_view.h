#pragma once

// Which keys of the exports the program's key paths stand for. A 32-bit
// program on 64-bit Windows sees HKEY_LOCAL_MACHINE\SOFTWARE through the
// registry redirector: its SOFTWARE\X is SOFTWARE\WOW6432Node\X of the 64-bit
// registry, and an export taken on such a server holds the keys there.
// Pure text: nothing here reads a file or the environment.

#include <optional>
#include <string>
#include <vector>

namespace qlx::platform::posix {

enum class RegistryView {
  k32,  // the 32-bit view of 64-bit Windows: SOFTWARE is redirected
  k64,  // the keys where they are named: the export is read as it is
};

// The key whose presence tells an export taken on 64-bit Windows.
inline constexpr char kWow64Key[] = "SOFTWARE\\WOW6432Node";

// "32" or "64"; nothing for any other text (an unset variable included).
std::optional<RegistryView> ViewFromText(const std::string& text);

// The key in the export that the program's key path stands for in the view:
// SOFTWARE and every key below it move under SOFTWARE\WOW6432Node in the
// 32-bit view; any other key, and every key in the 64-bit view, stays.
std::string KeyInView(const std::string& key_path, RegistryView view);

// The export files of a list separated by ':', in order, empty items left out.
std::vector<std::string> ExportFiles(const std::string& list);

}  // namespace qlx::platform::posix
