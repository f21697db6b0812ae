#include <gtest/gtest.h>

#include <csignal>

#include "platform/processes.h"

namespace qlx {
namespace {

// A parent that ignores SIGCHLD has its children reaped for it; the runner
// must still see the exit code, and leave the caller's setting as it was.
TEST(ChildSignalTest, AnIgnoredChildSignalStillGivesTheExitCode) {
  const auto previous = std::signal(SIGCHLD, SIG_IGN);
  const platform::Result<uint32_t> outcome =
      platform::SystemProcesses().RunHidden("sh -c \"exit 3\"", nullptr);
  const auto after = std::signal(SIGCHLD, previous);
  EXPECT_TRUE(outcome);
  EXPECT_EQ(outcome.value_or(~0u), 3u);
  EXPECT_EQ(after, SIG_IGN);
}

}  // namespace
}  // namespace qlx
