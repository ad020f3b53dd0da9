// How a form built in Qt Designer holds the library's non-visual components.
//
// Designer and uic place widgets only. Each component therefore sits on a
// form inside a small host widget: the host creates its component, gives
// it to the form it is placed on (the component's owner is the form, as the
// binding component expects), keeps the component's name equal to its own
// and destroys the component with itself. At run time the host is hidden
// and takes no room; in the designer it shows as an icon with its name.
#pragma once

#include <QPointer>
#include <QWidget>

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
  /// The form the component belongs to: the top-level widget the host was
  /// created on, or the form given to SetDesigning.
  QWidget* Form() const { return form_.data(); }

  /// Puts the host into the designer for form (the designed form's main
  /// container): the component moves to form and is marked csDesigning, and
  /// the host shows as an icon.
  void SetDesigning(QWidget* form);
  bool IsDesigning() const { return designing_; }

  /// Whether widget is a form a host was put into the designer for.
  static bool IsDesignerForm(const QWidget* widget);

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
};

/// Holds a TqOPCServer; its connection settings are the host's properties,
/// so that a designed form stores them.
class TqOPCServerHost : public TqComponentHost {
  Q_OBJECT
  Q_PROPERTY(QString ServerName READ ServerName WRITE SetServerName)
  Q_PROPERTY(QString ComputerName READ ComputerName WRITE SetComputerName)
  Q_PROPERTY(QString ClientName READ ClientName WRITE SetClientName)
  Q_PROPERTY(bool BatchMode READ BatchMode WRITE SetBatchMode)
  Q_PROPERTY(int ConnectDelay READ ConnectDelay WRITE SetConnectDelay)

 public:
  explicit TqOPCServerHost(QWidget* parent = nullptr);
  /// The held server component, or null once it was destroyed.
  TqOPCServer* Server() const;

  QString ServerName() const;
  void SetServerName(const QString& value);
  QString ComputerName() const;
  void SetComputerName(const QString& value);
  QString ClientName() const;
  void SetClientName(const QString& value);
  bool BatchMode() const;
  void SetBatchMode(bool value);
  int ConnectDelay() const;
  void SetConnectDelay(int value);
};

/// Holds a TqopcServerBrowser.
class TqopcServerBrowserHost : public TqComponentHost {
  Q_OBJECT
  Q_PROPERTY(QString ComputerName READ ComputerName WRITE SetComputerName)

 public:
  explicit TqopcServerBrowserHost(QWidget* parent = nullptr);
  TqopcServerBrowser* Browser() const;
  QString ComputerName() const;
  void SetComputerName(const QString& value);
};

/// Holds a TqOPCGUI. Its server is the form's last server component, taken
/// as the binding component's constructor takes it.
class TqOPCGUIHost : public TqComponentHost {
  Q_OBJECT

 public:
  explicit TqOPCGUIHost(QWidget* parent = nullptr);
  TqOPCGUI* GUI() const;
  /// Without a server, the binding component takes the last server
  /// component of the form (a server placed after the binding component is
  /// found this way when the designer opens the control selection).
  void PickServer();

 protected:
  void Designing() override { PickServer(); }
};
