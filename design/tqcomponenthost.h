// How a form built in Qt Designer holds the library's non-visual components.
//
// Designer and uic place widgets only. Each component therefore sits on a
// form inside a small host widget: the host creates its component, gives
// it to the form it is placed on (the component's owner is the form, as the
// binding component expects), keeps the component's name equal to its own
// and destroys the component with itself. At run time the host is hidden
// and takes no room; in the designer it shows as an icon with its name.
//
// The form is the widget the designed form was built on (the widget uic's
// setupUi ran on), which need not be a window: a designed panel used inside
// a main window is a form of its own, with its own components and controls.
#pragma once

#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <functional>

#include "binding/tqopcgui.h"
#include "core/tcomponent.h"
#include "core/tqopcserver.h"
#include "core/tqopcserverbrowser.h"

class TqComponentHost : public QWidget {
  Q_OBJECT

 public:
  /// Destroys the component.
  ~TqComponentHost() override;

  /// The held component; owned by the host, null only once something else
  /// destroyed it.
  TComponent* Component() const { return component_.data(); }
  /// The form the component belongs to: FormFor the widget the host was
  /// created on, or the form given to SetDesigning.
  QWidget* Form() const { return form_.data(); }

  /// The form of a host created on parent: the nearest widget from parent
  /// upwards that is a window or not a part of a form. Parts are Qt's own
  /// container widgets (exactly QGroupBox, QFrame, QScrollArea, QToolBox,
  /// QStackedWidget, QTabWidget, QDockWidget, QMdiArea) and plain QWidget
  /// pages inside them or in a main window; a widget of a class of its own
  /// (a form class) is a form. Null for a null parent.
  static QWidget* FormFor(QWidget* parent);

  /// Puts the host into the designer for form (the designed form's main
  /// container): the component moves to form and is marked csDesigning, and
  /// the host shows as an icon. Called again when the designer's main
  /// container becomes known.
  void SetDesigning(QWidget* form);
  bool IsDesigning() const { return designing_; }

  /// In the designer: the host was deleted from its form (the designer keeps
  /// it alive for undo) or brought back by undo. While removed the component
  /// belongs to the host, so nothing on the form finds it.
  void SetRemoved(bool removed);
  bool IsRemoved() const { return removed_; }

  /// Whether widget is the form of a host it holds (a run-time form that
  /// need not be a window, or a designed form).
  static bool IsHostForm(const QWidget* widget);

  QSize sizeHint() const override;

 protected:
  /// parent (may be null) is where the host sits; its window is the form.
  explicit TqComponentHost(QWidget* parent);
  /// Takes component (created by the derived host) as the held component.
  void Adopt(TComponent* component);
  /// Called after the component moved to a designed form.
  virtual void Designing() {}
  void paintEvent(QPaintEvent* event) override;

 private:
  QPointer<TComponent> component_;
  QPointer<QWidget> form_;
  bool designing_ = false;
  bool removed_ = false;
};

/// Holds a TqOPCServer; its configuration and its connection settings are
/// the host's properties, so that a designed form stores them.
///
/// Property setters follow uic's naming (set + the property's name): the
/// code uic generates from a designed form calls them directly.
class TqOPCServerHost : public TqComponentHost {
  Q_OBJECT
  // Declared first: Designer writes a form's properties, and uic sets them,
  // in declaration order, so the simple properties below are applied after
  // the configuration text and win over the values it carries.
  Q_PROPERTY(QString Configuration READ Configuration WRITE setConfiguration)
  Q_PROPERTY(QString ServerName READ ServerName WRITE setServerName)
  Q_PROPERTY(QString ComputerName READ ComputerName WRITE setComputerName)
  Q_PROPERTY(QString ClientName READ ClientName WRITE setClientName)
  Q_PROPERTY(bool BatchMode READ BatchMode WRITE setBatchMode)
  Q_PROPERTY(int ConnectDelay READ ConnectDelay WRITE setConnectDelay)
  Q_PROPERTY(bool AutoReconnect READ AutoReconnect WRITE setAutoReconnect)
  Q_PROPERTY(QString Version READ Version WRITE setVersion)
  // The group defaults, one property each: the designer edits no nested
  // objects.
  Q_PROPERTY(
      bool OPCGroupDefaultIsActive READ OPCGroupDefaultIsActive WRITE setOPCGroupDefaultIsActive)
  Q_PROPERTY(int OPCGroupDefaultUpdateRate READ OPCGroupDefaultUpdateRate WRITE
                 setOPCGroupDefaultUpdateRate)
  Q_PROPERTY(
      double OPCGroupDefaultDeadBand READ OPCGroupDefaultDeadBand WRITE setOPCGroupDefaultDeadBand)
  Q_PROPERTY(
      int OPCGroupDefaultLocaleId READ OPCGroupDefaultLocaleId WRITE setOPCGroupDefaultLocaleId)
  Q_PROPERTY(
      int OPCGroupDefaultTimeBias READ OPCGroupDefaultTimeBias WRITE setOPCGroupDefaultTimeBias)
  // Last: applied after every setting, so that at run time it connects with
  // all of them in place.
  Q_PROPERTY(bool Active READ Active WRITE setActive)

