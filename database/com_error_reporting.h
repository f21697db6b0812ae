#pragma once

#include <cstdint>
#include <string>

namespace qlx {

// The message of a COM error entry: the system's text for the HRESULT
// without its line end, else "IDispatch error #<n>" for the dispatch range,
// else "Unknown error 0x<HRESULT>".
std::string FormatComErrorMessage(int32_t hresult);

// The four-line entry of a failed database call; false when the log could
// not be opened.
bool LogComError(std::string operation, int32_t code, std::string message, std::string description);

// The same entry with the statement on a fifth line.
bool LogQueryError(std::string operation, int32_t code, std::string message,
                   std::string description, std::string statement);

}  // namespace qlx
