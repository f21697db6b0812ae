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
//   QLX_ADO_HANG    "<method>": every call of that method is recorded, makes the
//                   file "<QLX_ADO_RECORD>.hanging", and then never returns, as a
//                   database that does not answer.
//   QLX_ADO_TABLE   a file that holds the table Supported_Servers as its model
//                   names, one a line. An INSERT INTO Supported_Servers appends
//                   the model it names (its first quoted value); a SELECT hands
//                   out a recordset that holds a row when the model its first
//                   quoted value names is in the file.
//
// Only a SELECT gives a recordset; its calls are recorded as
// "Recordset.get_EOF()" and "Recordset.Close()", and QLX_ADO_FAIL names them
// so. Every other statement gives none: the program only ever releases it.

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
#include <fstream>
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

std::string Ansi(BSTR text) {
  const int wide_length = static_cast<int>(SysStringLen(text));
  const int length =
      WideCharToMultiByte(CP_ACP, 0, text, wide_length, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, wide_length, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

std::string Narrow(BSTR text) { return text == nullptr ? "null" : '"' + Ansi(text) + '"'; }

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
    const UniqueFile hanging(
        std::fopen((Environment("QLX_ADO_RECORD") + ".hanging").c_str(), "wb"));
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

// The table Supported_Servers, as the file QLX_ADO_TABLE holds it.
const std::string& TablePath() {
  static const std::string path = Environment("QLX_ADO_TABLE");
  return path;
}

bool InTable(const std::string& model) {
  std::ifstream table(TablePath(), std::ios::binary);
  for (std::string line; std::getline(table, line);) {
    if (line == model) return true;
  }
  return false;
}

void AddToTable(const std::string& model) {
  if (TablePath().empty()) return;
  std::ofstream(TablePath(), std::ios::binary | std::ios::app) << model << '\n';
}

// The first value quoted in the statement: the model an INSERT or a SELECT
// names.
std::string FirstQuoted(const std::string& statement) {
  const size_t start = statement.find('\'');
  const size_t end = statement.find('\'', start + 1);
  return start == std::string::npos || end == std::string::npos
             ? std::string()
             : statement.substr(start + 1, end - start - 1);
}

// ADO's adErrObjectClosed as an HRESULT.
constexpr HRESULT kObjectClosed = static_cast<HRESULT>(0x800A0E78);

// A Recordset method the program has no business calling.
#define QLX_NOT_EXPECTED(method, ...)                      \
  HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { \
    return NotExpected("Recordset." #method);              \
  }

// Drops one reference; the object goes with the last.
template <typename Object>
ULONG Released(Object* object, ULONG* references) {
  const ULONG left = --*references;
  if (left == 0) {
    const std::unique_ptr<Object> last(object);
  }
  return left;
}

// The rows of a SELECT: one or none. The program asks only whether the
// cursor stands past the end, and closes it.
class TestRecordset final : public _ADORecordset {
 public:
  explicit TestRecordset(bool holds_a_row) : at_end_(holds_a_row ? VARIANT_FALSE : VARIANT_TRUE) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(id, IID_IUnknown) && !IsEqualIID(id, IID_IDispatch) &&
        !IsEqualIID(id, IID__ADO) && !IsEqualIID(id, IID_IADORecordset15) &&
        !IsEqualIID(id, IID_IADORecordset20) && !IsEqualIID(id, IID_IADORecordset21) &&
        !IsEqualIID(id, IID_IADORecordset)) {
      return E_NOINTERFACE;
    }
    *object = static_cast<_ADORecordset*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return Released(this, &references_); }

  HRESULT STDMETHODCALLTYPE get_EOF(VARIANT_BOOL* at_end) override {
    const HRESULT result = Called("Recordset.get_EOF", "");
    if (FAILED(result)) return result;
    if (!open_) return kObjectClosed;
    if (at_end == nullptr) return E_POINTER;
    *at_end = at_end_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Close() override {
    const HRESULT result = Called("Recordset.Close", "");
    if (FAILED(result)) return result;
    if (!open_) return kObjectClosed;
    open_ = false;
    return S_OK;
  }

  QLX_NOT_EXPECTED(GetTypeInfoCount, UINT*)
  QLX_NOT_EXPECTED(GetTypeInfo, UINT, LCID, ITypeInfo**)
  QLX_NOT_EXPECTED(GetIDsOfNames, REFIID, LPOLESTR*, UINT, LCID, DISPID*)
  QLX_NOT_EXPECTED(Invoke, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
  QLX_NOT_EXPECTED(get_Properties, ADOProperties**)
  QLX_NOT_EXPECTED(get_AbsolutePosition, PositionEnum*)
  QLX_NOT_EXPECTED(put_AbsolutePosition, PositionEnum)
  QLX_NOT_EXPECTED(putref_ActiveConnection, IDispatch*)
  QLX_NOT_EXPECTED(put_ActiveConnection, VARIANT)
  QLX_NOT_EXPECTED(get_ActiveConnection, VARIANT*)
  QLX_NOT_EXPECTED(get_BOF, VARIANT_BOOL*)
  QLX_NOT_EXPECTED(get_Bookmark, VARIANT*)
  QLX_NOT_EXPECTED(put_Bookmark, VARIANT)
  QLX_NOT_EXPECTED(get_CacheSize, long*)
  QLX_NOT_EXPECTED(put_CacheSize, long)
  QLX_NOT_EXPECTED(get_CursorType, CursorTypeEnum*)
  QLX_NOT_EXPECTED(put_CursorType, CursorTypeEnum)
  QLX_NOT_EXPECTED(get_Fields, ADOFields**)
  QLX_NOT_EXPECTED(get_LockType, LockTypeEnum*)
  QLX_NOT_EXPECTED(put_LockType, LockTypeEnum)
  QLX_NOT_EXPECTED(get_MaxRecords, long*)
  QLX_NOT_EXPECTED(put_MaxRecords, long)
  QLX_NOT_EXPECTED(get_RecordCount, long*)
  QLX_NOT_EXPECTED(putref_Source, IDispatch*)
  QLX_NOT_EXPECTED(put_Source, BSTR)
  QLX_NOT_EXPECTED(get_Source, VARIANT*)
  QLX_NOT_EXPECTED(AddNew, VARIANT, VARIANT)
  QLX_NOT_EXPECTED(CancelUpdate, void)
  QLX_NOT_EXPECTED(Delete, AffectEnum)
  QLX_NOT_EXPECTED(GetRows, long, VARIANT, VARIANT, VARIANT*)
  QLX_NOT_EXPECTED(Move, long, VARIANT)
  QLX_NOT_EXPECTED(MoveNext, void)
  QLX_NOT_EXPECTED(MovePrevious, void)
  QLX_NOT_EXPECTED(MoveFirst, void)
  QLX_NOT_EXPECTED(MoveLast, void)
  QLX_NOT_EXPECTED(Open, VARIANT, VARIANT, CursorTypeEnum, LockTypeEnum, LONG)
  QLX_NOT_EXPECTED(Requery, LONG)
  QLX_NOT_EXPECTED(_xResync, AffectEnum)
  QLX_NOT_EXPECTED(Update, VARIANT, VARIANT)
  QLX_NOT_EXPECTED(get_AbsolutePage, PositionEnum*)
  QLX_NOT_EXPECTED(put_AbsolutePage, PositionEnum)
  QLX_NOT_EXPECTED(get_EditMode, EditModeEnum*)
  QLX_NOT_EXPECTED(get_Filter, VARIANT*)
  QLX_NOT_EXPECTED(put_Filter, VARIANT)
  QLX_NOT_EXPECTED(get_PageCount, long*)
  QLX_NOT_EXPECTED(get_PageSize, long*)
  QLX_NOT_EXPECTED(put_PageSize, long)
  QLX_NOT_EXPECTED(get_Sort, BSTR*)
  QLX_NOT_EXPECTED(put_Sort, BSTR)
  QLX_NOT_EXPECTED(get_Status, long*)
  QLX_NOT_EXPECTED(get_State, LONG*)
  QLX_NOT_EXPECTED(_xClone, _ADORecordset**)
  QLX_NOT_EXPECTED(UpdateBatch, AffectEnum)
  QLX_NOT_EXPECTED(CancelBatch, AffectEnum)
  QLX_NOT_EXPECTED(get_CursorLocation, CursorLocationEnum*)
  QLX_NOT_EXPECTED(put_CursorLocation, CursorLocationEnum)
  QLX_NOT_EXPECTED(NextRecordset, VARIANT*, _ADORecordset**)
  QLX_NOT_EXPECTED(Supports, CursorOptionEnum, VARIANT_BOOL*)
  QLX_NOT_EXPECTED(get_Collect, VARIANT, VARIANT*)
  QLX_NOT_EXPECTED(put_Collect, VARIANT, VARIANT)
  QLX_NOT_EXPECTED(get_MarshalOptions, MarshalOptionsEnum*)
  QLX_NOT_EXPECTED(put_MarshalOptions, MarshalOptionsEnum)
  QLX_NOT_EXPECTED(Find, BSTR, long, SearchDirectionEnum, VARIANT)
  QLX_NOT_EXPECTED(Cancel, void)
  QLX_NOT_EXPECTED(get_DataSource, IUnknown**)
  QLX_NOT_EXPECTED(putref_DataSource, IUnknown*)
  QLX_NOT_EXPECTED(_xSave, BSTR, PersistFormatEnum)
  QLX_NOT_EXPECTED(get_ActiveCommand, IDispatch**)
  QLX_NOT_EXPECTED(put_StayInSync, VARIANT_BOOL)
  QLX_NOT_EXPECTED(get_StayInSync, VARIANT_BOOL*)
  QLX_NOT_EXPECTED(GetString, StringFormatEnum, long, BSTR, BSTR, BSTR, BSTR*)
  QLX_NOT_EXPECTED(get_DataMember, BSTR*)
  QLX_NOT_EXPECTED(put_DataMember, BSTR)
  QLX_NOT_EXPECTED(CompareBookmarks, VARIANT, VARIANT, CompareEnum*)
  QLX_NOT_EXPECTED(Clone, LockTypeEnum, _ADORecordset**)
  QLX_NOT_EXPECTED(Resync, AffectEnum, ResyncEnum)
  QLX_NOT_EXPECTED(Seek, VARIANT, SeekEnum)
  QLX_NOT_EXPECTED(put_Index, BSTR)
  QLX_NOT_EXPECTED(get_Index, BSTR*)
  QLX_NOT_EXPECTED(Save, VARIANT, PersistFormatEnum)

 private:
  ULONG references_ = 1;
  VARIANT_BOOL at_end_;
  bool open_ = true;
};

#undef QLX_NOT_EXPECTED

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
  ULONG STDMETHODCALLTYPE Release() override { return Released(this, &references_); }

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
    const HRESULT result =
        Called("Execute", Narrow(command_text) + ", " + (records_affected ? "&" : "null") + ", " +
                              std::to_string(options));
    if (FAILED(result)) return result;
    const std::string statement = command_text ? Ansi(command_text) : "";
    if (statement.rfind("INSERT INTO Supported_Servers ", 0) == 0) {
      AddToTable(FirstQuoted(statement));
    } else if (statement.rfind("SELECT ", 0) == 0 && recordset != nullptr) {
      *recordset = std::make_unique<TestRecordset>(InTable(FirstQuoted(statement))).release();
    }
    return result;
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
