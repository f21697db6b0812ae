#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/database.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/system_messages.h"
#include "platform/windows_codes.h"

namespace qlx::testing {

// "Fail the Nth facility call": every fake that is given the plan counts its
// calls in it, and the call whose number is fail_at fails the way that call
// can really fail (an error code, a null handle, a false result, or a
// ComError thrown by the database).
class FaultPlan {
 public:
  // Counts the call; true when it is the one to fail.
  bool Fails(const std::string& call);

  int fail_at = 0;  // 0: nothing fails
  // When set, the first call whose name begins with it is the one reached,
  // whatever its number.
  std::string reach_call;
  int calls = 0;
  // When set, call fail_at runs this instead of failing (an interruption
  // that comes right then).
  std::function<void()> on_reach;
  std::string failed_call;  // empty until the fault is reached
};

// A handler that cleans up while the program's thread is stuck works on a
// thread of its own: the files, services and interpreter fakes take this lock
// for every call.
std::recursive_mutex& FakesLock();

// HKEY_LOCAL_MACHINE in memory; key paths and value names compare
// case-insensitively, as in the registry.
class FakeRegistry : public platform::Registry {
 public:
  platform::Result<std::unique_ptr<platform::RegistryKey>> OpenLocalMachineKey(
      const std::string& path, platform::KeyAccess access) override;
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
  FaultPlan* faults = nullptr;

 private:
  using Values = std::map<std::string, platform::RegistryData>;
  friend class FakeRegistryKey;
  std::map<std::string, Values> keys_;
};

// The service control manager in memory: services by name, running or not.
class FakeServices : public platform::Services {
 public:
  platform::Result<std::unique_ptr<platform::ServiceManager>> OpenManager() override;

  std::map<std::string, bool> running;  // name -> running
  uint32_t manager_error = 0;           // refuses to open the manager with this code
  bool stop_pending_at_start = false;   // the service is still stopping when started
  // After a stop, the service reports it under way this long (of the waits'
  // limits): a start before then is refused with 1056.
  std::chrono::milliseconds stop_takes{0};
  std::chrono::milliseconds stop_left{0};
  bool throw_on_stop = false;         // the stop request raises an exception
  std::vector<std::string> requests;  // "stop <name>", "wait <ms>", "start <name>"
  FaultPlan* faults = nullptr;
};

// Records every child and command line; what they do and return is scripted.
// An interruption ends an interpreter line at once; a hidden run asks its
// give-up once for each interruption that came since.
class FakeProcesses : public platform::Processes {
 public:
  platform::Result<uint32_t> RunHidden(const std::string& command_line,
                                       const platform::GiveUp& give_up) override;
  void RunCommandInterpreter(const std::string& line) override;

  std::vector<std::string> hidden_runs;
  std::vector<std::string> interpreter_lines;
  // Decides the outcome of a hidden run; exit code 0 when unset.
  std::function<platform::Result<uint32_t>(const std::string&)> on_run;
  // Carries out a command-interpreter line (e.g. writes the redirected file).
  std::function<void(const std::string&)> on_interpreter;
  FaultPlan* faults = nullptr;

 private:
  int interruptions_seen_ = 0;
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
  FaultPlan* faults = nullptr;
};

// Fixed texts for the codes a test names; none for the others.
class FakeMessages : public platform::MessageTable {
 public:
  std::optional<std::string> Text(uint32_t code) override;
  std::map<uint32_t, std::string> texts;
  FaultPlan* faults = nullptr;
};

// A Windows file system in memory. Paths compare case-insensitively, and a
// relative path lies in current_directory. Files opened with "r" read in text
// mode (CR LF as LF, Ctrl-Z ends the file); what is written stays as written.
// Writes reach the file when flushed or closed.
class FakeFiles : public platform::Files {
 public:
  platform::Result<std::unique_ptr<platform::File>> Open(const std::string& path,
                                                         const char* mode) override;
  platform::Result<> Remove(const std::string& path) override;
  platform::Result<> CopyReplacing(const std::string& from, const std::string& to) override;
  platform::Result<> CreateNew(const std::string& path) override;
  platform::Result<> RemoveAtReboot(const std::string& path) override;
  platform::Result<> Empty(const std::string& path) override;
  bool IsDirectory(const std::string& path) override;
  platform::Result<> ProbeWrite(const std::string& path) override;

  // Makes the directory and its parents.
  void AddDirectory(const std::string& path);
  // Writes a file, making its directory.
  void Put(const std::string& path, const std::string& content);
  std::optional<std::string> Get(const std::string& path) const;
  bool Exists(const std::string& path) const { return Get(path).has_value(); }
  // Files and directories that refuse to be written, replaced or deleted.
  void MakeReadOnly(const std::string& path);
  // Every file's path, as kept (folded, absolute).
  std::vector<std::string> Paths() const;

  std::string current_directory = "C:\\work";
  std::vector<std::string> removals_at_reboot;
  FaultPlan* faults = nullptr;

 private:
  friend class FakeFile;
  // The folded absolute form of a path, by which it is kept.
  std::string Key(const std::string& path) const;
  // 0, or the code of why the path cannot name a file: 3 without its directory,
  // 5 for a directory.
  uint32_t CheckFilePath(const std::string& key) const;

  std::map<std::string, std::string> files_;
  std::set<std::string> directories_;
  std::set<std::string> read_only_;
};

}  // namespace qlx::testing
