#include "platform/system_messages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace qlx::platform {
namespace {

// The texts come from the system, so only their shape is checked here; the
// Wine acceptance suite compares whole log entries built from them.
TEST(SystemMessagesTest, TheCodesTheLogShowsHaveTextsEndingInALineBreak) {
  for (const uint32_t code : {2u, 3u, 5u, 1056u, 1060u, 1062u}) {
    const std::optional<std::string> text = SystemMessageText(code);
    ASSERT_TRUE(text.has_value()) << code;
    ASSERT_GT(text->size(), 2u) << code;
    EXPECT_EQ(text->substr(text->size() - 2), "\r\n") << code;
  }
}

TEST(SystemMessagesTest, ProviderErrorHasNoSystemText) {
  EXPECT_FALSE(SystemMessageText(0x80040E14u).has_value());
}

}  // namespace
}  // namespace qlx::platform
