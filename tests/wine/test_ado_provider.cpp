// A test ADO Connection: an in-process COM server that the Wine scenarios
// register as the ADODB.Connection class, so that the shipped program opens,
// executes and closes against it. Its interfaces come from MinGW's adoint.h
// and adoid.h, not from the program's own declarations: a method slot or an
// interface identifier the program gets wrong reaches the wrong method here,
// or no interface at all, and shows in the record or the log.
//
// Driven by two environment variables, which the program under test passes
// on to it since it runs in its process:
//   QLX_ADO_RECORD  a file to which every call on the connection appends one
//                   line, as the method's name and its arguments:
//                     put_ConnectionString("Provider=...")
//                     put_ConnectionTimeout(60)
//                     Open("", "", "", -1)
//                     Execute("INSERT ...", null, 1)
//                     Close()
//                   A string argument is quoted as it came (a null BSTR is
//                   null), a VARIANT* is null or &.
//   QLX_ADO_FAIL    "<method> <HRESULT in hex>[ <description>]": every call of
//                   that method is recorded and then fails with the HRESULT.
//                   With a description the call leaves error information for
//                   the thread, as ADO does; without one it leaves none.
//   QLX_ADO_HANG    "<method>": every call of that method is recorded, followed
//                   by a line "hanging", and then never returns, as a database
//                   that does not answer.
//
// Execute hands out no recordset: the program only ever releases it.

#include <windows.h>
// After windows.h, which they build on.
#include <adoint.h>
#include <ole2.h>
// Makes adoid.h define the class and interface identifiers here; after
// adoint.h, which would otherwise have them declared only.
#include <initguid.h>
// After initguid.h.
#include <adoid.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/win32/ado_com_ptr.h"

namespace {

using qlx::platform::UniqueFile;
using qlx::platform::win32::ComPtr;

std::string Environment(const char* name) {
  const char* const value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The failure the harness asked for, if any.
struct Failure {
  std::string method;
  HRESULT result = S_OK;
  bool has_description = false;
  std::string description;
};

Failure RequestedFailure() {
  const std::string text = Environment("QLX_ADO_FAIL");
  Failure failure;
  const size_t method_end = text.find(' ');
  if (method_end == std::string::npos) return failure;
  failure.method = text.substr(0, method_end);
  const size_t code_end = text.find(' ', method_end + 1);
  const std::string code = text.substr(method_end + 1, code_end - method_end - 1);
  failure.result = static_cast<HRESULT>(std::strtoul(code.c_str(), nullptr, 16));
  if (code_end != std::string::npos) {
    failure.has_description = true;
    failure.description = text.substr(code_end + 1);
  }
  return failure;
}

const Failure& TheFailure() {
  static const Failure failure = RequestedFailure();
  return failure;
}

// Opened per line, so that a crash of the program loses nothing recorded.
void Record(const std::string& line) {
  static const std::string path = Environment("QLX_ADO_RECORD");
  if (path.empty()) return;
  const UniqueFile file(std::fopen(path.c_str(), "ab"));
  if (!file) return;
  std::fwrite(line.data(), 1, line.size(), file.get());
  std::fputc('\n', file.get());
}

std::string Narrow(BSTR text) {
  if (text == nullptr) return "null";
  const int wide_length = static_cast<int>(SysStringLen(text));
  const int length =
      WideCharToMultiByte(CP_ACP, 0, text, wide_length, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, wide_length, narrow.data(), length, nullptr, nullptr);
  return '"' + narrow + '"';
}

std::wstring Widen(const std::string& text) {
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), length);
  return wide;
}

// Sets the thread's error information as ADO does for a failed call: source,
// interface and description. An empty record clears it.
void SetErrorRecord(const Failure& failure) {
  ComPtr<ICreateErrorInfo> created;
  ComPtr<IErrorInfo> info;
  if (failure.has_description && SUCCEEDED(CreateErrorInfo(created.put()))) {
    std::wstring description = Widen(failure.description);
    std::wstring source = L"ADODB.Connection";
    created->SetGUID(IID_IADOConnection15);
    created->SetSource(source.data());
    created->SetDescription(description.data());
    created->QueryInterface(IID_IErrorInfo, info.put_void());
  }
  SetErrorInfo(0, info.get());
}

// Records the call; fails it when asked to.
HRESULT Called(const std::string& method, const std::string& arguments) {
  Record(method + "(" + arguments + ")");
  // A call that never comes back, as a database that does not answer.
  if (Environment("QLX_ADO_HANG") == method) {
    Record("hanging");
    Sleep(INFINITE);
  }
  const Failure& failure = TheFailure();
  if (failure.method != method) return S_OK;
  SetErrorRecord(failure);
  return failure.result;
}

HRESULT NotExpected(const char* method) {
  Record(std::string(method) + "(...) not expected");
  return E_NOTIMPL;
}

