#include "platform/platform.h"

#include "platform/database.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/system_messages.h"

namespace qlx::platform {
namespace {

// The facilities in force: the system's own until a ScopedFacilities puts
// others in their place.
Facilities& InForce() {
  static Facilities facilities{&SystemRegistry(),       &SystemServices(),     &SystemProcesses(),
                               &SystemDatabaseDriver(), &SystemMessageTable(), &SystemFiles()};
  return facilities;
}

class SystemMessages : public MessageTable {
 public:
  std::optional<std::string> Text(uint32_t code) override { return SystemMessageText(code); }
};

}  // namespace

MessageTable& SystemMessageTable() {
  static SystemMessages table;
  return table;
}

const Facilities& Current() { return InForce(); }

bool RunsOnStandIns() {
#ifdef _WIN32
  return false;
#else
  return true;
#endif
}

ScopedFacilities::ScopedFacilities(const Facilities& replacement) : previous_(InForce()) {
  Facilities& in_force = InForce();
  if (replacement.registry) in_force.registry = replacement.registry;
  if (replacement.services) in_force.services = replacement.services;
  if (replacement.processes) in_force.processes = replacement.processes;
  if (replacement.database) in_force.database = replacement.database;
  if (replacement.messages) in_force.messages = replacement.messages;
  if (replacement.files) in_force.files = replacement.files;
}

ScopedFacilities::~ScopedFacilities() { InForce() = previous_; }

}  // namespace qlx::platform
