#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qlx::platform {

// The system's message text for a Windows error code or HRESULT in the user's
// default language, exactly as the system gives it (ending in CR LF), or
// nothing when the system has no text for the code.
std::optional<std::string> SystemMessageText(uint32_t code);

// Where the program takes its message texts from; tests use fixed texts.
class MessageTable {
 public:
  virtual ~MessageTable() = default;
  virtual std::optional<std::string> Text(uint32_t code) = 0;
};

MessageTable& SystemMessageTable();

}  // namespace qlx::platform
