// The system's message texts for the codes the patch logs.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/system_messages.h"

namespace qlx::posix_tests {
namespace {

using platform::SystemMessageText;

TEST(SystemMessagesTest, GivesTheWindowsTextsWithTheirLineEnd) {
  EXPECT_EQ(SystemMessageText(2), "The system cannot find the file specified.\r\n");
  EXPECT_EQ(SystemMessageText(3), "The system cannot find the path specified.\r\n");
  EXPECT_EQ(SystemMessageText(5), "Access is denied.\r\n");
  EXPECT_EQ(SystemMessageText(1056), "An instance of the service is already running.\r\n");
  EXPECT_EQ(SystemMessageText(1060),
            "The specified service does not exist as an installed service.\r\n");
  EXPECT_EQ(SystemMessageText(1062), "The service has not been started.\r\n");
  EXPECT_EQ(SystemMessageText(0x80004005), "Unspecified error\r\n");
  EXPECT_EQ(SystemMessageText(0x80004003), "Invalid pointer\r\n");
}

TEST(SystemMessagesTest, WrappedWindowsErrorsCarryTheErrorsText) {
  EXPECT_EQ(SystemMessageText(0x8007000E),
            "Not enough memory resources are available to complete this operation.\r\n");
  EXPECT_EQ(SystemMessageText(0x80070005), "Access is denied.\r\n");
}

TEST(SystemMessagesTest, EveryTextEndsInOneLineEnd) {
  for (uint32_t code = 0; code < 2000; ++code) {
    const std::optional<std::string> text = SystemMessageText(code);
    if (!text) continue;
    ASSERT_GE(text->size(), 3u) << code;
    EXPECT_EQ(text->substr(text->size() - 2), "\r\n") << code;
    EXPECT_EQ(text->find_first_of("\r\n"), text->size() - 2) << code;
  }
}

TEST(SystemMessagesTest, DatabaseErrorRangesHaveNoText) {
  EXPECT_EQ(SystemMessageText(0x80040E14), std::nullopt);
  EXPECT_EQ(SystemMessageText(0x80040E4D), std::nullopt);
  EXPECT_EQ(SystemMessageText(0x800A0BB9), std::nullopt);
  EXPECT_EQ(SystemMessageText(0x800A0E7A), std::nullopt);
  EXPECT_EQ(SystemMessageText(0x80070000 + 9999), std::nullopt);
  EXPECT_EQ(SystemMessageText(4242), std::nullopt);
}

}  // namespace
}  // namespace qlx::posix_tests
