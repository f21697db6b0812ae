#pragma once

#include <string>

namespace qlx {

// The installation directory of the host server ("InstallPath"), without a
// trailing backslash; a single blank when it cannot be read.
std::string HostDirectory();

// The installation directory of the add-on ("ExtensionBase"), likewise.
std::string AddOnDirectory();

}  // namespace qlx
