// SIGINT, SIGTERM and SIGHUP are blocked in every thread and taken by sigwait
// on a thread of their own, so no code of ours runs in a signal handler; that
// thread marks the run and writes to an eventfd that the program's thread
// polls in its waits. The program's thread ends the process, after its
// clean-up, by raising the first signal again at its default action.
#include "platform/interruption.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "platform/posix/interruption.h"
#include "platform/text.h"

namespace qlx::platform {
namespace {

constexpr NumberText<int> kInterruptions[] = {
    {SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};

std::atomic<int> first_signal{0};

// Made once and kept for the life of the process.
int WakeFd() {
  static const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  return fd;
}

bool StartedIgnored(int signal_number) {
  struct sigaction current {};
  return ::sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

const char* NameOf(int signal_number) {
  const char* name = TextOfNumber(kInterruptions, signal_number);
  return name ? name : "signal";
}

}  // namespace

int posix::InterruptionFd() { return WakeFd(); }

void posix::DrainInterruptions() {
  std::uint64_t count = 0;
  while (::read(WakeFd(), &count, sizeof count) > 0) {
  }
}

void WakeProgramThread() {
  const std::uint64_t one = 1;
  // Fails only when the counter is full, and then it is readable anyway.
  [[maybe_unused]] const ssize_t written = ::write(WakeFd(), &one, sizeof one);
}

bool WaitForInterruptions(std::chrono::milliseconds limit, int count) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + limit;
  while (Interruptions() < count) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd wake{WakeFd(), POLLIN, 0};
    if (::poll(&wake, 1, static_cast<int>(left.count())) > 0) posix::DrainInterruptions();
  }
  return true;
}

void HandleInterruptions(InterruptionHandler handler) {
  // A write to a pipe whose reader is gone then fails and is handled, instead
  // of ending the run; children get SIGPIPE back at its default.
  ::signal(SIGPIPE, SIG_IGN);
  WakeFd();
  sigset_t watched;
  sigemptyset(&watched);
  for (const NumberText<int>& interruption : kInterruptions) {
    if (!StartedIgnored(interruption.number)) sigaddset(&watched, interruption.number);
  }
  // Threads started from now on inherit the mask; children get a clear one.
  if (::pthread_sigmask(SIG_BLOCK, &watched, nullptr) != 0) return;
  std::thread([watched, handler] {
    for (;;) {
      int signal_number = 0;
      if (::sigwait(&watched, &signal_number) != 0) continue;
      int none = 0;
      first_signal.compare_exchange_strong(none, signal_number);
      handler(NameOf(signal_number), false);
    }
  }).detach();
}

void EndAsInterrupted() {
  const int signal_number = first_signal.load() != 0 ? first_signal.load() : SIGTERM;
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  sigemptyset(&defaults.sa_mask);
  ::sigaction(signal_number, &defaults, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal_number);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal_number);
  // Not reached: the default action of all three ends the process.
  std::_Exit(128 + signal_number);
}

}  // namespace qlx::platform
