// The engine's message target for the desktop program: worker threads post
// their window messages here and they arrive on the interface thread as
// queued Qt events, handed to the current main window.
//
// The target lives as long as the process's interface (longer than any one
// main window), so a worker that still holds its pointer across a mode
// switch posts into a live object. Found-object notifications come by the
// ten thousand during a scan: they are gathered into one batch and one
// event, so the interface thread handles them in bulk between repaints; so
// are log lines.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/message_target.h"

struct CFoundObject;
class CVolume;

// One WM_FOUND_OBJECT: the object and the catalog's event code.
using FoundObjectNotice = std::pair<CFoundObject*, intptr_t>;

class IWindowMessageReceiver {
public:
  virtual ~IWindowMessageReceiver() = default;
  virtual intptr_t OnWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
  virtual void OnFoundObjects(const std::vector<FoundObjectNotice>& notices) = 0;
  // Log lines (WM_LOG_LINE) arrive gathered, oldest first; by default each
  // is handled as its own message.
  virtual void OnLogLines(const std::vector<const std::string*>& lines);
};

class CWindowMessageTarget : public QObject, public IMessageTarget {
  Q_OBJECT
public:
  explicit CWindowMessageTarget(QObject* parent = nullptr);
  ~CWindowMessageTarget() override;

  // The window that handles what arrives (null: messages are dropped).
  void SetReceiver(IWindowMessageReceiver* receiver);

  // Thread-safe: queues an event for the interface thread.
  void PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  // On the interface thread the receiver answers at once. From a worker the
  // message is posted and 0 returned without waiting: the only sent message
  // (the status text) needs no answer, and waiting could deadlock a stop
  // that the interface thread is waiting on.
  intptr_t SendMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

  // Delivers everything queued so far (tests and the closing steps).
  void Flush();

protected:
  bool event(QEvent* event) override;

private:
  void DeliverFoundObjects();
  void DeliverLogLines();
  // Takes what the workers gathered; false (and `retry` a moment later)
  // when a worker holds the lock.
  template <class T>
  bool TakeGathered(std::vector<T>& gathered, bool& eventPending, std::vector<T>& out,
                    void (CWindowMessageTarget::*retry)());

  // A notice with the catalog its object belongs to, as it was when posted:
  // a notice that waited while an analysis cleared that catalog names a
  // freed object and is dropped.
  struct PendingNotice {
    FoundObjectNotice notice;
    CVolume* volume;
    uint64_t generation;
  };
  // Found objects reach the views at most this often.
  static constexpr qint64 kBatchIntervalMs = 100;
  QElapsedTimer sinceDelivery_;  // on the interface thread only
  IWindowMessageReceiver* receiver_ = nullptr;
  std::mutex mutex_;
  std::vector<PendingNotice> found_;
  // A scan that logs every file it finds posts lines by the ten thousand:
  // they are gathered like the found objects.
  std::vector<const std::string*> logLines_;
  bool logEventPending_ = false;
  bool foundEventPending_ = false;
};
