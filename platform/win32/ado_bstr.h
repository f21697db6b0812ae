#pragma once

// BSTRs and the conversions between the program's texts (zero-terminated, in
// the ANSI code page) and the UTF-16 texts that ADO takes and gives back.
// Declared without the system headers: a BSTR is a wchar_t* with the
// system's allocator behind it.

#include <optional>
#include <string>
#include <string_view>

namespace qlx::platform::win32 {

// Owns one BSTR and frees it with SysFreeString. Move-only.
class UniqueBstr {
 public:
  UniqueBstr() = default;
  // Takes over a BSTR the caller allocated.
  explicit UniqueBstr(wchar_t* adopted) : bstr_(adopted) {}
  ~UniqueBstr() { reset(); }

  UniqueBstr(UniqueBstr&& other) noexcept : bstr_(other.release()) {}
  UniqueBstr& operator=(UniqueBstr&& other) noexcept;
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;

  wchar_t* get() const { return bstr_; }
  explicit operator bool() const { return bstr_ != nullptr; }
  // The characters by the BSTR's own length; empty for a null BSTR.
  std::wstring_view view() const;

  wchar_t* release();
  void reset(wchar_t* replacement = nullptr);
  // For a call that hands out a BSTR through an out-parameter.
  wchar_t** put() {
    reset();
    return &bstr_;
  }

 private:
  wchar_t* bstr_ = nullptr;
};

// The text up to its first zero byte, converted from the ANSI code page into
// a new BSTR (never null: the empty text gives an empty BSTR). Throws
// ComError(E_OUTOFMEMORY) when the BSTR cannot be allocated, and a ComError
// with the system's error when the text cannot be converted.
UniqueBstr AnsiToBstr(const std::string& text);

// The UTF-16 text up to its first zero character, converted into the ANSI
// code page; characters the code page lacks become its default character.
// Nothing when the system cannot convert it. Never throws: it serves the
// reporting of errors.
std::optional<std::string> WideToAnsi(std::wstring_view text);

}  // namespace qlx::platform::win32
