#pragma once

// The parts of the ADO type library that the program calls: the Connection
// class, the connection's and the recordset's dual interfaces in the layout of
// the ADO 2.x type library, and their identifiers. Each interface lists its
// methods in vtable order up to the last one the program needs; collection
// and enumeration types of ADO appear as void* and long, which have their
// size on the stack. Nothing here is ever implemented by the program.

#include "platform/win32/windows_api.h"
// After windows.h, which it builds on.
#include <oaidl.h>

namespace qlx::platform::win32::ado {

// The ADODB.Connection class.
inline constexpr CLSID kClsidConnection = {
    0x00000514, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
// The connection's default interface, _Connection.
inline constexpr IID kIidConnection = {
    0x00000550, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
// Connection15, which declares every connection method the program calls:
// the interface named when asking a connection for error information.
inline constexpr IID kIidConnection15 = {
    0x00000515, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
// The recordset's default interface, _Recordset, which Execute hands out.
inline constexpr IID kIidRecordset = {
    0x00000556, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
// Recordset15, which declares Close: the interface named when asking a
// recordset for error information, as for the connection.
inline constexpr IID kIidRecordset15 = {
    0x0000050E, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
inline constexpr IID kIidUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER.
inline constexpr DWORD kClassContext =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;
static_assert(kClassContext == 7);

// Options of Connection::Open and Connection::Execute.
inline constexpr long kConnectUnspecified = -1;  // adConnectUnspecified
inline constexpr long kCommandText = 1;          // adCmdText

// _ADO: every ADO object's base.
struct AdoObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_Properties(void** properties) = 0;
};

struct Recordset;

struct Connection15 : AdoObject {
  virtual HRESULT STDMETHODCALLTYPE get_ConnectionString(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ConnectionString(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CommandTimeout(LONG* seconds) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_CommandTimeout(LONG seconds) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ConnectionTimeout(LONG* seconds) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ConnectionTimeout(LONG seconds) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Version(BSTR* version) = 0;
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
  virtual HRESULT STDMETHODCALLTYPE Execute(BSTR command_text, VARIANT* records_affected,
                                            long options, Recordset** recordset) = 0;
  virtual HRESULT STDMETHODCALLTYPE BeginTrans(long* level) = 0;
  virtual HRESULT STDMETHODCALLTYPE CommitTrans() = 0;
  virtual HRESULT STDMETHODCALLTYPE RollbackTrans() = 0;
  virtual HRESULT STDMETHODCALLTYPE Open(BSTR connection_string, BSTR user_id, BSTR password,
                                         long options) = 0;
};

// _Connection. Its methods after Open are not needed and not declared.
struct Connection : Connection15 {};

struct Recordset15 : AdoObject {
  virtual HRESULT STDMETHODCALLTYPE get_AbsolutePosition(long* position) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AbsolutePosition(long position) = 0;
  virtual HRESULT STDMETHODCALLTYPE putref_ActiveConnection(IDispatch* connection) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ActiveConnection(VARIANT connection) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ActiveConnection(VARIANT* connection) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_BOF(VARIANT_BOOL* bof) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Bookmark(VARIANT* bookmark) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Bookmark(VARIANT bookmark) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CacheSize(long* size) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_CacheSize(long size) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CursorType(long* type) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_CursorType(long type) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_EOF(VARIANT_BOOL* eof) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Fields(void** fields) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_LockType(long* type) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_LockType(long type) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_MaxRecords(long* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_MaxRecords(long count) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_RecordCount(long* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE putref_Source(IDispatch* command) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Source(BSTR source) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Source(VARIANT* source) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddNew(VARIANT field_list, VARIANT values) = 0;
  virtual HRESULT STDMETHODCALLTYPE CancelUpdate() = 0;
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

// _Recordset. Its methods after Close are not needed and not declared.
struct Recordset : Recordset15 {};

}  // namespace qlx::platform::win32::ado
