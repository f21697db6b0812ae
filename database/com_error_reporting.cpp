#include "database/com_error_reporting.h"

#include <cstdio>
#include <optional>

#include "database/ktr_database_interface.h"
#include "driver/patch_log.h"
#include "platform/platform.h"
#include "platform/system_messages.h"

namespace qlx {
namespace {

constexpr uint32_t kDispatchErrorFirst = 0x80040200;
constexpr uint32_t kDispatchErrorLast = 0x8004FFFF;

std::string FallbackMessage(uint32_t hresult) {
  char text[32];
  const uint32_t dispatch_number = hresult - kDispatchErrorFirst;
  if (hresult >= kDispatchErrorFirst && hresult <= kDispatchErrorLast && dispatch_number != 0) {
    std::snprintf(text, sizeof text, "IDispatch error #%d", static_cast<int>(dispatch_number));
  } else {
    std::snprintf(text, sizeof text, "Unknown error 0x%0lX", static_cast<unsigned long>(hresult));
  }
  return text;
}

// A text as a "%s" writes it: up to its first zero byte.
std::string Field(const std::string& text) { return text.substr(0, text.find('\0')); }

// The entry's lines: "<operation> failed.", "Error = <code>", "Message = ...",
// "Description = ...". It is written in one piece with the statement line
// that may follow, so that the log never holds half an entry.
std::string Entry(const std::string& operation, int32_t code, const std::string& message,
                  const std::string& description) {
  return Field(operation) + " failed.\nError = " + std::to_string(code) +
         "\nMessage = " + Field(message) + "\nDescription = " + Field(description) + "\n";
}

}  // namespace

std::string FormatComErrorMessage(int32_t hresult) {
  const uint32_t code = static_cast<uint32_t>(hresult);
  std::optional<std::string> text = platform::Current().messages->Text(code);
  if (!text) return FallbackMessage(code);
  if (text->size() > 1 && text->back() == '\n') {
    text->pop_back();
    if (!text->empty() && text->back() == '\r') text->pop_back();
  }
  return *text;
}

bool LogComError(std::string operation, int32_t code, std::string message,
                 std::string description) {
  return WriteLogEntry(Entry(operation, code, message, description));
}

bool LogQueryError(std::string operation, int32_t code, std::string message,
                   std::string description, std::string statement) {
  return WriteLogEntry(Entry(operation, code, message, description) +
                       "Query = " + Field(statement) + "\n");
}

void KTRDatabaseInterface::RecordComError(std::string operation, const platform::ComError& error) {
  last_error_operation_ = std::move(operation);
  last_error_code_ = error.Error() & 0xFF;
  last_error_message_ = FormatComErrorMessage(error.Error());
  // An error without error information has no description: the line stays empty.
  last_error_description_ = error.Description().value_or("");
}

void KTRDatabaseInterface::ReportComError(std::string operation, const platform::ComError& error) {
  RecordComError(std::move(operation), error);
  LogComError(last_error_operation_, last_error_code_, last_error_message_,
              last_error_description_);
}

void KTRDatabaseInterface::ReportQueryError(std::string operation, const platform::ComError& error,
                                            std::string statement) {
  RecordComError(std::move(operation), error);
  LogQueryError(last_error_operation_, last_error_code_, last_error_message_,
                last_error_description_, statement);
}

}  // namespace qlx
