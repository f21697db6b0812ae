#pragma once

#include <exception>
#include <string>

#include "database/ktr_exception.h"
#include "driver/patch_log.h"
#include "platform/interruption.h"

namespace qlx {

// The module under which the sequence logs its own events.
constexpr char kPatchModule[] = "QLXPatch";

inline const char* OutcomeWord(bool succeeded) { return succeeded ? "Successfully\n" : "Failed\n"; }

// Runs a step whose exception must not end the run, so that the service is
// always started again: the exception is logged as
// "<module> - <operation> aborted (<reason>)" and counts as the step's failure.
// An interruption that cuts the step short goes on to the sequence.
template <typename Step>
bool Guarded(const char* module, const char* operation, Step step) {
  std::string reason;
  try {
    return step();
  } catch (const platform::RunInterrupted&) {
    throw;
  } catch (const CKTRException& error) {
    reason = "code " + std::to_string(error.Code()) + ", error " + std::to_string(error.Error());
  } catch (const std::exception& error) {
    reason = error.what();
  } catch (...) {
    reason = "unknown error";
  }
  LogModuleMessage(module, std::string(operation) + " aborted (" + reason + ")");
  return false;
}

}  // namespace qlx
