#include "fakes/fake_platform.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <stdexcept>

#include "platform/interruption.h"

namespace qlx::testing {
namespace {

using platform::kErrorAccessDenied;
using platform::kErrorFileNotFound;
using platform::kErrorPathNotFound;
using platform::kErrorServiceAlreadyRunning;
using platform::kErrorServiceDoesNotExist;
using platform::kErrorServiceNotActive;

std::string Folded(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// True when the plan, if there is one, fails this call.
bool Injected(FaultPlan* plan, const std::string& call) { return plan && plan->Fails(call); }

}  // namespace

bool FaultPlan::Fails(const std::string& call) {
  ++calls;
  const bool reached =
      reach_call.empty() ? calls == fail_at : failed_call.empty() && call.rfind(reach_call, 0) == 0;
  if (!reached) return false;
  failed_call = call;
  if (!on_reach) return true;
  on_reach();
  return false;
}

std::recursive_mutex& FakesLock() {
  static std::recursive_mutex lock;
  return lock;
}

class FakeRegistryKey : public platform::RegistryKey {
 public:
  FakeRegistryKey(FakeRegistry& registry, FakeRegistry::Values& values)
      : registry_(registry), values_(values) {}

  platform::Result<platform::RegistryData> QueryValue(const std::string& name) override {
    if (Injected(registry_.faults, "query " + name)) return platform::Failure{kErrorAccessDenied};
    const auto found = values_.find(Folded(name));
    if (found == values_.end()) return platform::Failure{kErrorFileNotFound};
    return found->second;
  }

  platform::Result<> SetValue(const std::string& name,
                              const platform::RegistryData& data) override {
    if (Injected(registry_.faults, "set " + name) || registry_.refuse_writes) {
      return platform::Failure{kErrorAccessDenied};
    }
    ++registry_.writes;
    values_[Folded(name)] = data;
    return {};
  }

