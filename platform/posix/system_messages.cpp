// Placeholder until the real facility lands.
#include "platform/system_messages.h"

namespace qlx::platform {

std::optional<std::string> SystemMessageText(uint32_t) { return std::nullopt; }
}  // namespace qlx::platform
