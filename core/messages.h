// Window messages of the library: the hidden message receiver a server
// component owns, the message ids the data sinks and the shutdown callback
// post to it, and the posting and sending routines.
//
// A hidden window is a QObject living on the thread that owns the component.
// Posting a message queues a Qt event carrying (id, wParam, lParam) for it;
// the thread's event loop hands the messages to the window procedure one by
// one, in posting order. Posting is safe from any thread.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>

#include "opc/comtypes.h"

class TqOPCItemList;

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

inline constexpr UINT WM_QUERYENDSESSION = 0x0011;
inline constexpr UINT WM_USER = 0x0400;

/// A server shutdown request (wParam the component's connection it concerns,
/// 0 for whichever is current; lParam 0).
inline constexpr UINT CM_OPCSHUTDOWN = WM_USER + 1;
/// Items of a group changed (wParam the group's ID, lParam a TqOPCItemList).
inline constexpr UINT CM_OPCDATACHANGE = WM_USER + 2;
/// An asynchronous write completed with item errors (wParam 0, lParam a
/// TqOPCItemList).
inline constexpr UINT CM_OPCWRITEERROR = WM_USER + 3;
/// An asynchronous write completed without item errors (wParam 0, lParam a
/// TqOPCItemList).
inline constexpr UINT CM_OPCWRITECOMPLETE = WM_USER + 4;

/// One message as a window procedure sees it. Result starts at 0.
struct TMessage {
  UINT Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};

/// A window procedure: handles one message and sets its Result.
using TWndMethod = std::function<void(TMessage&)>;

/// The hidden message receiver. It hands every message posted or sent to it
/// to its window procedure on the thread it lives in. Messages still queued
/// when it is destroyed are dropped, and the lists they carry freed.
class THiddenWindow final : public QObject {
  Q_OBJECT

 public:
  explicit THiddenWindow(TWndMethod method);
  ~THiddenWindow() override;

  /// Calls the window procedure with message (on the window's thread).
  void Dispatch(TMessage& message);

 protected:
  bool event(QEvent* event) override;

 private:
  TWndMethod method_;
};

/// A window handle: the hidden window, not owned.
using HWND = THiddenWindow*;

/// A hidden window on the calling thread with method as its window
/// procedure, moved to thread when given (another thread may make it; it
/// then belongs to thread from the start). Owned by the caller.
std::unique_ptr<THiddenWindow> AllocateHWnd(TWndMethod method, QThread* thread = nullptr);

/// Queues the message for window; false (nothing queued) for a null window.
/// Safe from any thread while the window exists.
bool PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
/// Queues a message carrying list as lParam. The list travels with the
/// message and is freed once the window procedure has handled it, on every
/// path (also when the procedure raises, and when the message is never
/// handled because the window is destroyed first). A null window frees the
/// list at once and returns false.
bool PostMessage(HWND window, UINT msg, WPARAM wParam, std::unique_ptr<TqOPCItemList> list);
/// Hands the message to the window procedure at once and returns its Result.
/// Only on the window's own thread; elsewhere (and for a null window)
/// nothing is called and the result is 0.
LRESULT SendMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