 public:
  explicit TqOPCServerHost(QWidget* parent = nullptr);
  /// The held server component, or null once it was destroyed.
  TqOPCServer* Server() const;

  /// The component's whole configuration (groups, items, the group defaults
  /// and the connection settings) as the configuration stream writes it,
  /// lines ending in LF. In
  /// the designer a text read as Active = True that was not connected reads
  /// back as Active = True. A configuration that cannot be saved is reported
  /// through the application facade and reads as empty.
  QString Configuration() const;
  /// Loads text into the component as the configuration stream reads it.
  /// Empty text, and text equal to what Configuration reads (lines ending in
  /// LF or CR LF), change nothing.
  /// Never raises: malformed text (nothing changes), a read error (what was
  /// read before stays, not connected) and a failed connect are reported
  /// through the application facade. At run time Active = True connects; in
  /// the designer it is kept as the designed value without connecting.
  void setConfiguration(const QString& text);

  QString ServerName() const;
  void setServerName(const QString& value);
  QString ComputerName() const;
  void setComputerName(const QString& value);
  QString ClientName() const;
  void setClientName(const QString& value);
  bool BatchMode() const;
  void setBatchMode(bool value);
  int ConnectDelay() const;
  void setConnectDelay(int value);
  bool AutoReconnect() const;
  void setAutoReconnect(bool value);
  QString Version() const;
  void setVersion(const QString& value);
  bool OPCGroupDefaultIsActive() const;
  void setOPCGroupDefaultIsActive(bool value);
  int OPCGroupDefaultUpdateRate() const;
  void setOPCGroupDefaultUpdateRate(int value);
  double OPCGroupDefaultDeadBand() const;
  void setOPCGroupDefaultDeadBand(double value);
  int OPCGroupDefaultLocaleId() const;
  void setOPCGroupDefaultLocaleId(int value);
  int OPCGroupDefaultTimeBias() const;
  void setOPCGroupDefaultTimeBias(int value);

  /// Connected, or in the designer: designed to connect when the form runs.
  bool Active() const;
  /// At run time connects or disconnects (a failure is reported through the
  /// application facade, never raised); a component without a server name
  /// yet connects on the next event-loop turn, when uic has set the texts. In the designer stores
  /// the designed value; false also disconnects a component the designer connected.
  void setActive(bool value);

  /// Runs window (the OPC Inspector) on the component. When it connected or
  /// disconnected the component, the designed Active gives way to the state
  /// the window left: the user decided.
  void EditConnection(const std::function<void()>& window);

 signals:
  // The component's signals, passed on as they are emitted while a receiver
  // is connected here, so that a designed form connects to the host that
  // carries the component's name: Designer's signal/slot editor, "Go to
  // slot..." and connectSlotsByName (on_OPCServer1_dataChanged) see the
  // host. See TqOPCServer (a receiver of writeError stands for a handler).
  void connected();
  void disconnected();
  void error(const QString& message, bool raiseException);
  void serverShutdown(const QString& reason);
  void dataChanged(TqOPCItemList* items);
  void writeComplete(TqOPCItemList* items);
  void writeError(TqOPCItemList* items);

 protected:
  void connectNotify(const QMetaMethod& signal) override;
  void disconnectNotify(const QMetaMethod& signal) override;

 private:
  /// Passes the component's signal on while the host's has a receiver.
  void updateForwarding(const QMetaMethod& signal);

  static constexpr int kForwardedSignals = 7;
  QMetaObject::Connection forwards_[kForwardedSignals];
  // In the designer: the configuration said Active = True, which is kept for
  // the saved form but not connected there.
  bool designedActive_ = false;
};

