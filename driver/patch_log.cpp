#include "driver/patch_log.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/platform.h"
#include "platform/system_messages.h"

namespace qlx {
namespace {

constexpr char kLogFileName[] = "QLX_patch.log";

// Used when the system has no text for a code; shaped like the system's own
// texts so the entry keeps its form.
constexpr char kNoSystemText[] = "Unknown error\r\n";

// Orders the entries of the program's thread and a handler that cleans up.
std::mutex& LogLock() {
  static std::mutex lock;
  return lock;
}

// Under the lock: whether the last entry left its line open.
bool line_open = false;
std::atomic<std::thread::id> cleaner{};

bool MayWrite() {
  const std::thread::id holder = cleaner.load();
  return holder == std::thread::id() || holder == std::this_thread::get_id();
}

bool WriteLocked(const std::string& entry) {
  if (!MayWrite()) return false;
  std::unique_ptr<platform::File> log = OpenLog();
  if (!log || !log->Append(entry)) return false;
  if (!entry.empty()) line_open = entry.back() != '\n';
  return true;
}

}  // namespace

std::unique_ptr<platform::File> OpenLog() {
  platform::Result<std::unique_ptr<platform::File>> log =
      platform::Current().files->Open(kLogFileName, "a+");
  if (!log) return nullptr;
  return std::move(*log);
}

bool WriteLogEntry(const std::string& entry) {
  const std::lock_guard<std::mutex> held(LogLock());
  return WriteLocked(entry);
}

void LogText(const std::string& text) { WriteLogEntry(text); }

void LogModuleMessage(const std::string& module, const std::string& message) {
  LogText(module + " - " + message + "\n");
}

void LogSystemError(const std::string& operation, uint32_t code) {
  if (code == 0) {
    LogText(operation);
    return;
  }
  const std::string text = platform::Current().messages->Text(code).value_or(kNoSystemText);
  // The code is written as a signed decimal, as the log has always shown it.
  LogText(operation + " failed with error " + std::to_string(static_cast<int>(code)) + ": " + text +
          "\n");
}

bool ClaimLogForCleanUp() {
  const std::lock_guard<std::mutex> held(LogLock());
  std::thread::id nobody;
  return cleaner.compare_exchange_strong(nobody, std::this_thread::get_id()) ||
         nobody == std::this_thread::get_id();
}

bool LogClaimedForCleanUp() { return cleaner.load() != std::thread::id(); }

void ReleaseLogClaim() {
  const std::lock_guard<std::mutex> held(LogLock());
  cleaner = std::thread::id();
  line_open = false;
}

void EndOpenLogLine(const std::string& word) {
  const std::lock_guard<std::mutex> held(LogLock());
  if (line_open) WriteLocked(word);
}

}  // namespace qlx
