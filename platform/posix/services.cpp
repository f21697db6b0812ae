// Placeholder until the real facility lands.
#include "platform/services.h"

namespace qlx::platform {
namespace {
class NoServices : public Services {
 public:
  std::unique_ptr<ServiceManager> OpenManager(uint32_t* error) override {
    *error = 5;
    return nullptr;
  }
};
}  // namespace
Services& SystemServices() {
  static NoServices services;
  return services;
}
}  // namespace qlx::platform
