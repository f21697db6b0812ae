#include "driver/patch_log.h"

#include <cstdio>

#include "platform/platform.h"
#include "platform/system_messages.h"

namespace qlx {
namespace {

constexpr char kLogFileName[] = "QLX_patch.log";

// Used when the system has no text for a code; shaped like the system's own
// texts so the entry keeps its form.
constexpr char kNoSystemText[] = "Unknown error\r\n";

}  // namespace

platform::UniqueFile OpenLog() { return platform::OpenFile(kLogFileName, "a+"); }

void LogText(const std::string& text) {
  platform::UniqueFile log = OpenLog();
  if (!log) return;
  std::fprintf(log.get(), "%s", text.c_str());
  std::fflush(log.get());
}

void LogModuleMessage(const std::string& module, const std::string& message) {
  platform::UniqueFile log = OpenLog();
  if (!log) return;
  std::fprintf(log.get(), "%s - %s\n", module.c_str(), message.c_str());
  std::fflush(log.get());
}

void LogSystemError(const std::string& operation, uint32_t code) {
  if (code == 0) {
    LogText(operation);
    return;
  }
  const std::string text = platform::Current().messages->Text(code).value_or(kNoSystemText);
  platform::UniqueFile log = OpenLog();
  if (!log) return;
  std::fprintf(log.get(), "%s failed with error %d: %s\n", operation.c_str(),
               static_cast<int>(code), text.c_str());
  std::fflush(log.get());
}

}  // namespace qlx
