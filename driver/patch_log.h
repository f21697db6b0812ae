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

// Writes the text as it is, in one write under a lock on the file (cut back
// off should it stop short), so that an entry is either whole in the log or
// missing; true when it was written. Entries of two threads go in one at a
// time.
bool WriteLogEntry(const std::string& entry);

// Writes the text as it is.
void LogText(const std::string& text);

// Writes "<module> - <message>\n".
void LogModuleMessage(const std::string& module, const std::string& message);

// Writes "<operation> failed with error <code>: <system text>\n"; for the
// code 0 only the operation name.
void LogSystemError(const std::string& operation, uint32_t code);

// The clean-up after an interruption is made by one thread: the first that
// claims the log. From then on the log takes entries from that thread alone,
// so that nothing of another follows the interruption's. True for the thread
// that holds the claim.
bool ClaimLogForCleanUp();
bool LogClaimedForCleanUp();
// A fresh run: nobody holds the claim.
void ReleaseLogClaim();

// Ends a line that an unfinished step left open (an entry without its line
// feed) with the word given.
void EndOpenLogLine(const std::string& word);

}  // namespace qlx
