#include "realdesigner.h"

#include <QCoreApplication>
#include <QDesignerComponents>
#include <QDesignerFormWindowManagerInterface>
#include <QDesignerIntegration>
#include <QDesignerObjectInspectorInterface>
#include <QDesignerPropertyEditorInterface>
#include <QDesignerWidgetBoxInterface>
#include <QPluginLoader>
#include <QtPlugin>

// The plugin's entry points, linked into the test program from its object
// library; registered as a static plugin they reach Designer's plugin
// manager as the module would.
extern "C" QObject* qt_plugin_instance();
extern "C" QPluginMetaData qt_plugin_query_metadata_v2();

namespace design_test {

QDesignerFormEditorInterface* DesignerCore() {
  static QDesignerFormEditorInterface* core = [] {
    qRegisterStaticPluginFunction(QStaticPlugin(qt_plugin_instance, qt_plugin_query_metadata_v2));
    QDesignerComponents::initializeResources();
    // Never destroyed: the application object would take it down only in
    // part at exit (Designer's own objects keep one another), so it stays
    // whole and reachable for the process.
    QDesignerFormEditorInterface* editor = QDesignerComponents::createFormEditor(nullptr);
    QDesignerComponents::initializePlugins(editor);
    editor->setWidgetBox(QDesignerComponents::createWidgetBox(editor, nullptr));
    editor->setPropertyEditor(QDesignerComponents::createPropertyEditor(editor, nullptr));
    editor->setObjectInspector(QDesignerComponents::createObjectInspector(editor, nullptr));
    new QDesignerIntegration(editor, editor);  // form windows ask it for features
    return editor;
  }();
  return core;
}

std::unique_ptr<QDesignerFormWindowInterface> OpenForm(const QString& ui) {
  QDesignerFormWindowManagerInterface* manager = DesignerCore()->formWindowManager();
  std::unique_ptr<QDesignerFormWindowInterface> window(manager->createFormWindow(nullptr));
  window->editWidgets();
  window->setContents(ui);
  manager->setActiveFormWindow(window.get());
  return window;
}

QString FormText(const QString& rootClass, const QString& rootName, const QString& children) {
  return QStringLiteral(
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ui version=\"4.0\">\n"
             " <class>%2</class>\n <widget class=\"%1\" name=\"%2\">\n%3 </widget>\n"
             " <resources/>\n <connections/>\n</ui>\n")
      .arg(rootClass, rootName, children);
}

void DeleteWidget(QDesignerFormWindowInterface& window, QWidget* widget) {
  window.clearSelection();
  window.selectWidget(widget, true);
  // The action follows the selection once the event loop has seen it.
  QCoreApplication::processEvents();
  window.core()
      ->formWindowManager()
      ->action(QDesignerFormWindowManagerInterface::DeleteAction)
      ->trigger();
}

}  // namespace design_test