class TestConnection final : public _ADOConnection, public ISupportErrorInfo {
 public:
  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IDispatch) || IsEqualIID(id, IID__ADO) ||
        IsEqualIID(id, IID_IADOConnection15) || IsEqualIID(id, IID_IADOConnection)) {
      *object = static_cast<_ADOConnection*>(this);
    } else if (IsEqualIID(id, IID_ISupportErrorInfo)) {
      *object = static_cast<ISupportErrorInfo*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      const std::unique_ptr<TestConnection> last(this);
    }
    return left;
  }

  // ISupportErrorInfo: the connection's own interfaces.
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID id) override {
    const bool own = IsEqualIID(id, IID_IADOConnection15) || IsEqualIID(id, IID_IADOConnection);
    return own ? S_OK : S_FALSE;
  }

  // What the program calls.
  HRESULT STDMETHODCALLTYPE put_ConnectionString(BSTR text) override {
    return Called("put_ConnectionString", Narrow(text));
  }
  HRESULT STDMETHODCALLTYPE put_CommandTimeout(LONG seconds) override {
    return Called("put_CommandTimeout", std::to_string(seconds));
  }
  HRESULT STDMETHODCALLTYPE put_ConnectionTimeout(LONG seconds) override {
    return Called("put_ConnectionTimeout", std::to_string(seconds));
  }
  HRESULT STDMETHODCALLTYPE Open(BSTR connection_string, BSTR user_id, BSTR password,
                                 long options) override {
    return Called("Open", Narrow(connection_string) + ", " + Narrow(user_id) + ", " +
                              Narrow(password) + ", " + std::to_string(options));
  }
  HRESULT STDMETHODCALLTYPE Execute(BSTR command_text, VARIANT* records_affected, long options,
                                    _ADORecordset** recordset) override {
    if (recordset != nullptr) *recordset = nullptr;
    return Called("Execute", Narrow(command_text) + ", " + (records_affected ? "&" : "null") +
                                 ", " + std::to_string(options));
  }
  HRESULT STDMETHODCALLTYPE Close() override { return Called("Close", ""); }

  // The rest of the interface, which the program has no business calling.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override {
    return NotExpected("GetTypeInfoCount");
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override {
    return NotExpected("GetTypeInfo");
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return NotExpected("GetIDsOfNames");
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return NotExpected("Invoke");
  }
  HRESULT STDMETHODCALLTYPE get_Properties(ADOProperties**) override {
    return NotExpected("get_Properties");
  }
  HRESULT STDMETHODCALLTYPE get_ConnectionString(BSTR*) override {
    return NotExpected("get_ConnectionString");
  }
  HRESULT STDMETHODCALLTYPE get_CommandTimeout(LONG*) override {
    return NotExpected("get_CommandTimeout");
  }
  HRESULT STDMETHODCALLTYPE get_ConnectionTimeout(LONG*) override {
    return NotExpected("get_ConnectionTimeout");
  }
  HRESULT STDMETHODCALLTYPE get_Version(BSTR*) override { return NotExpected("get_Version"); }
  HRESULT STDMETHODCALLTYPE BeginTrans(long*) override { return NotExpected("BeginTrans"); }
  HRESULT STDMETHODCALLTYPE CommitTrans() override { return NotExpected("CommitTrans"); }
  HRESULT STDMETHODCALLTYPE RollbackTrans() override { return NotExpected("RollbackTrans"); }
  HRESULT STDMETHODCALLTYPE get_Errors(ADOErrors**) override { return NotExpected("get_Errors"); }
  HRESULT STDMETHODCALLTYPE get_DefaultDatabase(BSTR*) override {
    return NotExpected("get_DefaultDatabase");
  }
  HRESULT STDMETHODCALLTYPE put_DefaultDatabase(BSTR) override {
    return NotExpected("put_DefaultDatabase");
  }
  HRESULT STDMETHODCALLTYPE get_IsolationLevel(IsolationLevelEnum*) override {
    return NotExpected("get_IsolationLevel");
  }
  HRESULT STDMETHODCALLTYPE put_IsolationLevel(IsolationLevelEnum) override {
    return NotExpected("put_IsolationLevel");
  }
  HRESULT STDMETHODCALLTYPE get_Attributes(long*) override { return NotExpected("get_Attributes"); }
  HRESULT STDMETHODCALLTYPE put_Attributes(long) override { return NotExpected("put_Attributes"); }
  HRESULT STDMETHODCALLTYPE get_CursorLocation(CursorLocationEnum*) override {
    return NotExpected("get_CursorLocation");
  }
  HRESULT STDMETHODCALLTYPE put_CursorLocation(CursorLocationEnum) override {
    return NotExpected("put_CursorLocation");
  }
  HRESULT STDMETHODCALLTYPE get_Mode(ConnectModeEnum*) override { return NotExpected("get_Mode"); }
  HRESULT STDMETHODCALLTYPE put_Mode(ConnectModeEnum) override { return NotExpected("put_Mode"); }
  HRESULT STDMETHODCALLTYPE get_Provider(BSTR*) override { return NotExpected("get_Provider"); }
  HRESULT STDMETHODCALLTYPE put_Provider(BSTR) override { return NotExpected("put_Provider"); }
  HRESULT STDMETHODCALLTYPE get_State(LONG*) override { return NotExpected("get_State"); }
  HRESULT STDMETHODCALLTYPE OpenSchema(SchemaEnum, VARIANT, VARIANT, _ADORecordset**) override {
    return NotExpected("OpenSchema");
  }
  HRESULT STDMETHODCALLTYPE Cancel() override { return NotExpected("Cancel"); }

 private:
  ULONG references_ = 1;
};

// The class object: static, so it is never freed; the DLL stays loaded.
class ConnectionFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(id, IID_IUnknown) && !IsEqualIID(id, IID_IClassFactory)) {
      return E_NOINTERFACE;
    }
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID id, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    // The new object's one reference, given back after the query.
    const ComPtr<_ADOConnection> connection(std::make_unique<TestConnection>().release());
    return connection->QueryInterface(id, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID class_id, REFIID id, void** object) {
  static ConnectionFactory factory;
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(class_id, CLSID_CADOConnection)) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(id, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }
