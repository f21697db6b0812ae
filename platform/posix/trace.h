#pragma once

// What the stand-ins tell beyond the program's own output: a rehearsal trace
// of every change they make or value they read, and one-line notes on
// standard error about the set-up.

#include <string>
#include <vector>

#include "platform/registry.h"

namespace qlx::platform::posix {

// Appends one line to the file named by QLX_TRACE_FILE, when it names one:
// the fields, UTF-8, separated by a TAB, with backslash, TAB, CR and LF inside
// a field written as \\ \t \r \n. The file is opened for every line, in
// append mode, and the line goes out in one write, so a crash loses nothing
// and several processes may share the file. A trace that cannot be written is
// left out: the run never depends on it.
void Trace(const std::vector<std::string>& fields);

// A field as the trace writes it.
std::string TraceField(const std::string& text);

// A value's type by its Windows name (REG_SZ, REG_DWORD, ...), or its number.
std::string RegistryTypeName(uint32_t type);

// A value's data for the trace: the text of a string type in UTF-8, a
// REG_DWORD in decimal, any other type as hex bytes.
std::string RegistryDataText(const RegistryData& data);

// Writes the line, with the program's name before it, to standard error,
// unless this process has written that line already.
void NoteOnce(const std::string& line);

}  // namespace qlx::platform::posix
