// Placeholders until the real facilities land.
#include "platform/database.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/system_messages.h"

namespace qlx::platform {
namespace {
class NoRegistry : public Registry {
 public:
  std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::string&) override { return nullptr; }
};
class NoServices : public Services {
 public:
  std::unique_ptr<ServiceManager> OpenManager(uint32_t* error) override {
    *error = 5;
    return nullptr;
  }
};
class NoProcesses : public Processes {
 public:
  ProgramOutcome RunHidden(const std::string&) override { return {true, 2}; }
  void RunCommandInterpreter(const std::string&) override {}
};
class NoDatabase : public DatabaseDriver {
 public:
  bool InitializeCom() override { return true; }
  std::unique_ptr<Connection> CreateConnection() override { return nullptr; }
};
}  // namespace
Registry& SystemRegistry() { static NoRegistry r; return r; }
Services& SystemServices() { static NoServices s; return s; }
Processes& SystemProcesses() { static NoProcesses p; return p; }
DatabaseDriver& SystemDatabaseDriver() { static NoDatabase d; return d; }
UniqueFile OpenFile(const std::string& path, const char* mode, uint32_t* error) {
  UniqueFile f(std::fopen(path.c_str(), mode));
  if (!f && error) *error = 2;
  return f;
}
bool RemoveFile(const std::string& path) { return std::remove(path.c_str()) == 0; }
uint32_t CopyFileReplacing(const std::string&, const std::string&) { return 2; }
std::optional<std::string> SystemMessageText(uint32_t) { return std::nullopt; }
}  // namespace qlx::platform
