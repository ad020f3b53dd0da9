// TqOPCServer's reconnect. With AutoReconnect, a connection the server ended
// is made again by the connect sequence itself, so every group and item goes
// back on the server and OnConnect fires as after any connect. Retries wait
// on a timer of the component's thread, the pause doubling up to a cap; a
// failed retry leaves nothing of itself behind.
//
// Reporting: the first failed retry of an outage goes the way a failed
// connect goes (OnError for the component's own faults, then the exception,
// which here has no caller and goes to the application's exception handler);
// later ones are only logged, so a server that stays away for an hour does
// not bring up a message box every 30 seconds.
#include <QMetaProperty>
#include <QPointer>
#include <QTimerEvent>
#include <algorithm>
#include <exception>

#include "application.h"
#include "exceptions.h"
#include "qopclogging.h"
#include "tqopcserver.h"

void TqOPCServer::SetAutoReconnect(bool value) {
  autoReconnect_ = value;
  if (!value && reconnecting_) stopReconnect();
}

void TqOPCServer::SetReconnectBackoff(std::chrono::milliseconds first,
                                      std::chrono::milliseconds cap) {
  firstRetryDelay_ = std::max(first, std::chrono::milliseconds(0));
  maxRetryDelay_ = std::max(cap, firstRetryDelay_);
}

bool TqOPCServer::IsPropertyStored(const QMetaProperty& property) const {
  // Files saved before the property existed stay as they were.
  if (qstrcmp(property.name(), "AutoReconnect") == 0) return autoReconnect_;
  return TComponent::IsPropertyStored(property);
}

void TqOPCServer::connectionLost(quint64 choices) {
  // A handler of the shutdown events that set Active itself has decided.
  if (!autoReconnect_ || choices != choices_ || active_ || IsDestroying() || IsLoading()) return;
  retries_ = 0;
  outageReported_ = false;
  qCInfo(lcOpc) << "connection to" << serverName_ << "lost, reconnecting";
  scheduleRetry();
  if (!reconnecting_) {
    reconnecting_ = true;
    emit reconnectingChanged(true);
  }
}

void TqOPCServer::scheduleRetry() {
  auto delay = firstRetryDelay_;
  for (int i = 0; i < retries_ && delay < maxRetryDelay_; ++i) delay *= 2;
  delay = std::min(delay, maxRetryDelay_);
  qCDebug(lcOpc) << "next reconnect attempt in" << delay.count() << "ms";
  retryTimer_.start(int(delay.count()), this);
}

void TqOPCServer::timerEvent(QTimerEvent* event) {
  if (event->timerId() != retryTimer_.timerId()) {
    TComponent::timerEvent(event);
    return;
  }
  retryTimer_.stop();
  // Nothing may escape into the event loop.
  const QPointer<TqOPCServer> alive(this);
  try {
    retryConnect();
  } catch (const std::exception& e) {
    Application().HandleException(alive.data(), e);
  } catch (...) {
    Application().HandleException(alive.data(), Exception(QStringLiteral("unknown error")));
  }
}

void TqOPCServer::retryConnect() {
  qCInfo(lcOpc) << "reconnect attempt" << retries_ + 1 << "to" << serverName_;
  const quint64 choices = choices_;
  const QPointer<TqOPCServer> alive(this);
  std::exception_ptr failure;
  bool made = false;
  quietFaults_ = outageReported_;
  try {
    made = makeConnection();
  } catch (...) {
    failure = std::current_exception();
  }
  if (!alive) return;  // an OnError handler destroyed the component
  quietFaults_ = false;
  // An OnError handler that set Active itself has taken over.
  if (choices != choices_) return;
  if (made) {
    qCInfo(lcOpc) << "reconnected to" << serverName_;
    // The outage is over also when OnConnect raises.
    const auto over = [&] {
      if (!alive || !reconnecting_) return;  // an OnConnect handler took over
      reconnecting_ = false;
      emit reconnectingChanged(false);
    };
    try {
      announceConnection();
    } catch (...) {
      over();
      throw;
    }
    over();
    return;
  }
  retryFailed(failure);
}

void TqOPCServer::retryFailed(const std::exception_ptr& failure) {
  ++retries_;
  // A retry that got as far as the server keeps nothing of it.
  if (server_ || active_) {
    active_ = false;
    try {
      RemoveServerInterface();
    } catch (const std::exception& e) {
      qCInfo(lcOpc) << "letting go of a failed reconnect:" << e.what();
    }
  }
  const quint64 choices = choices_;
  const QPointer<TqOPCServer> alive(this);
  if (!outageReported_) {
    // A failure without exception was a fault OnError silenced: heard already.
    outageReported_ = true;
    if (failure) {
      try {
        std::rethrow_exception(failure);
      } catch (const std::exception& e) {
        qCInfo(lcOpc) << "reconnect failed:" << e.what();
        Application().HandleException(this, e);
      } catch (...) {
        Application().HandleException(this, Exception(QStringLiteral("unknown error")));
      }
    }
  } else if (failure) {
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& e) {
      qCInfo(lcOpc) << "reconnect failed again:" << e.what();
    } catch (...) {
      qCInfo(lcOpc) << "reconnect failed again";
    }
  }
  // The exception handler may run a dialog, in which the application can
  // disconnect or destroy the component.
  if (!alive || choices != choices_ || !reconnecting_) return;
  scheduleRetry();
}

void TqOPCServer::stopReconnect() {
  retryTimer_.stop();
  if (!reconnecting_) return;
  reconnecting_ = false;
  qCInfo(lcOpc) << "reconnect to" << serverName_ << "stopped";
  if (!IsDestroying()) emit reconnectingChanged(false);
}
