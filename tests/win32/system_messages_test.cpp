#include "platform/system_messages.h"

#include <gtest/gtest.h>

#include <string>

namespace qlx::platform {
namespace {

bool EndsWithLineBreak(const std::string& text) {
  return text.size() > 2 && text.compare(text.size() - 2, 2, "\r\n") == 0;
}

TEST(SystemMessagesTest, FileNotFoundHasATextEndingInALineBreak) {
  const auto text = SystemMessageText(2);
  ASSERT_TRUE(text.has_value());
  EXPECT_TRUE(EndsWithLineBreak(*text)) << *text;
}

TEST(SystemMessagesTest, MissingServiceHasATextEndingInALineBreak) {
  const auto text = SystemMessageText(1060);
  ASSERT_TRUE(text.has_value());
  EXPECT_TRUE(EndsWithLineBreak(*text)) << *text;
}

TEST(SystemMessagesTest, ServiceErrorsHaveTexts) {
  EXPECT_TRUE(SystemMessageText(1056).has_value());
  EXPECT_TRUE(SystemMessageText(1062).has_value());
  EXPECT_TRUE(SystemMessageText(5).has_value());
}

TEST(SystemMessagesTest, ProviderErrorHasNoSystemText) {
  EXPECT_FALSE(SystemMessageText(0x80040E14u).has_value());
}

}  // namespace
}  // namespace qlx::platform