 private:
  FakeRegistry& registry_;
  FakeRegistry::Values& values_;
};

platform::Result<std::unique_ptr<platform::RegistryKey>> FakeRegistry::OpenLocalMachineKey(
    const std::string& path, platform::KeyAccess access) {
  opened_with.push_back(access);
  if (Injected(faults, "open key " + path)) return platform::Failure{kErrorAccessDenied};
  const auto found = keys_.find(Folded(path));
  if (found == keys_.end()) return platform::Failure{kErrorFileNotFound};
  return std::unique_ptr<platform::RegistryKey>(
      std::make_unique<FakeRegistryKey>(*this, found->second));
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

class FakeService : public platform::Service {
 public:
  FakeService(FakeServices& services, std::string name)
      : services_(services), name_(std::move(name)) {}

  platform::Result<> Stop() override {
    const std::lock_guard<std::recursive_mutex> guard(FakesLock());
    services_.requests.push_back("stop " + name_);
    if (Injected(services_.faults, "stop " + name_)) return platform::Failure{kErrorAccessDenied};
    bool& running = services_.running[name_];
    if (!running) return platform::Failure{kErrorServiceNotActive};
    running = false;
    services_.stop_left = services_.stop_takes;
    if (services_.throw_on_stop) throw std::runtime_error("service manager gone");
    return {};
  }

  platform::Result<> Start() override {
    const std::lock_guard<std::recursive_mutex> guard(FakesLock());
    services_.requests.push_back("start " + name_);
    if (Injected(services_.faults, "start " + name_)) return platform::Failure{kErrorAccessDenied};
    bool& running = services_.running[name_];
    if (running || services_.stop_pending_at_start || services_.stop_left.count() > 0) {
      return platform::Failure{kErrorServiceAlreadyRunning};
    }
    running = true;
    return {};
  }

  platform::Result<platform::ServiceStatus> Status() override {
    const std::lock_guard<std::recursive_mutex> guard(FakesLock());
    return platform::ServiceStatus{services_.running[name_] ? platform::ServiceState::kRunning
                                                            : platform::ServiceState::kStopped};
  }

  bool StopPending() override {
    const std::lock_guard<std::recursive_mutex> guard(FakesLock());
    return services_.stop_pending_at_start || services_.stop_left.count() > 0;
  }

  void WaitWhileStopPending(std::chrono::milliseconds limit) override {
    const std::lock_guard<std::recursive_mutex> guard(FakesLock());
    services_.requests.push_back("wait " + std::to_string(limit.count()));
    // A failed wait returns at once, with the stop perhaps still under way.
    if (Injected(services_.faults, "wait")) return;
    services_.stop_pending_at_start = false;
    services_.stop_left = std::max(services_.stop_left - limit, std::chrono::milliseconds(0));
  }

 private:
  FakeServices& services_;
  std::string name_;
};

class FakeServiceManager : public platform::ServiceManager {
 public:
  explicit FakeServiceManager(FakeServices& services) : services_(services) {}

  platform::Result<std::unique_ptr<platform::Service>> OpenNamedService(
      const std::string& name) override {
    if (Injected(services_.faults, "open service " + name)) {
      return platform::Failure{kErrorAccessDenied};
    }
    if (services_.running.count(name) == 0) return platform::Failure{kErrorServiceDoesNotExist};
    return std::unique_ptr<platform::Service>(std::make_unique<FakeService>(services_, name));
  }

 private:
  FakeServices& services_;
};

}  // namespace

platform::Result<std::unique_ptr<platform::ServiceManager>> FakeServices::OpenManager() {
  const std::lock_guard<std::recursive_mutex> guard(FakesLock());
  if (Injected(faults, "open manager")) return platform::Failure{kErrorAccessDenied};
  if (manager_error != 0) return platform::Failure{manager_error};
  return std::unique_ptr<platform::ServiceManager>(std::make_unique<FakeServiceManager>(*this));
}

platform::Result<uint32_t> FakeProcesses::RunHidden(const std::string& command_line,
                                                    const platform::GiveUp& give_up) {
  hidden_runs.push_back(command_line);
  if (Injected(faults, "run " + command_line)) return platform::Failure{kErrorFileNotFound};
  // An interruption that came since the last wait wakes this one once.
  if (platform::Interruptions() > interruptions_seen_) {
    interruptions_seen_ = platform::Interruptions();
    if (give_up && give_up()) {
      hidden_runs.back() += " (ended)";
      return 1u;
    }
  }
  return on_run ? on_run(command_line) : platform::Result<uint32_t>(0u);
}

void FakeProcesses::RunCommandInterpreter(const std::string& line) {
  const std::lock_guard<std::recursive_mutex> guard(FakesLock());
  interpreter_lines.push_back(line);
  // An interpreter that cannot be started carries out nothing, and one that
  // an interruption ends, nothing more.
  if (Injected(faults, "interpret " + line) || platform::Interruptions() > 0) return;
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
  void Close() override {
    database_.calls.push_back("close recordset");
    if (Injected(database_.faults, "close recordset")) throw platform::ComError(platform::kEFail);
  }
  bool AtEnd() override { return true; }  // the fake holds no rows

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
    if (Injected(database_.faults, name))
      throw platform::ComError(platform::kEFail, "injected fault");
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
  return !Injected(faults, "InitializeCom") && com_usable;
}

std::unique_ptr<platform::Connection> FakeDatabase::CreateConnection() {
  calls.push_back("CreateConnection");
  if (Injected(faults, "CreateConnection") || !can_create) return nullptr;
  return std::make_unique<FakeConnection>(*this);
}

std::optional<std::string> FakeMessages::Text(uint32_t code) {
  if (Injected(faults, "message " + std::to_string(code))) return std::nullopt;
  const auto found = texts.find(code);
  if (found == texts.end()) return std::nullopt;
  return found->second;
}

namespace {

bool IsAbsolute(const std::string& path) {
  return (path.size() >= 2 && path[1] == ':') || (!path.empty() && path[0] == '\\');
}

std::string ParentOf(const std::string& key) {
  const std::string::size_type separator = key.rfind('\\');
  return separator == std::string::npos ? std::string() : key.substr(0, separator);
}

// What a text-mode read gives of the bytes: CR LF as LF, up to a Ctrl-Z.
std::string TextModeView(const std::string& bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size() && bytes[i] != '\x1A'; ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text.push_back(bytes[i]);
  }
  return text;
}

}  // namespace

class FakeFile : public platform::File {
 public:
  FakeFile(FakeFiles& files, std::string key, std::string readable)
      : files_(files), key_(std::move(key)), readable_(std::move(readable)) {}
  ~FakeFile() override {
    const std::lock_guard<std::recursive_mutex> guard(FakesLock());
    Commit();
  }

