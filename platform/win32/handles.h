#pragma once

// Owning wrappers for the Windows handles the program opens: each kind has its
// own type, which closes the handle the way that kind needs when it goes out
// of scope. Move-only.

#include "platform/win32/windows_api.h"

namespace qlx::platform::win32 {

template <typename Traits>
class UniqueHandleOf {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandleOf() = default;
  explicit UniqueHandleOf(Handle handle) : handle_(handle) {}
  ~UniqueHandleOf() { reset(); }

  UniqueHandleOf(UniqueHandleOf&& other) noexcept : handle_(other.release()) {}
  UniqueHandleOf& operator=(UniqueHandleOf&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandleOf(const UniqueHandleOf&) = delete;
  UniqueHandleOf& operator=(const UniqueHandleOf&) = delete;

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Traits::Invalid(); }

  // Gives up ownership without closing.
  Handle release() {
    const Handle released = handle_;
    handle_ = Traits::Invalid();
    return released;
  }

  void reset(Handle replacement = Traits::Invalid()) {
    if (handle_ != Traits::Invalid()) Traits::Close(handle_);
    handle_ = replacement;
  }

  // For a call that returns the handle through an out-parameter: closes what
  // is held and hands out the place to fill.
  Handle* put() {
    reset();
    return &handle_;
  }

 private:
  Handle handle_ = Traits::Invalid();
};

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle key) { RegCloseKey(key); }
};

struct ServiceHandleTraits {
  using Handle = SC_HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle service) { CloseServiceHandle(service); }
};

// Kernel objects that a null handle marks as absent: processes, threads,
// events.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle object) { CloseHandle(object); }
};

// A directory search from FindFirstFileA, which marks failure differently.
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle search) { FindClose(search); }
};

// Memory the system allocated on the program's behalf with LocalAlloc, such
// as FormatMessageA's buffer.
struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle memory) { LocalFree(memory); }
};

struct GlobalMemoryTraits {
  using Handle = HGLOBAL;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle memory) { GlobalFree(memory); }
};

using UniqueHkey = UniqueHandleOf<RegistryKeyTraits>;
using UniqueServiceHandle = UniqueHandleOf<ServiceHandleTraits>;
using UniqueKernelHandle = UniqueHandleOf<KernelHandleTraits>;
using UniqueFindHandle = UniqueHandleOf<FindHandleTraits>;
using UniqueLocalMemory = UniqueHandleOf<LocalMemoryTraits>;
using UniqueGlobalMemory = UniqueHandleOf<GlobalMemoryTraits>;

}  // namespace qlx::platform::win32
