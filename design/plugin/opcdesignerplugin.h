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
  /// Inside the designer (initialized with its core), a host in the designer
  /// state, its component owned by the designed form. A loader that builds
  /// forms at run time without a designer core gets a run-time host.
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

/// The verb of a component's host: "OPC Inspector..." for the server
/// component, "OPC to GUI..." for the binding component; none for others.
/// After the window closes the form window is marked modified and the
/// property the window changed (the server host's Configuration, the binding
/// host's Bindings) is set again through the form window's cursor, so that
/// Designer counts it as changed, saves it and shows it.
class TqOPCTaskMenu : public QObject, public QDesignerTaskMenuExtension {
  Q_OBJECT
  Q_INTERFACES(QDesignerTaskMenuExtension)

 public:
  TqOPCTaskMenu(TqComponentHost* host, QObject* parent);
  /// The verb (double click and F2 run it).
  QAction* preferredEditAction() const override { return verb_; }
  QList<QAction*> taskActions() const override { return {verb_}; }

  /// Whether host has a verb.
  static bool HasVerb(const TqComponentHost* host);

 private:
  void execute();
  /// Sets host's property name to its own value through Designer.
  static void storeProperty(QWidget* host, const char* name);

  QPointer<TqComponentHost> host_;
  QAction* verb_;
};

/// Makes TqOPCTaskMenu for the hosts that have a verb.
class TqOPCTaskMenuFactory : public QExtensionFactory {
  Q_OBJECT

 public:
  explicit TqOPCTaskMenuFactory(QExtensionManager* parent = nullptr);

 protected:
  QObject* createExtension(QObject* object, const QString& iid, QObject* parent) const override;
};
