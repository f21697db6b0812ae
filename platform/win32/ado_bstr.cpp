#include "platform/win32/ado_bstr.h"

#include "platform/win32/windows_api.h"
// After windows.h, which it builds on.
#include <oleauto.h>

#include <cstring>
#include <type_traits>

#include "platform/database.h"
#include "platform/windows_codes.h"

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

void FreeBstr(wchar_t* bstr) { SysFreeString(bstr); }

std::wstring_view BstrView(const UniqueBstr& bstr) {
  if (!bstr) return {};
  return std::wstring_view(bstr.get(), SysStringLen(bstr.get()));
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
