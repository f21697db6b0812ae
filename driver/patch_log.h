#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/files.h"

namespace qlx {

// The patch log, "QLX_patch.log" in the current directory. Every entry opens
// the file in append mode and closes it again, so an entry is on disk as soon
// as it is written and a run that ends abruptly loses nothing. An entry that
// cannot be written is dropped without notice.

// The log opened for one entry (mode "a+"), or null.
std::unique_ptr<platform::File> OpenLog();

// Writes the text as it is, in one write (cut back off should it stop
// short), so that an entry is either whole in the log or missing; true when
// it was written. Entries of the two threads of a run (see
// platform/run_state.h) go in one at a time.
bool WriteLogEntry(const std::string& entry);

// Writes the text as it is.
void LogText(const std::string& text);

// Writes "<module> - <message>\n".
void LogModuleMessage(const std::string& module, const std::string& message);

// Writes "<operation> failed with error <code>: <system text>\n"; for the
// code 0 only the operation name.
void LogSystemError(const std::string& operation, uint32_t code);

}  // namespace qlx
