#pragma once

#include <cstdint>
#include <string>

namespace qlx {

// The add-on's Windows service.
extern const char* const ServiceName;

// Asks the service control manager to stop the service and returns without
// waiting for it to stop: 0, or the Windows error code, which is also logged.
uint32_t ServiceStop(const std::string& service_name);

// Asks for the service to be started, first letting a stop still under way
// finish (for at most 30 seconds): 0, or the logged Windows error code.
uint32_t ServiceStart(const std::string& service_name);

}  // namespace qlx
