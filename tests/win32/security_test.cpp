#include "platform/security.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/handles.h"
#include "platform/win32/private_directory.h"
#include "win32_test_support.h"
// After <windows.h>, which they need.
#include <aclapi.h>
#include <sddl.h>

namespace qlx::platform {
namespace {

TEST(SecurityTest, TellsElevationAndTheProgramsOwnDirectory) {
  const Result<bool> elevated = IsElevated();
  ASSERT_TRUE(elevated);
  // Wine runs every program as an elevated administrator.
  EXPECT_TRUE(*elevated || !test::RunningUnderWine());
  EXPECT_EQ(ProgramDirectory().value_or("failed"), test::ExecutableDirectory());
}

// Windows names every account with a planting right on the folder itself but
// the trusted ones. Wine keeps no access list: it makes one up from the Unix
// permissions (SYSTEM, the user, Everyone), so it can show only Everyone's
// write right, and none of the entries passed over (inherit-only, CREATOR
// OWNER, read only).
TEST(SecurityTest, OtherWritersAreTheAccountsAllowedToCreateInTheFolder) {
  const struct {
    const char* access_list;
    std::vector<std::string> on_windows, under_wine;
  } cases[] = {
      {"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICIIO;FA;;;BU)(A;;FRFX;;;BU)",
       {},
       {}},
      {"D:P(A;;FA;;;SY)(A;;0x6;;;WD)(A;;FA;;;CO)(A;;0x2;;;BU)(A;;WD;;;AU)(A;;0x4;;;BU)",
       {"Everyone", "BUILTIN\\Users", "NT AUTHORITY\\Authenticated Users"},
       {"Everyone"}},
      {nullptr, {"Everyone"}, {"Everyone"}},
  };
  for (const auto& c : cases) {
    const win32::ScopedPrivateDirectory folder(test::TemporaryDirectory());
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    PACL list = nullptr;  // none at all: everyone may do anything
    ASSERT_TRUE(!c.access_list || ConvertStringSecurityDescriptorToSecurityDescriptorA(
                                      c.access_list, SDDL_REVISION_1, &descriptor, nullptr));
    const win32::UniqueLocalMemory owned(descriptor);
    ASSERT_TRUE(!c.access_list ||
                GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted));
    ASSERT_EQ(SetNamedSecurityInfoA(const_cast<char*>(folder.path().c_str()), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, list, nullptr),
              0u);
    const Result<std::vector<std::string>> writers = OtherWritersOf(folder.path());
    ASSERT_TRUE(writers) << writers.error();
    EXPECT_EQ(*writers, test::RunningUnderWine() ? c.under_wine : c.on_windows) << c.access_list;
  }
  EXPECT_EQ(OtherWritersOf(test::TemporaryDirectory() + "qlx no such folder").error(), 2u);
}

}  // namespace
}  // namespace qlx::platform
