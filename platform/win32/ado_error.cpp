#include "platform/win32/ado_error.h"

#include <optional>
#include <string>

#include "platform/win32/ado_bstr.h"
#include "platform/win32/ado_com_ptr.h"

namespace qlx::platform::win32 {
namespace {

// The thread's error information, provided the object vouches that it
// belongs to a call through the interface; otherwise it may be a leftover of
// some earlier call and is not taken.
ComPtr<IErrorInfo> ErrorInfoFor(IUnknown* object, REFIID interface_id) {
  ComPtr<ISupportErrorInfo> support;
  if (!object || FAILED(object->QueryInterface(IID_ISupportErrorInfo, support.put_void()))) {
    return {};
  }
  if (support->InterfaceSupportsErrorInfo(interface_id) != S_OK) return {};
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK) return {};
  return info;
}

std::optional<std::string> DescriptionOf(IErrorInfo* info) {
  if (!info) return std::nullopt;
  UniqueBstr description;
  if (FAILED(info->GetDescription(description.put())) || !description) return std::nullopt;
  return WideToAnsi(BstrView(description));
}

}  // namespace

ComError ComErrorOf(HRESULT result, IUnknown* object, REFIID interface_id) {
  const ComPtr<IErrorInfo> info = ErrorInfoFor(object, interface_id);
  return ComError(static_cast<int32_t>(result), DescriptionOf(info.get()));
}

}  // namespace qlx::platform::win32
