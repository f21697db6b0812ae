// Interruptions on Linux: SIGINT, SIGTERM and SIGHUP are blocked in every
// thread and taken by sigwait on a thread of their own. After the handler, the
// signal is raised again at its default action, so that the process ends as
// one killed by it.
#include "platform/interruption.h"

#include <pthread.h>
#include <signal.h>

#include <exception>
#include <thread>

#include "platform/text.h"

namespace qlx::platform {
namespace {

constexpr NumberText<int> kInterruptions[] = {
    {SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};

bool StartedIgnored(int signal_number) {
  struct sigaction current {};
  return ::sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

const char* NameOf(int signal_number) {
  const char* name = TextOfNumber(kInterruptions, signal_number);
  return name ? name : "signal";
}

[[noreturn]] void EndAsInterruptedBy(int signal_number) {
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
  std::terminate();
}

// A write to a pipe whose reader is gone (stderr closed by whoever started
// us) then fails with EPIPE and is handled, instead of ending the run with
// the service stopped. Children get SIGPIPE back at its default.
void IgnoreBrokenPipes() { ::signal(SIGPIPE, SIG_IGN); }

}  // namespace

void HandleInterruptions(InterruptionHandler handler) {
  IgnoreBrokenPipes();
  sigset_t watched;
  sigemptyset(&watched);
  for (const NumberText<int>& interruption : kInterruptions) {
    if (!StartedIgnored(interruption.number)) sigaddset(&watched, interruption.number);
  }
  // Threads started from now on inherit the mask; children get a clear one.
  if (::pthread_sigmask(SIG_BLOCK, &watched, nullptr) != 0) return;
  std::thread([watched, handler] {
    // A signal after the run has finished is dropped; the next is waited for.
    for (;;) {
      int signal_number = 0;
      while (::sigwait(&watched, &signal_number) != 0) {
      }
      if (handler(NameOf(signal_number), false)) EndAsInterruptedBy(signal_number);
    }
  }).detach();
}

}  // namespace qlx::platform
