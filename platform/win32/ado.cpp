// Placeholder until the real facility lands.
#include "platform/database.h"

namespace qlx::platform {
namespace {
class NoDatabase : public DatabaseDriver {
 public:
  bool InitializeCom() override { return true; }
  std::unique_ptr<Connection> CreateConnection() override { return nullptr; }
};
}  // namespace
DatabaseDriver& SystemDatabaseDriver() {
  static NoDatabase driver;
  return driver;
}
}  // namespace qlx::platform
