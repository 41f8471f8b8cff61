// Where the engine's workers post their messages. The desktop program
// implements it by posting events to its windows; the command line by a
// queue its main thread drains; tests by recording what arrives.
#pragma once

#include <cstdint>

class IMessageTarget {
public:
  virtual ~IMessageTarget() = default;
  // Queues the message and returns at once; callable from any thread.
  virtual void PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
  // Delivers the message and waits for its answer.
  virtual intptr_t SendMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};
