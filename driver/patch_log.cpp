#include "driver/patch_log.h"

#include <utility>

#include "platform/platform.h"
#include "platform/run_state.h"
#include "platform/system_messages.h"

namespace qlx {
namespace {

constexpr char kLogFileName[] = "QLX_patch.log";

// Used when the system has no text for a code; shaped like the system's own
// texts so the entry keeps its form.
constexpr char kNoSystemText[] = "Unknown error\r\n";

}  // namespace

std::unique_ptr<platform::File> OpenLog() {
  platform::Result<std::unique_ptr<platform::File>> log =
      platform::Current().files->Open(kLogFileName, "a+");
  if (!log) return nullptr;
  return std::move(*log);
}

bool WriteLogEntry(const std::string& entry) {
  // An interruption handled on another thread writes its entries in turn;
  // once it has begun, the sequence writes none.
  const platform::RunState::Lock held = platform::ThisRunState().HoldForEntry();
  std::unique_ptr<platform::File> log = OpenLog();
  return log && log->Append(entry);
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

}  // namespace qlx
