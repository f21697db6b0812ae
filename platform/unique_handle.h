#pragma once

// One owning type for every kind of handle the program opens: a file
// descriptor, a registry key, an ODBC handle, a BSTR. Each kind is one line,
// UniqueHandle<ClosedBy<...>>, naming its handle type, the function that
// closes it and, where it is not null, its empty value. Move-only; a COM
// reference is not a handle of this sort, since copying one means AddRef
// (see win32/ado_com_ptr.h).

#include <type_traits>
#include <utility>

namespace qlx::platform {

// Traits: Handle, the type; Invalid(), the value that holds nothing (a
// function, since some kinds' empty value is no constant expression); and
// Close(handle), which gives the handle back to the system.
template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  // Takes over a handle the caller opened.
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Traits::Invalid(); }

  // Gives up ownership without closing.
  Handle release() { return std::exchange(handle_, Traits::Invalid()); }

  // Closes what is held, if anything, and takes over the replacement.
  void reset(Handle replacement = Traits::Invalid()) {
    const Handle previous = std::exchange(handle_, replacement);
    if (previous != Traits::Invalid()) Traits::Close(previous);
  }

  // For a call that returns the handle through an out-parameter: closes what
  // is held and hands out the place to fill.
  Handle* put() {
    reset();
    return &handle_;
  }

  // Closes now and gives back what the close reported, for the callers that
  // must know (a write to a file may only fail when it is closed). Holding
  // nothing, it reports what a close that went well reports, in the closer's
  // own terms: 0 for close(2), TRUE for CloseHandle.
  auto close() {
    if (!*this) return ClosedWell<Traits>(0);
    return Traits::Close(release());
  }

 private:
  using Report = decltype(Traits::Close(std::declval<Handle>()));
  // The traits' own ClosedWell() where they name one; else the report's
  // empty value (0, null), which is success for most closers.
  template <typename T>
  static auto ClosedWell(int) -> decltype(T::ClosedWell()) {
    return T::ClosedWell();
  }
  template <typename T>
  static Report ClosedWell(long) {
    return Report();
  }

  Handle handle_ = Traits::Invalid();
};

// The traits of a kind whose empty value is a constant: closed by kClose,
// empty when kInvalid (null unless given). kClosedWell is what kClose reports
// when it succeeds, where that is not 0 or null (TRUE for a BOOL closer).
template <typename HandleType, auto kClose, auto kInvalid = nullptr, auto kClosedWell = nullptr>
struct ClosedBy {
  using Handle = HandleType;
  using Report = decltype(kClose(std::declval<HandleType>()));
  static Handle Invalid() { return kInvalid; }
  static auto Close(Handle handle) { return kClose(handle); }
  static Report ClosedWell() {
    if constexpr (std::is_null_pointer_v<decltype(kClosedWell)>) {
      return Report();
    } else {
      return static_cast<Report>(kClosedWell);
    }
  }
};

}  // namespace qlx::platform