/// Holds a TqopcServerBrowser.
class TqopcServerBrowserHost : public TqComponentHost {
  Q_OBJECT
  Q_PROPERTY(QString ComputerName READ ComputerName WRITE setComputerName)
  Q_PROPERTY(qOPC::tqopcServerSet Servertype READ Servertype WRITE setServertype)

 public:
  explicit TqopcServerBrowserHost(QWidget* parent = nullptr);
  TqopcServerBrowser* Browser() const;
  QString ComputerName() const;
  void setComputerName(const QString& value);
  tqopcServerSet Servertype() const;
  void setServertype(tqopcServerSet value);
};

/// Holds a TqOPCGUI. Its server is the server component named by the
/// property OPCServer, or else the form's last server component, taken as
/// the binding component's constructor takes it.
///
/// The bindings are the host's property Bindings, one entry per binding:
/// "control|property|group|item", where a '|' or '\' inside a name is
/// written "\|" or "\\". Controls are found by name among the form's
/// controls, which uic may create after it set the property, so names are
/// resolved on the host's first event-loop turn after the bindings were set
/// (ResolveBindings does it at once). At run time that turn also links the
/// binding component to its server, hooking it, when nothing else did.
class TqOPCGUIHost : public TqComponentHost {
  Q_OBJECT
  Q_PROPERTY(QStringList Bindings READ Bindings WRITE setBindings)
  Q_PROPERTY(QString OPCServer READ OPCServer WRITE setOPCServer)

 public:
  explicit TqOPCGUIHost(QWidget* parent = nullptr);
  TqOPCGUI* GUI() const;
  /// Without a server, the binding component takes the last server
  /// component of the form (a server placed after the binding component is
  /// found this way when the designer opens the control selection).
  void PickServer();

  /// The component's bindings in collection order, then the entries not yet
  /// resolved. A binding whose control has no name (or is gone) cannot be
  /// named in a form and is left out.
  QStringList Bindings() const;
  /// Replaces the bindings with entries: the current ones are deleted, the
  /// entries wait for the next event-loop turn (ResolveBindings). Entries
  /// equal to what Bindings reads change nothing. A malformed entry is
  /// reported through the application facade and dropped.
  void setBindings(const QStringList& entries);
  /// Makes a binding of every waiting entry whose control is on the form
  /// (the first control of that name in creation order); entries whose
  /// control is missing are reported and keep waiting (and are still read
  /// back). At run time then links the binding component to the form's
  /// server unless it is hooked already.
  void ResolveBindings();
  /// Whether entries wait for their controls.
  bool HasPendingBindings() const { return !pending_.isEmpty(); }

  /// The name of the linked server component, or the name set that is not
  /// yet found on the form; empty for none.
  QString OPCServer() const;
  /// Links the server component of that name on the form (at run time,
  /// hooking it); one not yet created is linked on the next event-loop turn,
  /// one missing then is reported. Empty: the form's last server component.
  void setOPCServer(const QString& name);

  /// In the designer: widget (with what it holds) was deleted from the form.
  /// The bindings of its controls leave the component, kept aside for
  /// undo; a link to a server component in it is dropped for the form's
  /// last remaining one.
  void FormWidgetRemoved(QWidget* widget);
  /// widget came back (undo) or is new: the bindings kept aside for its
  /// controls return, and a server link dropped for it is restored.
  void FormWidgetRestored(QWidget* widget);

  /// One entry of Bindings for the four names.
  static QString EncodeBinding(const QString& control, const QString& property,
                               const QString& group, const QString& item);
  /// The four names of entry; false for an entry without exactly four
  /// fields or with a '\' that escapes nothing.
  static bool DecodeBinding(const QString& entry, QStringList& fields);

 protected:
  /// Links the named server, or the form's last one, once the designed form
  /// is known.
  void Designing() override;

 private:
  void scheduleResolve();
  /// The form's server component named name (not a removed one), or null.
  TqOPCServer* findServer(const QString& name) const;

  QList<QStringList> pending_;  // decoded entries waiting for their controls
  bool resolveScheduled_ = false;
  QString serverName_;  // the server set by name; empty: the form's last one
  // Bindings of controls the designer deleted, until undo brings them back.
  struct Parked {
    QPointer<QWidget> control;
    QStringList fields;  // control, property, group, item
  };
  QList<Parked> parked_;
  QPointer<TqOPCServer> droppedServer_;  // unlinked because its host was deleted
};
