#pragma once

#include <cstdint>

namespace qlx {

// The program's own error, for failures that are not COM errors.
class CKTRException {
 public:
  // The host's database settings file could not be opened; the error value
  // is the Windows error code of the failed open.
  static constexpr int32_t kSettingsFileNotOpened = 5;
  // COM could not be brought into use; the error value is 0.
  static constexpr int32_t kComNotInitialized = 6;

  CKTRException(int32_t code, uint32_t error) : code_(code), error_(error) {}
  virtual ~CKTRException() = default;

  int32_t Code() const { return code_; }
  uint32_t Error() const { return error_; }

 private:
  int32_t code_;
  uint32_t error_;
};

}  // namespace qlx
