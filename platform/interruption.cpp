#include "platform/interruption.h"

#include <algorithm>
#include <atomic>

namespace qlx::platform {

namespace {

constexpr int kFinished = -1;
std::atomic<int> interruptions{0};
std::atomic<const char*> first_name{nullptr};
std::atomic<bool> session_ending{false};

}  // namespace

bool MarkInterrupted(const char* what, bool ending) {
  int count = interruptions.load();
  do {
    if (count == kFinished) return false;
  } while (!interruptions.compare_exchange_weak(count, count + 1));
  const char* none = nullptr;
  first_name.compare_exchange_strong(none, what);
  if (ending) session_ending = true;
  WakeProgramThread();
  return true;
}

void BeginRun() {
  interruptions = 0;
  first_name = nullptr;
  session_ending = false;
}

int Interruptions() { return std::max(interruptions.load(), 0); }
const char* InterruptedBy() { return first_name.load(); }
bool SessionEnding() { return session_ending.load(); }

bool FinishRun() {
  int none = 0;
  return interruptions.compare_exchange_strong(none, kFinished);
}

}  // namespace qlx::platform
