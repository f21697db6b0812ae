// The English texts Windows' FormatMessage gives for the codes this program
// can meet, each ending in CR LF as the system's do. A text with an insert
// ("%1") is given as FormatMessage gives it when inserts are ignored. Codes
// Windows has no text for (the ADO and OLE DB HRESULT ranges among them) have
// none here either.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/system_messages.h"
#include "platform/text.h"

namespace qlx::platform {
namespace {

constexpr NumberText<uint32_t> kWindowsMessages[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {80, "The file exists.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {193, "%1 is not a valid Win32 application.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {267, "The directory name is invalid.\r\n"},
    {1053, "The service did not respond to the start or control request in a timely fashion.\r\n"},
    {1056, "An instance of the service is already running.\r\n"},
    {1058,
     "The service cannot be started, either because it is disabled or because it has no enabled "
     "devices associated with it.\r\n"},
    {1060, "The specified service does not exist as an installed service.\r\n"},
    {1061, "The service cannot accept control messages at this time.\r\n"},
    {1062, "The service has not been started.\r\n"},
    {1117, "The request could not be performed because of an I/O device error.\r\n"},
    {1921, "The name of the file cannot be resolved by the system.\r\n"},
    {0x80004003, "Invalid pointer\r\n"},
    {0x80004005, "Unspecified error\r\n"},
};

// HRESULT_FROM_WIN32: a Windows error code wrapped as a failure HRESULT
// carries the code's own text.
constexpr uint32_t kWin32FacilityMask = 0xFFFF0000;
constexpr uint32_t kWin32Facility = 0x80070000;

std::optional<std::string> LookUp(uint32_t code) {
  const char* text = TextOfNumber(kWindowsMessages, code);
  if (!text) return std::nullopt;
  return std::string(text);
}

}  // namespace

std::optional<std::string> SystemMessageText(uint32_t code) {
  if ((code & kWin32FacilityMask) == kWin32Facility && (code & ~kWin32FacilityMask) != 0) {
    return LookUp(code & ~kWin32FacilityMask);
  }
  return LookUp(code);
}

}  // namespace qlx::platform
