#include "ui/window_message_target.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include "platform/messages.h"

namespace {

const QEvent::Type kWorkerMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kFoundObjectsEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class CWorkerMessageEvent : public QEvent {
public:
  CWorkerMessageEvent(uint32_t message, uintptr_t wParam, intptr_t lParam)
      : QEvent(kWorkerMessageEvent), Message(message), WParam(wParam), LParam(lParam) {}
  uint32_t Message;
  uintptr_t WParam;
  intptr_t LParam;
};

}  // namespace

CWindowMessageTarget::CWindowMessageTarget(QObject* parent) : QObject(parent) {}

CWindowMessageTarget::~CWindowMessageTarget() = default;

void CWindowMessageTarget::SetReceiver(IWindowMessageReceiver* receiver) { receiver_ = receiver; }

void CWindowMessageTarget::PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == WM_FOUND_OBJECT) {
    std::lock_guard lock(mutex_);
    found_.emplace_back(reinterpret_cast<CFoundObject*>(wParam), lParam);
    if (foundEventPending_) return;
    foundEventPending_ = true;
    QCoreApplication::postEvent(this, new QEvent(kFoundObjectsEvent));
    return;
  }
  QCoreApplication::postEvent(this, new CWorkerMessageEvent(message, wParam, lParam));
}

intptr_t CWindowMessageTarget::SendMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (QThread::currentThread() == thread()) return receiver_ ? receiver_->OnWindowMessage(message, wParam, lParam) : 0;
  PostMessage(message, wParam, lParam);
  return 0;
}

void CWindowMessageTarget::Flush() {
  QCoreApplication::sendPostedEvents(this);
  DeliverFoundObjects();
}

void CWindowMessageTarget::DeliverFoundObjects() {
  std::vector<FoundObjectNotice> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(found_);
    foundEventPending_ = false;
  }
  if (!batch.empty() && receiver_) receiver_->OnFoundObjects(batch);
}

bool CWindowMessageTarget::event(QEvent* event) {
  if (event->type() == kFoundObjectsEvent) {
    DeliverFoundObjects();
    return true;
  }
  if (event->type() == kWorkerMessageEvent) {
    auto* m = static_cast<CWorkerMessageEvent*>(event);
    // Found objects posted before this message are handled first, so the
    // views see every object of a phase before its end.
    DeliverFoundObjects();
    if (receiver_) receiver_->OnWindowMessage(m->Message, m->WParam, m->LParam);
    return true;
  }
  return QObject::event(event);
}
