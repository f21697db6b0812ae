#pragma once

// An owning reference to a COM interface: holds one reference count and
// gives it back with Release when it goes out of scope. Move-only; a copy
// would need AddRef, and nothing here shares references.

namespace qlx::platform::win32 {

template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  // Takes over a reference the caller already counted.
  explicit ComPtr(Interface* adopted) : pointer_(adopted) {}
  ~ComPtr() { reset(); }

  ComPtr(ComPtr&& other) noexcept : pointer_(other.release()) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  Interface* get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }

  // Gives up the reference without releasing it.
  Interface* release() {
    Interface* const released = pointer_;
    pointer_ = nullptr;
    return released;
  }

  void reset(Interface* replacement = nullptr) {
    Interface* const previous = pointer_;
    pointer_ = replacement;
    if (previous) previous->Release();
  }

  // For a call that hands out a counted reference through an out-parameter:
  // releases what is held and gives the place to fill.
  Interface** put() {
    reset();
    return &pointer_;
  }
  // The same for the calls that take a void** (QueryInterface,
  // CoCreateInstance).
  void** put_void() { return reinterpret_cast<void**>(put()); }

 private:
  Interface* pointer_ = nullptr;
};

}  // namespace qlx::platform::win32
