// TEvent: a single-handler event (a component's OnXxx field). Copyable; it
// can be read, replaced, compared for identity and called.
//
// A handler is either a member function of an object - identity is the
// object and the member, so two events made from the same pair are equal - or
// a callable (lambda, function object, plain function) - identity is the
// handler as it was made: copies of one event are equal, two events made from
// the same lambda separately are not, plain functions compare by address.
// A member handler on a QObject is skipped once that object is destroyed,
// and the event then reads as unassigned.
#pragma once

#include <QObject>
#include <QPointer>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <type_traits>
#include <typeinfo>
#include <utility>

template <class... Args>
class TEvent {
 public:
  using Handler = std::function<void(Args...)>;

  /// An unassigned event.
  TEvent() = default;
  TEvent(std::nullptr_t) {}

  /// A member function of obj.
  template <class Obj, class Base>
  TEvent(Obj* obj, void (Base::*method)(Args...)) {
    static_assert(std::is_base_of_v<Base, Obj>, "the method must belong to the object's class");
    if (!obj || !method) return;
    static_assert(sizeof(method) <= sizeof(MemberKey), "member pointer larger than expected");
    key_.object = static_cast<const void*>(obj);
    key_.kind = Kind::Member;
    std::memcpy(key_.member.data(), &method, sizeof(method));
    key_.cls = &typeid(Base);
    Base* target = obj;
    if constexpr (std::is_base_of_v<QObject, Obj>) {
      guard_ = obj;
      guarded_ = true;
    }
    handler_ = std::make_shared<Handler>(
        [target, method](Args... args) { (target->*method)(std::forward<Args>(args)...); });
  }

  /// A plain function; identity is its address.
  TEvent(void (*function)(Args...)) {
    if (!function) return;
    key_.kind = Kind::Function;
    key_.object = reinterpret_cast<const void*>(function);
    handler_ = std::make_shared<Handler>(function);
  }

  /// A lambda or other callable; identity is this event and its copies.
  template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, TEvent> &&
                                              !std::is_pointer_v<std::decay_t<F>> &&
                                              std::is_invocable_v<F&, Args...>>>
  TEvent(F&& callable) : handler_(std::make_shared<Handler>(std::forward<F>(callable))) {
    key_.kind = Kind::Callable;
    key_.object = handler_.get();
  }

  /// True when a handler is assigned and, for a member of a QObject, that
  /// object still exists.
  bool Assigned() const { return handler_ && (!guarded_ || guard_); }
  explicit operator bool() const { return Assigned(); }

  /// Calls the handler; does nothing when unassigned.
  void operator()(Args... args) const {
    if (!Assigned()) return;
    // Held for the call: a handler that clears or replaces its own event (a
    // one-shot OnConnect) or destroys the event's owner runs to its end.
    const std::shared_ptr<const Handler> handler = handler_;
    (*handler)(std::forward<Args>(args)...);
  }

  /// The object a member handler belongs to, or null.
  const void* Data() const { return key_.kind == Kind::Member ? key_.object : nullptr; }

  friend bool operator==(const TEvent& a, const TEvent& b) {
    if (a.key_.kind != b.key_.kind || a.key_.object != b.key_.object) return false;
    if (a.key_.kind != Kind::Member) return true;
    return *a.key_.cls == *b.key_.cls && a.key_.member == b.key_.member;
  }
  friend bool operator==(const TEvent& a, std::nullptr_t) { return !a.Assigned(); }

 private:
  enum class Kind { None, Member, Function, Callable };
  using MemberKey = std::array<unsigned char, 2 * sizeof(void*)>;
  struct Key {
    Kind kind = Kind::None;
    const void* object = nullptr;
    MemberKey member{};
    const std::type_info* cls = nullptr;
  };

  Key key_;
  std::shared_ptr<const Handler> handler_;
  QPointer<QObject> guard_;  // the target of a member handler on a QObject
  bool guarded_ = false;
};

/// An event that only names its sender.
using TNotifyEvent = TEvent<QObject*>;
