#include "platform/pause_gate.h"

#include <chrono>

namespace qm {

bool CPauseGate::Close() {
  std::lock_guard lock(mutex_);
  const bool changed = open_;
  open_ = false;
  return changed;
}

bool CPauseGate::Open() {
  bool changed;
  {
    std::lock_guard lock(mutex_);
    changed = !open_;
    open_ = true;
  }
  cv_.notify_all();
  return changed;
}

bool CPauseGate::IsOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

int CPauseGate::Waiters() const {
  std::lock_guard lock(mutex_);
  return waiters_;
}

bool CPauseGate::WaitOpen(const std::function<bool()>& keepWaiting, uint32_t sliceMs,
                          const std::function<bool()>& poll) {
  std::unique_lock lock(mutex_);
  ++waiters_;
  while (!open_) {
    // The stop flags and the poll are asked outside the lock: they may take
    // time (a poll opens the device) or call back into the gate.
    lock.unlock();
    const bool goOn = !keepWaiting || keepWaiting();
    const bool back = goOn && poll && poll();
    lock.lock();
    if (!goOn) break;
    if (back) {
      open_ = true;
      cv_.notify_all();
      break;
    }
    cv_.wait_for(lock, std::chrono::milliseconds(sliceMs), [this] { return open_; });
  }
  --waiters_;
  return open_;
}

}  // namespace qm
