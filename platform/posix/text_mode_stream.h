#pragma once

#include <cstdio>

#include "platform/posix/posix_io.h"

namespace qlx::platform::posix {

// A stream that reads the descriptor as a Windows program reads a file opened
// in text mode: CR LF arrives as LF (a lone CR stays), and the first Ctrl-Z
// byte ends the file. The stream owns the descriptor; null when no stream
// could be made (errno is set).
std::FILE* OpenTextModeReader(UniqueFd fd);

}  // namespace qlx::platform::posix
