#include "qtapartment.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

void QtApartment::ContextDeleter::operator()(QObject* context) const {
  if (context->thread() == QThread::currentThread())
    std::unique_ptr<QObject>{context};  // takes the timers (its children) with it
  else
    context->deleteLater();
}

QtApartment::QtApartment() : context_(std::make_unique<QObject>().release()) {}

QtApartment::~QtApartment() = default;

void QtApartment::post(Task task) {
  if (!context_) return;
  QMetaObject::invokeMethod(context_.get(), std::move(task), Qt::QueuedConnection);
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
