// The signals are taken by sigwait on a thread of their own, so no code of
// ours runs in a signal handler. The program's thread is woken through an
// eventfd, and at its end raises the first signal again at its default action.
#include "platform/posix/interruption.h"

#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "platform/interruption.h"
#include "platform/text.h"

namespace qlx::platform {
namespace {

constexpr NumberText<int> kSignals[] = {
    {SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
std::atomic<int> first_signal{0};

}  // namespace

int posix::InterruptionFd() {
  static const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  return fd;
}

void posix::DrainInterruptions() {
  std::uint64_t count = 0;
  while (::read(posix::InterruptionFd(), &count, sizeof count) > 0) {
  }
}

void WakeProgramThread() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(posix::InterruptionFd(), &one, sizeof one);
}

void HandleInterruptions(InterruptionHandler handler) {
  ::signal(SIGPIPE, SIG_IGN);  // a closed pipe fails a write instead of ending the run
  sigset_t watched;
  sigemptyset(&watched);
  for (const NumberText<int>& entry : kSignals) {
    struct sigaction current {};
    ::sigaction(entry.number, nullptr, &current);
    if (current.sa_handler != SIG_IGN) sigaddset(&watched, entry.number);
  }
  if (::pthread_sigmask(SIG_BLOCK, &watched, nullptr) != 0) return;
  std::thread([watched, handler] {
    for (int number = 0;;) {
      if (::sigwait(&watched, &number) != 0) continue;
      if (first_signal == 0) first_signal = number;  // this thread alone writes it
      handler(TextOfNumber(kSignals, number), false);
    }
  }).detach();
}

void EndAsInterrupted() {
  const int number = first_signal.load() != 0 ? first_signal.load() : SIGTERM;
  ::signal(number, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, number);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(number);
  std::_Exit(128 + number);  // not reached
}

}  // namespace qlx::platform
