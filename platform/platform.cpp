#include "platform/platform.h"

#include "platform/database.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/system_messages.h"

namespace qlx::platform {
namespace {

Facilities& InForce() {
  static Facilities facilities = SystemFacilities();
  return facilities;
}

}  // namespace

Facilities SystemFacilities() {
  return Facilities{&SystemRegistry(),       &SystemServices(),     &SystemProcesses(),
                    &SystemDatabaseDriver(), &SystemMessageTable(), &SystemFiles()};
}

namespace {

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
