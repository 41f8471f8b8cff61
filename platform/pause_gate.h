// A gate that threads wait at while it is closed: the reading loops of an
// analysis wait here while the volume's medium is away, instead of being
// suspended from outside.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace qm {

class CPauseGate {
public:
  // True when the gate changed (it was open / closed before).
  bool Close();
  bool Open();
  bool IsOpen() const;
  // Waits until the gate opens or `keepWaiting` turns false, asking it and
  // `poll` (when given; true opens the gate) every `sliceMs`. True when the
  // gate is open on return.
  bool WaitOpen(const std::function<bool()>& keepWaiting, uint32_t sliceMs = 250,
                const std::function<bool()>& poll = nullptr);
  // Threads waiting now (tests wait for a reader to reach the gate).
  int Waiters() const;

private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = true;
  int waiters_ = 0;
};

}  // namespace qm
