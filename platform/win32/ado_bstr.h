#pragma once

// BSTRs and the conversions between the program's texts (zero-terminated, in
// the ANSI code page) and the UTF-16 texts that ADO takes and gives back.
// Declared without the system headers: a BSTR is a wchar_t* with the
// system's allocator behind it.

#include <optional>
#include <string>
#include <string_view>

#include "platform/unique_handle.h"

namespace qlx::platform::win32 {

// Gives a BSTR back to the system's allocator (SysFreeString).
void FreeBstr(wchar_t* bstr);

using UniqueBstr = UniqueHandle<ClosedBy<wchar_t*, &FreeBstr>>;

// The characters by the BSTR's own length; empty for a null BSTR.
std::wstring_view BstrView(const UniqueBstr& bstr);

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
