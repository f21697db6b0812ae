// Prints the system's message text for each code on the command line
// (decimal, or hexadecimal with "0x"), as FormatMessageA gives it in the
// user's default language, each text followed by a NUL byte; a code without
// a text gives the NUL byte alone. The tests build the expected log entries
// from these texts, since they differ between Windows and Wine.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

#include "platform/win32/handles.h"

namespace {

void PrintText(DWORD code) {
  constexpr DWORD kFlags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  char* text = nullptr;
  const DWORD length =
      FormatMessageA(kFlags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                     reinterpret_cast<char*>(&text), 0, nullptr);
  const qlx::platform::win32::UniqueLocalMemory owned_text(text);
  if (length != 0 && text != nullptr) std::fwrite(text, 1, length, stdout);
  std::fputc('\0', stdout);
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  for (int i = 1; i < argc; ++i) {
    PrintText(static_cast<DWORD>(std::strtoul(argv[i], nullptr, 0)));
  }
  std::fflush(stdout);
  return 0;
}
