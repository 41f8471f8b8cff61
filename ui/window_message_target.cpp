#include "ui/window_message_target.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QTimer>

#include "engine/catalog/found_object.h"
#include "engine/catalog/found_object_tree.h"
#include "engine/volume/volume.h"
#include "platform/messages.h"

namespace {

const QEvent::Type kWorkerMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kFoundObjectsEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kLogLinesEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class CWorkerMessageEvent : public QEvent {
public:
  CWorkerMessageEvent(uint32_t message, uintptr_t wParam, intptr_t lParam)
      : QEvent(kWorkerMessageEvent), Message(message), WParam(wParam), LParam(lParam) {}
  uint32_t Message;
  uintptr_t WParam;
  intptr_t LParam;
};

}  // namespace

void IWindowMessageReceiver::OnLogLines(const std::vector<const std::string*>& lines) {
  for (const std::string* line : lines) OnWindowMessage(WM_LOG_LINE, reinterpret_cast<uintptr_t>(line), 0);
}

CWindowMessageTarget::CWindowMessageTarget(QObject* parent) : QObject(parent) {}

CWindowMessageTarget::~CWindowMessageTarget() = default;

void CWindowMessageTarget::SetReceiver(IWindowMessageReceiver* receiver) { receiver_ = receiver; }

void CWindowMessageTarget::PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == WM_FOUND_OBJECT) {
    // On the worker that made the object: it is alive here.
    auto* object = reinterpret_cast<CFoundObject*>(wParam);
    CVolume* volume = object ? object->Volume : nullptr;
    const uint64_t generation = volume ? volume->Catalog().Generation() : 0;
    std::lock_guard lock(mutex_);
    found_.push_back({{object, lParam}, volume, generation});
    if (foundEventPending_) return;
    foundEventPending_ = true;
    QCoreApplication::postEvent(this, new QEvent(kFoundObjectsEvent));
    return;
  }
  if (message == WM_LOG_LINE) {
    std::lock_guard lock(mutex_);
    logLines_.push_back(reinterpret_cast<const std::string*>(wParam));
    if (logEventPending_) return;
    logEventPending_ = true;
    QCoreApplication::postEvent(this, new QEvent(kLogLinesEvent));
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

template <class T>
bool CWindowMessageTarget::TakeGathered(std::vector<T>& gathered, bool& eventPending, std::vector<T>& out,
                                        void (CWindowMessageTarget::*retry)()) {
  // The workers run at the lowest priority: on a busy machine one of them
  // may be descheduled while it holds the lock. The interface thread does
  // not wait for it but comes back a moment later.
  std::unique_lock lock(mutex_, std::try_to_lock);
  if (!lock.owns_lock()) {
    QTimer::singleShot(2, this, [this, retry] { (this->*retry)(); });
    return false;
  }
  out.swap(gathered);
  eventPending = false;
  return true;
}

void CWindowMessageTarget::DeliverFoundObjects() {
  std::vector<PendingNotice> pending;
  if (!TakeGathered(found_, foundEventPending_, pending, &CWindowMessageTarget::DeliverFoundObjects)) return;
  std::vector<FoundObjectNotice> batch;
  batch.reserve(pending.size());
  for (const PendingNotice& p : pending)
    if (!p.volume || p.volume->Catalog().Generation() == p.generation) batch.push_back(p.notice);
  sinceDelivery_.start();
  if (!batch.empty() && receiver_) receiver_->OnFoundObjects(batch);
}

void CWindowMessageTarget::DeliverLogLines() {
  std::vector<const std::string*> lines;
  if (!TakeGathered(logLines_, logEventPending_, lines, &CWindowMessageTarget::DeliverLogLines)) return;
  if (!lines.empty() && receiver_) receiver_->OnLogLines(lines);
}

bool CWindowMessageTarget::event(QEvent* event) {
  if (event->type() == kLogLinesEvent) {
    DeliverLogLines();
    return true;
  }
  if (event->type() == kFoundObjectsEvent) {
    // A scan finds files faster than anyone reads them: the views take them
    // in a few times a second, so each row insertion and relayout of a long
    // list is paid once per batch and not once per handful of files.
    const qint64 since = sinceDelivery_.isValid() ? sinceDelivery_.elapsed() : kBatchIntervalMs;
    if (since < kBatchIntervalMs) QTimer::singleShot(int(kBatchIntervalMs - since), this, [this] { DeliverFoundObjects(); });
    else DeliverFoundObjects();
    return true;
  }
  if (event->type() == kWorkerMessageEvent) {
    auto* m = static_cast<CWorkerMessageEvent*>(event);
    // Found objects posted before this message are handled first, so the
    // views see every object of a phase before its end. A log line or a
    // status text ends nothing: the found objects keep their batch.
    if (m->Message != WM_LOG_LINE && m->Message != WM_STATUS_TEXT) DeliverFoundObjects();
    if (receiver_) receiver_->OnWindowMessage(m->Message, m->WParam, m->LParam);
    return true;
  }
  return QObject::event(event);
}
