// The database connection through ADO: the ADODB.Connection object created
// through COM and driven through its _Connection interface. Every failed call
// becomes a ComError carrying the HRESULT and, when the object left error
// information for the call, its description.

#include "platform/win32/windows_api.h"
// After windows.h, which it builds on: CoCreateInstance and OleRun.
#include <ole2.h>

#include <memory>
#include <string>
#include <utility>

#include "platform/database.h"
#include "platform/win32/ado_bstr.h"
#include "platform/win32/ado_com_ptr.h"
#include "platform/win32/ado_error.h"
#include "platform/win32/ado_interfaces.h"

namespace qlx::platform {
namespace {

namespace ado = win32::ado;
using win32::AnsiToBstr;
using win32::CheckResult;
using win32::ComPtr;
using win32::UniqueBstr;

// A recordset that Execute handed out. Its errors are looked up for
// Recordset15, the interface that declares Close, just as the connection's
// are looked up for Connection15.
class AdoRecordset final : public Recordset {
 public:
  explicit AdoRecordset(ComPtr<ado::Recordset> recordset) : recordset_(std::move(recordset)) {}

  void Close() override { Check(recordset_->Close()); }
  bool AtEnd() override {
    VARIANT_BOOL at_end = VARIANT_FALSE;
    Check(recordset_->get_EOF(&at_end));
    return at_end != VARIANT_FALSE;
  }

 private:
  void Check(HRESULT result) { CheckResult(result, recordset_.get(), ado::kIidRecordset15); }

  ComPtr<ado::Recordset> recordset_;
};

// An ADODB.Connection. Destruction releases the object without closing it.
class AdoConnection final : public Connection {
 public:
  explicit AdoConnection(ComPtr<ado::Connection> connection) : connection_(std::move(connection)) {}

  void PutConnectionString(const std::string& connection_string) override {
    const UniqueBstr text = AnsiToBstr(connection_string);
    Check(connection_->put_ConnectionString(text.get()));
  }

  void PutConnectionTimeout(long seconds) override {
    Check(connection_->put_ConnectionTimeout(seconds));
  }

  void PutCommandTimeout(long seconds) override { Check(connection_->put_CommandTimeout(seconds)); }

  // The connection string, user name and password arguments are empty: the
  // ConnectionString property carries them all.
  void Open() override {
    const UniqueBstr connection_string = AnsiToBstr("");
    const UniqueBstr user_id = AnsiToBstr("");
    const UniqueBstr password = AnsiToBstr("");
    Check(connection_->Open(connection_string.get(), user_id.get(), password.get(),
                            ado::kConnectUnspecified));
  }

  std::unique_ptr<Recordset> Execute(const std::string& statement) override {
    const UniqueBstr command_text = AnsiToBstr(statement);
    ComPtr<ado::Recordset> recordset;
    // No count of affected records is asked for.
    Check(connection_->Execute(command_text.get(), nullptr, ado::kCommandText, recordset.put()));
    if (!recordset) return nullptr;
    return std::make_unique<AdoRecordset>(std::move(recordset));
  }

  void Close() override { Check(connection_->Close()); }

 private:
  void Check(HRESULT result) { CheckResult(result, connection_.get(), ado::kIidConnection15); }

  ComPtr<ado::Connection> connection_;
};

// Creates the Connection object, has it running and asks it for _Connection.
// The IUnknown reference is released on every path.
ComPtr<ado::Connection> NewConnectionObject() {
  ComPtr<IUnknown> object;
  ComPtr<ado::Connection> connection;
  HRESULT result = CoCreateInstance(ado::kClsidConnection, nullptr, ado::kClassContext,
                                    ado::kIidUnknown, object.put_void());
  if (SUCCEEDED(result)) result = OleRun(object.get());
  if (SUCCEEDED(result)) object->QueryInterface(ado::kIidConnection, connection.put_void());
  return connection;
}

// The provider's object, created in this process as ADO would create it for
// a connection string that names it, and released at once. A provider that
// is registered only for 64-bit programs has no class in this 32-bit view.
Result<> CreateProviderObject(const std::string& provider) {
  const UniqueBstr prog_id = AnsiToBstr(provider);
  CLSID class_id{};
  HRESULT result = CLSIDFromProgID(prog_id.get(), &class_id);
  ComPtr<IUnknown> object;
  if (SUCCEEDED(result)) {
    result = CoCreateInstance(class_id, nullptr, CLSCTX_INPROC_SERVER, ado::kIidUnknown,
                              object.put_void());
  }
  if (FAILED(result)) return Failure{static_cast<uint32_t>(result)};
  return {};
}

class AdoDriver final : public DatabaseDriver {
 public:
  // Single-threaded apartment. S_FALSE (already initialised on this thread)
  // counts as success; COM is never uninitialised.
  bool InitializeCom() override { return SUCCEEDED(CoInitialize(nullptr)); }

  // COM comes into use first, as for a connection.
  Result<> CreateProvider(const std::string& provider) override {
    const HRESULT com = CoInitialize(nullptr);
    if (FAILED(com)) return Failure{static_cast<uint32_t>(com)};
    try {
      return CreateProviderObject(provider);
    } catch (const ComError& error) {  // the name could not be converted
      return Failure{static_cast<uint32_t>(error.Error())};
    }
  }

  std::unique_ptr<Connection> CreateConnection() override {
    ComPtr<ado::Connection> connection = NewConnectionObject();
    if (!connection) return nullptr;
    return std::make_unique<AdoConnection>(std::move(connection));
  }
};

}  // namespace

DatabaseDriver& SystemDatabaseDriver() {
  static AdoDriver driver;
  return driver;
}

}  // namespace qlx::platform
