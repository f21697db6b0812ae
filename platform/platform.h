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

// True in the Linux build, whose facilities are stand-ins for a copy of a
// server: what only the server itself can tell is not checked there.
bool RunsOnStandIns();

// The facilities in force: the system's unless a ScopedFacilities overrides them.
const Facilities& Current();

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
