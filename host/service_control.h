#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace qlx {

// The add-on's Windows service.
extern const char* const ServiceName;

// A start requested while a stop is still under way is refused, so the start
// waits this long for the stop to finish.
constexpr std::chrono::seconds kStopPendingLimit{30};

// Asks the service control manager to stop the service and returns without
// waiting for it to stop: 0, or the Windows error code, which is also logged.
uint32_t ServiceStop(const std::string& service_name);

// Asks for the service to be started, first letting a stop still under way
// finish (for at most 30 seconds): 0, or the logged Windows error code.
uint32_t ServiceStart(const std::string& service_name);

// ServiceStart letting a stop still under way finish for at most the limit;
// a start refused because the stop has only now begun is asked again.
uint32_t ServiceStartWaitingAtMost(const std::string& service_name,
                                   std::chrono::milliseconds stop_pending_limit);

}  // namespace qlx
