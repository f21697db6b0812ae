#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qlx {

// What the patch sequence shares with an interruption (Ctrl+C, a closed
// console, SIGTERM), which is handled on another thread: one lock orders the
// log entries, the service requests and the claim on the service start
// between the two. Once an interruption is taken, the sequence starts no
// further step; the interruption restores the service and ends the process.
class RunControl {
 public:
  using Lock = std::unique_lock<std::recursive_mutex>;

  // Held while one log entry is written, and around each service request.
  Lock Hold() { return Lock(mutex_); }

  // A fresh run: no start requested yet.
  void Begin();
  // Returns when no interruption has been taken. After one, the calling
  // thread waits for good (the process ends around it). `held` is the lock,
  // held once, that a step took to check and act at one go.
  void ContinueUnlessInterrupted();
  void ContinueUnlessInterrupted(Lock& held);

  // Asks for the service to be stopped, logging "Stopping QLX service..." and
  // the outcome.
  void StopService();
  // Asks for the service to be started, logging "Starting QLX service..."
  // and the outcome, unless that was asked for already in this run.
  void StartService(std::chrono::milliseconds stop_pending_limit);

  // The first interruption: logs "QLXPatch - Run interrupted (<what>)",
  // deletes the password tool's output files, and asks for the service to be
  // started unless the sequence did. A further interruption does nothing.
  void Interrupt(const char* what);

 private:
  std::recursive_mutex mutex_;
  std::condition_variable_any never_;
  bool interrupted_ = false;
  bool start_requested_ = false;
};

// The run of this process.
RunControl& ThisRun();

}  // namespace qlx
