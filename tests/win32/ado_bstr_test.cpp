#include "platform/win32/ado_bstr.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/database.h"
#include "platform/win32/windows_api.h"

namespace qlx::platform::win32 {
namespace {

// The expectations are those of Windows-1252, the ANSI code page Wine takes
// for the locales the tests run under; 0x80 is the euro sign only there.
class AdoBstrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GetACP() != 1252) GTEST_SKIP() << "ANSI code page is not 1252";
  }
};

TEST_F(AdoBstrTest, TheEmptyTextGivesAnEmptyBstrNotANullOne) {
  const UniqueBstr bstr = AnsiToBstr("");
  ASSERT_TRUE(bstr);
  EXPECT_TRUE(BstrView(bstr).empty());
  EXPECT_EQ(bstr.get()[0], L'\0');
}

// Every byte but zero becomes one character (ASCII as it is, the others
// their Unicode counterparts) and comes back unchanged.
TEST_F(AdoBstrTest, TextsSurviveTheRoundTrip) {
  std::string all_bytes;
  for (int byte = 1; byte < 256; ++byte) all_bytes += static_cast<char>(byte);
  const UniqueBstr bstr = AnsiToBstr(all_bytes);
  ASSERT_EQ(BstrView(bstr).size(), 255u);
  EXPECT_EQ(bstr.get()[255], L'\0');
  EXPECT_EQ(BstrView(bstr).substr(0, 127),
            std::wstring(all_bytes.begin(), all_bytes.begin() + 127));
  EXPECT_EQ(BstrView(bstr)[0x80 - 1], L'\u20AC');
  EXPECT_EQ(BstrView(bstr)[0xAB - 1], L'\u00AB');
  EXPECT_EQ(BstrView(bstr)[0xFC - 1], L'\u00FC');
  EXPECT_EQ(WideToAnsi(BstrView(bstr)), all_bytes);
}

TEST_F(AdoBstrTest, TextsEndAtTheirFirstZero) {
  EXPECT_EQ(BstrView(AnsiToBstr(std::string("INSERT\0tail", 11))), L"INSERT");
  EXPECT_EQ(WideToAnsi(std::wstring_view(L"abc\0def", 7)), "abc");
  EXPECT_EQ(WideToAnsi(L""), "");
}

TEST_F(AdoBstrTest, CharactersTheCodePageLacksBecomeQuestionMarks) {
  EXPECT_EQ(WideToAnsi(L"a\u4E2Db"), "a?b");
}

}  // namespace
}  // namespace qlx::platform::win32
