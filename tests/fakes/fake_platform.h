#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/database.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/system_messages.h"

namespace qlx::testing {

// HKEY_LOCAL_MACHINE in memory; key paths and value names compare
// case-insensitively, as in the registry.
class FakeRegistry : public platform::Registry {
 public:
  std::unique_ptr<platform::RegistryKey> OpenLocalMachineKey(const std::string& path,
                                                             platform::KeyAccess access) override;
  std::vector<platform::KeyAccess> opened_with;

  void SetString(const std::string& key, const std::string& name, const std::string& text,
                 uint32_t type = platform::kRegSz);
  void SetBytes(const std::string& key, const std::string& name, uint32_t type,
                std::vector<unsigned char> bytes);
  void AddKey(const std::string& key);
  std::optional<platform::RegistryData> Get(const std::string& key, const std::string& name) const;
  // The value's text up to its first zero byte.
  std::string Text(const std::string& key, const std::string& name) const;

  bool refuse_writes = false;
  int writes = 0;

 private:
  using Values = std::map<std::string, platform::RegistryData>;
  friend class FakeRegistryKey;
  std::map<std::string, Values> keys_;
};

// The service control manager in memory: services by name, running or not.
class FakeServices : public platform::Services {
 public:
  std::unique_ptr<platform::ServiceManager> OpenManager(uint32_t* error) override;

  std::map<std::string, bool> running;  // name -> running
  uint32_t manager_error = 0;           // refuses to open the manager with this code
  bool stop_pending_at_start = false;   // the service is still stopping when started
  bool throw_on_stop = false;           // the stop request raises an exception
  std::vector<std::string> requests;    // "stop <name>", "wait <ms>", "start <name>"
};

// Records every child and command line; what they do and return is scripted.
class FakeProcesses : public platform::Processes {
 public:
  platform::ProgramOutcome RunHidden(const std::string& command_line) override;
  void RunCommandInterpreter(const std::string& line) override;

  std::vector<std::string> hidden_runs;
  std::vector<std::string> interpreter_lines;
  // Decides the outcome of a hidden run; exit code 0 when unset.
  std::function<platform::ProgramOutcome(const std::string&)> on_run;
  // Carries out a command-interpreter line (e.g. writes the redirected file).
  std::function<void(const std::string&)> on_interpreter;
};

// A database that records the calls made on it and fails the ones it is told to.
class FakeDatabase : public platform::DatabaseDriver {
 public:
  bool InitializeCom() override;
  std::unique_ptr<platform::Connection> CreateConnection() override;

  bool com_usable = true;
  bool can_create = true;
  // Call name ("ConnectionString", "ConnectionTimeout", "CommandTimeout",
  // "Open", "Execute", "Close") or a statement -> the error it raises.
  std::map<std::string, platform::ComError> failures;
  std::vector<std::string> calls;
  std::string connection_string;
  long connection_timeout = 0;
  long command_timeout = 0;
  int live_connections = 0;
  int live_recordsets = 0;
};

// Fixed texts for the codes a test names; none for the others.
class FakeMessages : public platform::MessageTable {
 public:
  std::optional<std::string> Text(uint32_t code) override;
  std::map<uint32_t, std::string> texts;
};

}  // namespace qlx::testing
