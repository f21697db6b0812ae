#include "fakes/fake_platform.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace qlx::testing {
namespace {

std::string Folded(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

class FakeRegistryKey : public platform::RegistryKey {
 public:
  FakeRegistryKey(FakeRegistry& registry, FakeRegistry::Values& values)
      : registry_(registry), values_(values) {}

  std::optional<platform::RegistryData> QueryValue(const std::string& name) override {
    const auto found = values_.find(Folded(name));
    if (found == values_.end()) return std::nullopt;
    return found->second;
  }

  bool SetValue(const std::string& name, const platform::RegistryData& data) override {
    if (registry_.refuse_writes) return false;
    ++registry_.writes;
    values_[Folded(name)] = data;
    return true;
  }

 private:
  FakeRegistry& registry_;
  FakeRegistry::Values& values_;
};

std::unique_ptr<platform::RegistryKey> FakeRegistry::OpenLocalMachineKey(
    const std::string& path, platform::KeyAccess access) {
  opened_with.push_back(access);
  const auto found = keys_.find(Folded(path));
  if (found == keys_.end()) return nullptr;
  return std::make_unique<FakeRegistryKey>(*this, found->second);
}

void FakeRegistry::SetString(const std::string& key, const std::string& name,
                             const std::string& text, uint32_t type) {
  std::vector<unsigned char> bytes(text.begin(), text.end());
  bytes.push_back(0);
  SetBytes(key, name, type, std::move(bytes));
}

void FakeRegistry::SetBytes(const std::string& key, const std::string& name, uint32_t type,
                            std::vector<unsigned char> bytes) {
  keys_[Folded(key)][Folded(name)] = platform::RegistryData{type, std::move(bytes)};
}

void FakeRegistry::AddKey(const std::string& key) { keys_[Folded(key)]; }

std::optional<platform::RegistryData> FakeRegistry::Get(const std::string& key,
                                                        const std::string& name) const {
  const auto found_key = keys_.find(Folded(key));
  if (found_key == keys_.end()) return std::nullopt;
  const auto found = found_key->second.find(Folded(name));
  if (found == found_key->second.end()) return std::nullopt;
  return found->second;
}

std::string FakeRegistry::Text(const std::string& key, const std::string& name) const {
  const std::optional<platform::RegistryData> value = Get(key, name);
  if (!value) return "<missing>";
  const auto end = std::find(value->bytes.begin(), value->bytes.end(), 0);
  return std::string(value->bytes.begin(), end);
}

namespace {

constexpr uint32_t kServiceDoesNotExist = 1060;
constexpr uint32_t kServiceNotActive = 1062;
constexpr uint32_t kServiceAlreadyRunning = 1056;

class FakeService : public platform::Service {
 public:
  FakeService(FakeServices& services, std::string name)
      : services_(services), name_(std::move(name)) {}

  uint32_t Stop() override {
    services_.requests.push_back("stop " + name_);
    bool& running = services_.running[name_];
    if (!running) return kServiceNotActive;
    running = false;
    if (services_.throw_on_stop) throw std::runtime_error("service manager gone");
    return 0;
  }

  uint32_t Start() override {
    services_.requests.push_back("start " + name_);
    bool& running = services_.running[name_];
    if (running || services_.stop_pending_at_start) return kServiceAlreadyRunning;
    running = true;
    return 0;
  }

  void WaitWhileStopPending(std::chrono::milliseconds limit) override {
    services_.requests.push_back("wait " + std::to_string(limit.count()));
    services_.stop_pending_at_start = false;
  }

 private:
  FakeServices& services_;
  std::string name_;
};

class FakeServiceManager : public platform::ServiceManager {
 public:
  explicit FakeServiceManager(FakeServices& services) : services_(services) {}

  std::unique_ptr<platform::Service> OpenNamedService(const std::string& name,
                                                      uint32_t* error) override {
    if (services_.running.count(name) == 0) {
      *error = kServiceDoesNotExist;
      return nullptr;
    }
    return std::make_unique<FakeService>(services_, name);
  }

 private:
  FakeServices& services_;
};

}  // namespace

std::unique_ptr<platform::ServiceManager> FakeServices::OpenManager(uint32_t* error) {
  if (manager_error != 0) {
    *error = manager_error;
    return nullptr;
  }
  return std::make_unique<FakeServiceManager>(*this);
}

platform::ProgramOutcome FakeProcesses::RunHidden(const std::string& command_line) {
  hidden_runs.push_back(command_line);
  return on_run ? on_run(command_line) : platform::ProgramOutcome{};
}

void FakeProcesses::RunCommandInterpreter(const std::string& line) {
  interpreter_lines.push_back(line);
  if (on_interpreter) on_interpreter(line);
}

namespace {

class FakeRecordset : public platform::Recordset {
 public:
  explicit FakeRecordset(FakeDatabase& database) : database_(database) {
    ++database_.live_recordsets;
  }
  ~FakeRecordset() override {
    --database_.live_recordsets;
    database_.calls.push_back("release recordset");
  }
  void Close() override { database_.calls.push_back("close recordset"); }

 private:
  FakeDatabase& database_;
};

class FakeConnection : public platform::Connection {
 public:
  explicit FakeConnection(FakeDatabase& database) : database_(database) {
    ++database_.live_connections;
  }
  ~FakeConnection() override {
    --database_.live_connections;
    database_.calls.push_back("release connection");
  }

  void PutConnectionString(const std::string& connection_string) override {
    Call("ConnectionString");
    database_.connection_string = connection_string;
  }
  void PutConnectionTimeout(long seconds) override {
    Call("ConnectionTimeout");
    database_.connection_timeout = seconds;
  }
  void PutCommandTimeout(long seconds) override {
    Call("CommandTimeout");
    database_.command_timeout = seconds;
  }
  void Open() override { Call("Open"); }
  std::unique_ptr<platform::Recordset> Execute(const std::string& statement) override {
    Call("Execute");
    database_.calls.back() += " " + statement;
    FailIfTold(statement);
    return std::make_unique<FakeRecordset>(database_);
  }
  void Close() override { Call("Close"); }

 private:
  void Call(const std::string& name) {
    database_.calls.push_back(name);
    FailIfTold(name);
  }
  void FailIfTold(const std::string& name) {
    const auto failure = database_.failures.find(name);
    if (failure != database_.failures.end()) throw failure->second;
  }

  FakeDatabase& database_;
};

}  // namespace

bool FakeDatabase::InitializeCom() {
  calls.push_back("InitializeCom");
  return com_usable;
}

std::unique_ptr<platform::Connection> FakeDatabase::CreateConnection() {
  calls.push_back("CreateConnection");
  if (!can_create) return nullptr;
  return std::make_unique<FakeConnection>(*this);
}

std::optional<std::string> FakeMessages::Text(uint32_t code) {
  const auto found = texts.find(code);
  if (found == texts.end()) return std::nullopt;
  return found->second;
}

}  // namespace qlx::testing
