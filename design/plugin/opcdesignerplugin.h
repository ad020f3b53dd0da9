// The Qt Designer plugin: the group "OPC" with the server component, the
// server enumeration component and the binding component (each placed on a
// form inside its host widget), and their task-menu verbs "OPC
// Inspector..." and "OPC to GUI...". The plugin holds only the collection,
// the verbs and thin launchers; the windows are in veze6design.
#pragma once

#include <QAction>
#include <QDesignerTaskMenuExtension>
#include <QExtensionFactory>
#include <QPointer>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#include <functional>

class QDesignerFormEditorInterface;
class QDesignerFormWindowInterface;
class TqComponentHost;

/// One component on the widget box: its host class, header, icon and texts.
class TqOPCComponentInterface : public QObject, public QDesignerCustomWidgetInterface {
  Q_OBJECT
  Q_INTERFACES(QDesignerCustomWidgetInterface)

 public:
  using Factory = std::function<TqComponentHost*(QWidget*)>;
  /// host is the C++ class uic creates, defaultName the name a new one gets
  /// on a form.
  TqOPCComponentInterface(const QMetaObject& host, const QString& defaultName,
                          const QString& toolTip, Factory factory, QObject* parent = nullptr);

  QString name() const override { return hostClass_; }
  QString group() const override { return QStringLiteral("OPC"); }
  QString toolTip() const override { return toolTip_; }
  QString whatsThis() const override { return toolTip_; }
  QString includeFile() const override { return QStringLiteral("design/tqcomponenthost.h"); }
  QIcon icon() const override;
  bool isContainer() const override { return false; }
  /// The host on a new form, and its text properties not for translation
  /// (Configuration edited as several lines).
  QString domXml() const override;
  /// Inside a form window of the designer (initialized with its core), a host
  /// in the designer state, its component owned by the designed form. Outside
  /// form windows (Designer's preview) and for a loader that builds forms at
  /// run time without a designer core, a run-time host: hidden, connecting.
  QWidget* createWidget(QWidget* parent) override;
  bool isInitialized() const override { return initialized_; }
  /// Registers the task-menu verbs with core's extension manager (once for
  /// all components).
  void initialize(QDesignerFormEditorInterface* core) override;

 private:
  const QMetaObject* hostMeta_;
  QString hostClass_;
  QString defaultName_;
  QString toolTip_;
  Factory factory_;
  bool initialized_ = false;
  bool inDesigner_ = false;  // initialized with a designer core
};

/// The plugin's entry object: the three components of the group "OPC".
class TqOPCDesignerWidgets : public QObject, public QDesignerCustomWidgetCollectionInterface {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetCollectionInterface")
  Q_INTERFACES(QDesignerCustomWidgetCollectionInterface)

 public:
  explicit TqOPCDesignerWidgets(QObject* parent = nullptr);
  QList<QDesignerCustomWidgetInterface*> customWidgets() const override { return widgets_; }

 private:
  QList<QDesignerCustomWidgetInterface*> widgets_;
};

/// What a form window does to the hosts on it, told to them: the designed
/// form becoming known while loading, deleting a widget (Designer keeps it
/// for undo) and bringing it back, and layouts, out of which the hosts are
/// taken (a component takes no room on the form). One per form window, its
/// child.
class TqFormWindowWatcher : public QObject {
  Q_OBJECT

 public:
  /// Watches window unless it is watched already.
  static void Watch(QDesignerFormWindowInterface* window);
  /// Takes every host on the form out of the layout it was put in, keeping
  /// its place on the form.
  void KeepHostsOutOfLayouts();

 private:
  explicit TqFormWindowWatcher(QDesignerFormWindowInterface* window);
  void mainContainerChanged(QWidget* form);
  void widgetRemoved(QWidget* widget);
  void widgetManaged(QWidget* widget);

  QDesignerFormWindowInterface* window_;  // our parent
};

/// The verbs of a component's host: "OPC Inspector..." and "Choose
/// Server..." (the server browse dialog, for ServerName) for the server
/// component, "OPC to GUI..." for the binding component; none for others.
/// After a window closes the form window is marked modified and the
/// properties the window changed (the server host's Configuration,
/// ServerName and Active, the binding host's Bindings) are set again through
/// the form window's cursor, so that Designer counts them as changed, saves
/// them and shows them.
class TqOPCTaskMenu : public QObject, public QDesignerTaskMenuExtension {
  Q_OBJECT
  Q_INTERFACES(QDesignerTaskMenuExtension)

 public:
  TqOPCTaskMenu(TqComponentHost* host, QObject* parent);
  /// The first verb (double click and F2 run it).
  QAction* preferredEditAction() const override { return verb_; }
  QList<QAction*> taskActions() const override;

  /// Whether host has a verb.
  static bool HasVerb(const TqComponentHost* host);

 private:
  void execute();
  void chooseServer();
  /// Sets host's property name to its own value through Designer.
  static void storeProperty(QWidget* host, const char* name);
  /// The form window's end of a verb: properties stored, form modified.
  static void modified(QWidget* host, std::initializer_list<const char*> properties);

  QPointer<TqComponentHost> host_;
  QAction* verb_;
  QAction* chooseServer_ = nullptr;  // the server component's second verb
};

/// Makes TqOPCTaskMenu for the hosts that have a verb.
class TqOPCTaskMenuFactory : public QExtensionFactory {
  Q_OBJECT

 public:
  explicit TqOPCTaskMenuFactory(QExtensionManager* parent = nullptr);

 protected:
  QObject* createExtension(QObject* object, const QString& iid, QObject* parent) const override;
};
