#pragma once

// How the platform layer reports a failure. A call that can fail with a
// Windows error code returns a Result: its value, or the code. A call whose
// failure has no code returns bool (a C library write, COM's start-up) or an
// empty optional (a message table without a text for the code), and the
// database calls throw ComError, as ADO's own calls do. Inside the Linux
// stand-ins a POSIX call's errno travels as an int until the stand-in turns
// it into the Windows code it reports.

#include <cstdint>
#include <optional>
#include <utility>

namespace qlx::platform {

// The Windows error code of a failure, returned as a Result of any type.
struct Failure {
  uint32_t error;
};

template <typename T = void>
class Result {
 public:
  // Implicit, so that a call returns its value or Failure{code} as it is.
  Result(T value) : value_(std::move(value)) {}
  Result(Failure failure) : error_(failure.error) {}

  explicit operator bool() const { return value_.has_value(); }
  // The code as the system gave it; 0 on success.
  uint32_t error() const { return error_; }

  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  T value_or(T fallback) const { return value_ ? *value_ : std::move(fallback); }

 private:
  std::optional<T> value_;
  uint32_t error_ = 0;
};

// A call that gives back nothing but its success.
// As for any other type, Failure{0} is a failure whose code is 0, not a
// success.
template <>
class Result<void> {
 public:
  Result() = default;
  Result(Failure failure) : error_(failure.error), failed_(true) {}

  explicit operator bool() const { return !failed_; }
  uint32_t error() const { return error_; }

 private:
  uint32_t error_ = 0;
  bool failed_ = false;
};

}  // namespace qlx::platform