  bool ReadLine(int buffer_size, std::string* line) override {
    const std::lock_guard<std::recursive_mutex> guard(FakesLock());
    if (Injected(files_.faults, "read " + key_) || position_ >= readable_.size()) return false;
    const std::size_t most = static_cast<std::size_t>(buffer_size - 1);
    std::size_t end = position_;
    while (end < readable_.size() && end - position_ < most && readable_[end++] != '\n') {
    }
    *line = readable_.substr(position_, end - position_);
    line->resize(std::min(line->size(), line->find('\0')));  // as strlen sees it
    position_ = end;
    return true;
  }

  bool Write(const std::string& text) override {
    const std::lock_guard<std::recursive_mutex> guard(FakesLock());
    if (Injected(files_.faults, "write " + key_)) return false;
    pending_ += text.substr(0, text.find('\0'));
    return true;
  }

  bool Flush() override {
    const std::lock_guard<std::recursive_mutex> guard(FakesLock());
    if (Injected(files_.faults, "flush " + key_)) return false;
    Commit();
    return true;
  }

  // All or nothing, as a full disk leaves it.
  bool Append(const std::string& text) override {
    const std::lock_guard<std::recursive_mutex> guard(FakesLock());
    if (Injected(files_.faults, "write " + key_)) return false;
    Commit();
    files_.files_[key_] += text.substr(0, text.find('\0'));
    return true;
  }

 private:
  void Commit() {
    if (!pending_.empty()) files_.files_[key_] += pending_;
    pending_.clear();
  }

