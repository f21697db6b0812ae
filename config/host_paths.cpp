#include "config/host_paths.h"

#include "config/registry_values.h"

namespace qlx {

std::string HostDirectory() {
  return ReadRegistryValue(RegistryRoot::kLocalMachine, "SOFTWARE\\Orvanta\\Vantline\\Settings",
                           "InstallPath");
}

std::string AddOnDirectory() {
  return ReadRegistryValue(RegistryRoot::kLocalMachine, "SOFTWARE\\OV\\Quellmark", "ExtensionBase");
}

}  // namespace qlx
