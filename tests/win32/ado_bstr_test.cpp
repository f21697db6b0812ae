#include "platform/win32/ado_bstr.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/database.h"

namespace qlx::platform::win32 {
namespace {

// The expectations are those of Windows-1252, the ANSI code page Wine takes
// for the locales the tests run under; 0x80 is the euro sign only there.
class AdoBstrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (AnsiToBstr("\x80").view() != L"\u20AC") GTEST_SKIP() << "ANSI code page is not 1252";
  }
};

TEST_F(AdoBstrTest, TheEmptyTextGivesAnEmptyBstrNotANullOne) {
  const UniqueBstr bstr = AnsiToBstr("");
  ASSERT_TRUE(bstr);
  EXPECT_TRUE(bstr.view().empty());
  EXPECT_EQ(bstr.get()[0], L'\0');
}

TEST_F(AdoBstrTest, AsciiTextIsWidenedCharacterByCharacter) {
  const UniqueBstr bstr = AnsiToBstr("Provider=sqloledb;Data Source=db,1433");
  EXPECT_EQ(bstr.view(), L"Provider=sqloledb;Data Source=db,1433");
  EXPECT_EQ(bstr.get()[bstr.view().size()], L'\0');
}

TEST_F(AdoBstrTest, AnsiCharactersBecomeTheirUnicodeCounterparts) {
  EXPECT_EQ(AnsiToBstr("Gr\xFC\xDF"
                       "e \x80")
                .view(),
            L"Gr\u00FC\u00DFe \u20AC");
}

TEST_F(AdoBstrTest, TheTextEndsAtItsFirstZeroByte) {
  EXPECT_EQ(AnsiToBstr(std::string("INSERT\0tail", 11)).view(), L"INSERT");
}

TEST_F(AdoBstrTest, UnicodeCharactersComeBackInTheAnsiCodePage) {
  EXPECT_EQ(WideToAnsi(L"Anmeldung f\u00FCr \u00BBsa\u00AB fehlgeschlagen"),
            "Anmeldung f\xFCr \xBBsa\xAB fehlgeschlagen");
}

TEST_F(AdoBstrTest, CharactersTheCodePageLacksBecomeQuestionMarks) {
  EXPECT_EQ(WideToAnsi(L"a\u4E2Db"), "a?b");
}

TEST_F(AdoBstrTest, TheWideTextEndsAtItsFirstZeroCharacter) {
  EXPECT_EQ(WideToAnsi(std::wstring_view(L"abc\0def", 7)), "abc");
  EXPECT_EQ(WideToAnsi(L""), "");
}

TEST_F(AdoBstrTest, TextsSurviveTheRoundTrip) {
  std::string all_bytes;
  for (int byte = 1; byte < 256; ++byte) all_bytes += static_cast<char>(byte);
  const UniqueBstr bstr = AnsiToBstr(all_bytes);
  EXPECT_EQ(WideToAnsi(bstr.view()), all_bytes);
}

TEST_F(AdoBstrTest, OwnershipMovesAndReleases) {
  UniqueBstr first = AnsiToBstr("x");
  wchar_t* const raw = first.get();
  UniqueBstr second(std::move(first));
  EXPECT_FALSE(first);
  EXPECT_EQ(second.get(), raw);
  UniqueBstr third(second.release());
  EXPECT_FALSE(second);
  EXPECT_EQ(third.view(), L"x");
  third.reset();
  EXPECT_FALSE(third);
  EXPECT_TRUE(third.view().empty());
}

}  // namespace
}  // namespace qlx::platform::win32
