// Placeholder until the real facility lands.
#include "platform/processes.h"

namespace qlx::platform {
namespace {
class NoProcesses : public Processes {
 public:
  ProgramOutcome RunHidden(const std::string&) override { return {true, 2}; }
  void RunCommandInterpreter(const std::string&) override {}
};
}  // namespace
Processes& SystemProcesses() {
  static NoProcesses processes;
  return processes;
}
}  // namespace qlx::platform
