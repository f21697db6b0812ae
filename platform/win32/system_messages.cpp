// Message texts from the system's message table.
#include "platform/system_messages.h"

#include "platform/win32/handles.h"

namespace qlx::platform {

std::optional<std::string> SystemMessageText(uint32_t code) {
  // No arguments are passed, so a text with inserts is taken as it stands.
  constexpr DWORD kFlags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  char* text = nullptr;
  const DWORD length =
      FormatMessageA(kFlags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                     reinterpret_cast<char*>(&text), 0, nullptr);
  const win32::UniqueLocalMemory owned_text(text);
  if (length == 0 || text == nullptr) return std::nullopt;
  return std::string(text, length);
}

}  // namespace qlx::platform
