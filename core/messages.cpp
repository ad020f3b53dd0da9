#include "messages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include "tqopcitemlist.h"

namespace {

QEvent::Type messageEventType() {
  static const auto type = QEvent::Type(QEvent::registerEventType());
  return type;
}

// A posted message. The list it may carry is owned by the event until the
// window takes it for the window procedure, so a message dropped unhandled
// frees it too.
class TMessageEvent final : public QEvent {
 public:
  TMessageEvent(UINT msg, WPARAM wParam, LPARAM lParam, std::unique_ptr<TqOPCItemList> list)
      : QEvent(messageEventType()), message{msg, wParam, lParam, 0}, list(std::move(list)) {}

  TMessage message;
  std::unique_ptr<TqOPCItemList> list;
};

}  // namespace

THiddenWindow::THiddenWindow(TWndMethod method) : method_(std::move(method)) {
  setObjectName(QStringLiteral("qOPCHiddenWindow"));
}

THiddenWindow::~THiddenWindow() = default;

void THiddenWindow::Dispatch(TMessage& message) {
  // A copy: a handler may destroy the component and with it this window.
  const TWndMethod method = method_;
  if (method) method(message);
}

bool THiddenWindow::event(QEvent* event) {
  if (event->type() != messageEventType()) return QObject::event(event);
  auto* posted = static_cast<TMessageEvent*>(event);
  // Freed when the procedure is done with it, whatever happens inside.
  const std::unique_ptr<TqOPCItemList> list = std::move(posted->list);
  // An event handler must not let an exception into the event loop; the
  // component's window procedure catches its own, this is the last guard.
  try {
    Dispatch(posted->message);
  } catch (...) {
  }
  return true;
}

std::unique_ptr<THiddenWindow> AllocateHWnd(TWndMethod method, QThread* thread) {
  auto window = std::make_unique<THiddenWindow>(std::move(method));
  if (thread && thread != QThread::currentThread()) window->moveToThread(thread);
  return window;
}

bool PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!window) return false;
  // The event loop takes the event and deletes it once handled or dropped.
  QCoreApplication::postEvent(
      window, std::make_unique<TMessageEvent>(msg, wParam, lParam, nullptr).release());
  return true;
}

bool PostMessage(HWND window, UINT msg, WPARAM wParam, std::unique_ptr<TqOPCItemList> list) {
  if (!window) return false;
  const auto lParam = reinterpret_cast<LPARAM>(list.get());
  QCoreApplication::postEvent(
      window, std::make_unique<TMessageEvent>(msg, wParam, lParam, std::move(list)).release());
  return true;
}

LRESULT SendMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!window || window->thread() != QThread::currentThread()) return 0;
  TMessage message{msg, wParam, lParam, 0};
  window->Dispatch(message);
  return message.Result;
}
