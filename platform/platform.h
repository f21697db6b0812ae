#pragma once

// The facilities through which the program reaches the operating system. The
// program uses the system's own; tests put in-memory fakes in their place for
// the length of a scope.

namespace qlx::platform {

class Registry;
class Services;
class Processes;
class DatabaseDriver;
class MessageTable;
class Files;

struct Facilities {
  Registry* registry;
  Services* services;
  Processes* processes;
  DatabaseDriver* database;
  MessageTable* messages;
  Files* files;
};

// The facilities in force: the system's unless a ScopedFacilities overrides them.
const Facilities& Current();

// The system's own facilities, as the program uses them.
Facilities SystemFacilities();

// Puts other facilities in force until it goes out of scope. A null member
// keeps the facility that was in force before.
class ScopedFacilities {
 public:
  explicit ScopedFacilities(const Facilities& replacement);
  ~ScopedFacilities();
  ScopedFacilities(const ScopedFacilities&) = delete;
  ScopedFacilities& operator=(const ScopedFacilities&) = delete;

 private:
  Facilities previous_;
};

}  // namespace qlx::platform