  FakeFiles& files_;
  std::string key_;
  std::string readable_;
  std::size_t position_ = 0;
  std::string pending_;
};

std::string FakeFiles::Key(const std::string& path) const {
  return Folded(IsAbsolute(path) ? path : current_directory + "\\" + path);
}

uint32_t FakeFiles::CheckFilePath(const std::string& key) const {
  if (directories_.count(key)) return kErrorAccessDenied;
  if (!directories_.count(ParentOf(key))) return kErrorPathNotFound;
  return 0;
}

platform::Result<std::unique_ptr<platform::File>> FakeFiles::Open(const std::string& path,
                                                                  const char* mode) {
  const std::lock_guard<std::recursive_mutex> guard(FakesLock());
  const std::string key = Key(path);
  const std::string how(mode);
  uint32_t code =
      Injected(faults, "open " + how + " " + key) ? kErrorAccessDenied : CheckFilePath(key);
  const auto found = files_.find(key);
  if (code == 0 && how == "r" && found == files_.end()) code = kErrorFileNotFound;
  if (code == 0 && how != "r" && read_only_.count(key)) code = kErrorAccessDenied;
  if (code != 0) return platform::Failure{code};
  if (how == "r") {
    return std::unique_ptr<platform::File>(
        std::make_unique<FakeFile>(*this, key, TextModeView(found->second)));
  }
  if (how == "w" || found == files_.end()) files_[key].clear();
  return std::unique_ptr<platform::File>(std::make_unique<FakeFile>(*this, key, ""));
}

platform::Result<> FakeFiles::Remove(const std::string& path) {
  const std::lock_guard<std::recursive_mutex> guard(FakesLock());
  const std::string key = Key(path);
  if (Injected(faults, "remove " + key) || read_only_.count(key)) {
    return platform::Failure{kErrorAccessDenied};
  }
  if (const uint32_t code = CheckFilePath(key)) return platform::Failure{code};
  if (files_.erase(key) == 0) return platform::Failure{kErrorFileNotFound};
  return {};
}

platform::Result<> FakeFiles::CreateNew(const std::string& path) {
  const std::lock_guard<std::recursive_mutex> guard(FakesLock());
  const std::string key = Key(path);
  if (Injected(faults, "create " + key)) return platform::Failure{kErrorAccessDenied};
  if (const uint32_t code = CheckFilePath(key)) return platform::Failure{code};
  if (files_.count(key) || directories_.count(key))
    return platform::Failure{platform::kErrorFileExists};
  files_[key] = "";
  return {};
}

platform::Result<> FakeFiles::RemoveAtReboot(const std::string& path) {
  const std::lock_guard<std::recursive_mutex> guard(FakesLock());
  removals_at_reboot.push_back(Key(path));
  return {};
}

platform::Result<> FakeFiles::Empty(const std::string& path) {
  const std::lock_guard<std::recursive_mutex> guard(FakesLock());
  const std::string key = Key(path);
  if (Injected(faults, "empty " + key) || read_only_.count(key)) {
    return platform::Failure{kErrorAccessDenied};
  }
  const auto found = files_.find(key);
  if (found == files_.end()) return platform::Failure{kErrorFileNotFound};
  found->second.clear();
  return {};
}

bool FakeFiles::IsDirectory(const std::string& path) {
  const std::lock_guard<std::recursive_mutex> guard(FakesLock());
  return directories_.count(Key(path)) > 0;
}

platform::Result<> FakeFiles::ProbeWrite(const std::string& path) {
  const std::lock_guard<std::recursive_mutex> guard(FakesLock());
  const std::string key = Key(path);
  if (read_only_.count(key)) return platform::Failure{kErrorAccessDenied};
  if (const uint32_t code = CheckFilePath(key)) return platform::Failure{code};
  return {};
}

platform::Result<> FakeFiles::CopyReplacing(const std::string& from, const std::string& to) {
  const std::lock_guard<std::recursive_mutex> guard(FakesLock());
  const std::string source = Key(from);
  const std::string target = Key(to);
  if (Injected(faults, "copy " + source + " " + target)) {
    return platform::Failure{kErrorAccessDenied};
  }
  if (const uint32_t code = CheckFilePath(source)) return platform::Failure{code};
  const auto found = files_.find(source);
  if (found == files_.end()) return platform::Failure{kErrorFileNotFound};
  if (const uint32_t code = CheckFilePath(target)) return platform::Failure{code};
  if (read_only_.count(target)) return platform::Failure{kErrorAccessDenied};
  files_[target] = found->second;
  return {};
}

void FakeFiles::AddDirectory(const std::string& path) {
  for (std::string key = Key(path); !key.empty(); key = ParentOf(key)) directories_.insert(key);
}

void FakeFiles::Put(const std::string& path, const std::string& content) {
  const std::string key = Key(path);
  directories_.erase(key);
  AddDirectory(ParentOf(key));
  files_[key] = content;
}

std::optional<std::string> FakeFiles::Get(const std::string& path) const {
  const std::lock_guard<std::recursive_mutex> guard(FakesLock());
  const auto found = files_.find(Key(path));
  if (found == files_.end()) return std::nullopt;
  return found->second;
}

void FakeFiles::MakeReadOnly(const std::string& path) { read_only_.insert(Key(path)); }

std::vector<std::string> FakeFiles::Paths() const {
  const std::lock_guard<std::recursive_mutex> guard(FakesLock());
  std::vector<std::string> paths;
  for (const auto& file : files_) paths.push_back(file.first);
  return paths;
}

}  // namespace qlx::testing
