// Placeholder until the real facility lands.
#include "platform/registry.h"

namespace qlx::platform {
namespace {
class NoRegistry : public Registry {
 public:
  std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::string&) override { return nullptr; }
};
}  // namespace
Registry& SystemRegistry() {
  static NoRegistry registry;
  return registry;
}
}  // namespace qlx::platform
