#include "platform/win32/ado_error.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/win32/ado_com_ptr.h"
#include "platform/win32/ado_interfaces.h"
#include "platform/windows_codes.h"

namespace qlx::platform::win32 {
namespace {

// An object that supports error information for one interface only, or,
// without ISupportErrorInfo, for none. Lives on the stack: counting is moot.
class FakeAdoObject : public ISupportErrorInfo {
 public:
  FakeAdoObject(bool answers_support_query, const IID& supported)
      : answers_support_query_(answers_support_query), supported_(supported) {}
  virtual ~FakeAdoObject() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    const bool known = IsEqualIID(iid, ado::kIidUnknown) ||
                       (answers_support_query_ && IsEqualIID(iid, IID_ISupportErrorInfo));
    *object = known ? static_cast<ISupportErrorInfo*>(this) : nullptr;
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    last_asked_ = iid;
    return IsEqualIID(iid, supported_) ? S_OK : S_FALSE;
  }

  const IID& LastAsked() const { return last_asked_; }

 private:
  bool answers_support_query_;
  IID supported_;
  IID last_asked_ = GUID_NULL;
};

// Leaves error information with the description for the thread, as a failing
// ADO call does.
void LeaveErrorInfo(const wchar_t* description) {
  ComPtr<ICreateErrorInfo> creator;
  ASSERT_EQ(CreateErrorInfo(creator.put()), S_OK);
  if (description) {
    ASSERT_EQ(creator->SetDescription(const_cast<LPOLESTR>(description)), S_OK);
  }
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(creator->QueryInterface(IID_IErrorInfo, info.put_void()), S_OK);
  ASSERT_EQ(SetErrorInfo(0, info.get()), S_OK);
}

bool ThreadHoldsErrorInfo() {
  ComPtr<IErrorInfo> info;
  return GetErrorInfo(0, info.put()) == S_OK;
}

class AdoErrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GE(CoInitialize(nullptr), 0);
    SetErrorInfo(0, nullptr);
  }
  void TearDown() override { SetErrorInfo(0, nullptr); }
};

TEST_F(AdoErrorTest, TakesTheDescriptionForTheInterfaceCalled) {
  FakeAdoObject connection(true, ado::kIidConnection15);
  LeaveErrorInfo(L"Login failed for user 'sa'.");
  const ComError error = ComErrorOf(kDbAuthenticationFailed, &connection, ado::kIidConnection15);
  EXPECT_EQ(error.Error(), kDbAuthenticationFailed);
  EXPECT_EQ(error.Description(), std::optional<std::string>("Login failed for user 'sa'."));
  EXPECT_TRUE(IsEqualIID(connection.LastAsked(), ado::kIidConnection15));
  EXPECT_FALSE(ThreadHoldsErrorInfo()) << "the error information is taken";
}

TEST_F(AdoErrorTest, TheDescriptionComesInTheAnsiCodePage) {
  FakeAdoObject connection(true, ado::kIidConnection15);
  LeaveErrorInfo(L"Anmeldung f\u00FCr Benutzer \u201Esa\u201C fehlgeschlagen.");
  const ComError error = ComErrorOf(kDbAuthenticationFailed, &connection, ado::kIidConnection15);
  EXPECT_EQ(error.Description(),
            std::optional<std::string>("Anmeldung f\xFCr Benutzer \x84sa\x93 fehlgeschlagen."));
}

// Error information the object does not vouch for (it disowns the interface,
// supports no error information, or there is no object) may be a leftover of
// some other call: it gives no description and stays with the thread.
TEST_F(AdoErrorTest, NoDescriptionUnlessTheObjectVouchesForTheErrorInformation) {
  FakeAdoObject disowning(true, ado::kIidConnection);
  FakeAdoObject unsupporting(false, ado::kIidConnection15);
  IUnknown* const objects[] = {&disowning, &unsupporting, nullptr};
  for (IUnknown* object : objects) {
    LeaveErrorInfo(L"left over from some other call");
    const ComError error = ComErrorOf(E_FAIL, object, ado::kIidConnection15);
    EXPECT_EQ(error.Error(), kEFail);
    EXPECT_EQ(error.Description(), std::nullopt);
    EXPECT_TRUE(ThreadHoldsErrorInfo()) << "foreign error information is left alone";
  }
  SetErrorInfo(0, nullptr);
  FakeAdoObject vouching(true, ado::kIidConnection15);
  EXPECT_EQ(ComErrorOf(E_FAIL, &vouching, ado::kIidConnection15).Description(), std::nullopt)
      << "without error information";
}

TEST_F(AdoErrorTest, SuccessesAreNotErrors) {
  FakeAdoObject connection(true, ado::kIidConnection15);
  EXPECT_NO_THROW(CheckResult(S_OK, &connection, ado::kIidConnection15));
  EXPECT_NO_THROW(CheckResult(S_FALSE, &connection, ado::kIidConnection15));
}

TEST_F(AdoErrorTest, AFailureIsThrownAsTheRecord) {
  FakeAdoObject connection(true, ado::kIidConnection15);
  LeaveErrorInfo(L"Invalid object name 'Supported_Servers'.");
  try {
    CheckResult(static_cast<HRESULT>(0x80040E37), &connection, ado::kIidConnection15);
    FAIL() << "no error thrown";
  } catch (const ComError& error) {
    EXPECT_EQ(static_cast<uint32_t>(error.Error()), 0x80040E37u);
    EXPECT_EQ(error.Description(),
              std::optional<std::string>("Invalid object name 'Supported_Servers'."));
  }
}

}  // namespace
}  // namespace qlx::platform::win32
