#include "platform/security.h"

#include <gtest/gtest.h>

#include "platform/win32/private_directory.h"
#include "win32_test_support.h"
// After <windows.h>, which they need.
#include <aclapi.h>
#include <sddl.h>

namespace qlx::platform {
namespace {

// Wine runs everything elevated and keeps no access list: it makes one up
// from the Unix permissions (SYSTEM, the user, Everyone), so only Everyone's
// rights show there, and none of the entries passed over (inherit-only,
// CREATOR OWNER, no right to create).
TEST(SecurityTest, TellsElevationTheProgramsFolderAndWhoElseMayCreateInAFolder) {
  EXPECT_TRUE(IsElevated().value_or(false) || !test::RunningUnderWine());
  EXPECT_EQ(ProgramDirectory().value_or(""), test::ExecutableDirectory());
  EXPECT_EQ(OtherWritersOf(test::TemporaryDirectory() + "qlx no such folder").error(), 2u);
  const struct {
    const char* access_list;  // null: none at all, everyone may do anything
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
    PACL list = nullptr;
    if (c.access_list) {
      ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
          c.access_list, SDDL_REVISION_1, &descriptor, nullptr));
      GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted);
    }
    const win32::UniqueLocalMemory owned(descriptor);
    ASSERT_EQ(SetNamedSecurityInfoA(const_cast<char*>(folder.path().c_str()), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, list, nullptr),
              0u);
    EXPECT_EQ(OtherWritersOf(folder.path()).value_or({"failed"}),
              test::RunningUnderWine() ? c.under_wine : c.on_windows)
        << c.access_list;
  }
}

}  // namespace
}  // namespace qlx::platform
