// The system's message texts for the codes the patch logs.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/system_messages.h"

namespace qlx::posix_tests {
namespace {

using platform::SystemMessageText;

// The texts the logs show, a Windows error wrapped in an HRESULT carrying the
// error's own, and none for the database ranges and unknown codes.
TEST(SystemMessagesTest, GivesTheWindowsTextsWithTheirLineEnd) {
  const struct {
    uint32_t code;
    std::optional<std::string> text;
  } cases[] = {
      {2, "The system cannot find the file specified.\r\n"},
      {3, "The system cannot find the path specified.\r\n"},
      {5, "Access is denied.\r\n"},
      {1056, "An instance of the service is already running.\r\n"},
      {1060, "The specified service does not exist as an installed service.\r\n"},
      {1062, "The service has not been started.\r\n"},
      {0x80004005, "Unspecified error\r\n"},
      {0x80070005, "Access is denied.\r\n"},
      {0x80040E14, std::nullopt},
      {0x800A0BB9, std::nullopt},
      {0x80070000 + 9999, std::nullopt},
      {4242, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(SystemMessageText(c.code), c.text) << c.code;
}

TEST(SystemMessagesTest, EveryTextEndsInOneLineEnd) {
  for (uint32_t code = 0; code < 2000; ++code) {
    const std::optional<std::string> text = SystemMessageText(code);
    if (!text) continue;
    ASSERT_GE(text->size(), 3u) << code;
    EXPECT_EQ(text->find_first_of("\r\n"), text->size() - 2) << code;
    EXPECT_EQ(text->substr(text->size() - 2), "\r\n") << code;
  }
}

}  // namespace
}  // namespace qlx::posix_tests
