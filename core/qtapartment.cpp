#include "qtapartment.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QTimer>
#include <deque>
#include <mutex>

namespace {

// Posted tasks wait in a queue of the receiving object, guarded by a mutex
// of their own; each posted event runs the oldest task. The task is handed
// over under that mutex and destroyed where it ran, so the hand-over does not
// depend on how the event loop synchronises internally (which the thread
// sanitizer cannot see into).
class TaskReceiver final : public QObject {
 public:
  void post(opc::Apartment::Task task) {
    {
      std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    QCoreApplication::postEvent(this, new QEvent(runType()));
  }

 protected:
  bool event(QEvent* e) override {
    if (e->type() != runType()) return QObject::event(e);
    opc::Apartment::Task task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) return true;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
    return true;
  }

 private:
  static QEvent::Type runType() {
    static const QEvent::Type registered = QEvent::Type(QEvent::registerEventType());
    return registered;
  }

  std::mutex mutex_;
  std::deque<opc::Apartment::Task> tasks_;
};

}  // namespace

void QtApartment::ContextDeleter::operator()(QObject* context) const {
  if (context->thread() == QThread::currentThread())
    std::unique_ptr<QObject>{context};  // takes the timers (its children) with it
  else
    context->deleteLater();
}

QtApartment::QtApartment() : context_(std::make_unique<TaskReceiver>().release()) {}

QtApartment::~QtApartment() = default;

void QtApartment::post(Task task) {
  if (!context_) return;
  static_cast<TaskReceiver*>(context_.get())->post(std::move(task));
}

bool QtApartment::isCurrentThread() const {
  return context_ && context_->thread() == QThread::currentThread();
}

opc::Apartment::TimerId QtApartment::startTimer(std::chrono::milliseconds interval, Task tick) {
  TimerId id;
  {
    std::lock_guard lock(mutex_);
    id = nextTimer_++;
  }
  if (isCurrentThread()) {
    createTimer(id, interval, std::move(tick));
  } else {
    // The timer must be made in its thread; keep the apartment alive until then.
    auto self = std::static_pointer_cast<QtApartment>(shared_from_this());
    post([self, id, interval, tick = std::move(tick)]() mutable {
      self->createTimer(id, interval, std::move(tick));
    });
  }
  return id;
}

void QtApartment::stopTimer(TimerId id) {
  if (isCurrentThread()) {
    destroyTimer(id);
  } else {
    auto self = std::static_pointer_cast<QtApartment>(shared_from_this());
    post([self, id] { self->destroyTimer(id); });
  }
}

void QtApartment::createTimer(TimerId id, std::chrono::milliseconds interval, Task tick) {
  if (stoppedEarly_.erase(id)) return;
  auto* timer = new QTimer(context_.get());  // owned by the context object
  timer->setInterval(interval);
  QObject::connect(timer, &QTimer::timeout, timer, [tick = std::move(tick)] { tick(); });
  timers_[id] = timer;
  timer->start();
}

void QtApartment::destroyTimer(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) {
    std::lock_guard lock(mutex_);
    if (id < nextTimer_) stoppedEarly_.insert(id);
    return;
  }
  if (it->second) {
    it->second->stop();
    std::unique_ptr<QTimer>{it->second.data()};
  }
  timers_.erase(it);
}

std::shared_ptr<opc::Apartment> installQtApartment() {
  if (auto current = opc::Apartment::current()) return current;
  auto apartment = std::make_shared<QtApartment>();
  opc::Apartment::setCurrent(apartment);
  return apartment;
}
