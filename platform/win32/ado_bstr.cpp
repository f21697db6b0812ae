#include "platform/win32/ado_bstr.h"

#include "platform/win32/windows_api.h"
// After windows.h, which it builds on.
#include <oleauto.h>

#include <cstring>
#include <type_traits>

#include "platform/database.h"

namespace qlx::platform::win32 {
namespace {

static_assert(std::is_same_v<BSTR, wchar_t*>, "a BSTR is held as a wchar_t*");

// The conversions fail only for arguments that the callers never pass; a
// failure still surfaces as an error rather than as a wrong text.
[[noreturn]] void ThrowLastError() {
  throw ComError(static_cast<int32_t>(HRESULT_FROM_WIN32(GetLastError())));
}

int WideLength(const char* text, int length) {
  if (length == 0) return 0;
  const int wide_length = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
  if (wide_length == 0) ThrowLastError();
  return wide_length;
}

UniqueBstr AllocateBstr(int length) {
  UniqueBstr bstr(SysAllocStringLen(nullptr, static_cast<UINT>(length)));
  if (!bstr) throw ComError(kEOutOfMemory);
  return bstr;
}

}  // namespace

UniqueBstr& UniqueBstr::operator=(UniqueBstr&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

std::wstring_view UniqueBstr::view() const {
  if (!bstr_) return {};
  return std::wstring_view(bstr_, SysStringLen(bstr_));
}

wchar_t* UniqueBstr::release() {
  wchar_t* const released = bstr_;
  bstr_ = nullptr;
  return released;
}

void UniqueBstr::reset(wchar_t* replacement) {
  wchar_t* const previous = bstr_;
  bstr_ = replacement;
  if (previous) SysFreeString(previous);
}

UniqueBstr AnsiToBstr(const std::string& text) {
  const int length = static_cast<int>(std::strlen(text.c_str()));
  const int wide_length = WideLength(text.c_str(), length);
  UniqueBstr bstr = AllocateBstr(wide_length);
  if (wide_length != 0 &&
      MultiByteToWideChar(CP_ACP, 0, text.c_str(), length, bstr.get(), wide_length) == 0) {
    ThrowLastError();
  }
  return bstr;
}

std::optional<std::string> WideToAnsi(std::wstring_view text) {
  text = text.substr(0, text.find(L'\0'));
  if (text.empty()) return std::string();
  const int length = static_cast<int>(text.size());
  const int size =
      WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (size == 0) return std::nullopt;
  std::string converted(static_cast<std::string::size_type>(size), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, text.data(), length, converted.data(), size, nullptr,
                          nullptr) != size) {
    return std::nullopt;
  }
  return converted;
}

}  // namespace qlx::platform::win32
