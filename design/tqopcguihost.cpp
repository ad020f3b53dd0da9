#include <QTimer>
#include <exception>

#include "core/application.h"
#include "core/exceptions.h"
#include "design/tqguiselectform.h"
#include "tqcomponenthost.h"

TqOPCGUIHost::TqOPCGUIHost(QWidget* parent) : TqComponentHost(parent) {
  Adopt(new TqOPCGUI(Form() ? static_cast<QObject*>(Form()) : this));
  // The form is complete on the first turn: its server is linked then.
  scheduleResolve();
}

TqOPCGUI* TqOPCGUIHost::GUI() const { return qobject_cast<TqOPCGUI*>(Component()); }

void TqOPCGUIHost::PickServer() {
  // As the binding component's constructor takes it from its form, unless
  // a server was named.
  TqOPCGUI* gui = GUI();
  if (!gui || gui->OPCServer() || !Form()) return;
  TqOPCServer* server = findServer(serverName_);
  if (serverName_.isEmpty()) {
    for (QObject* child : Form()->children())
      if (auto* candidate = qobject_cast<TqOPCServer*>(child)) server = candidate;
  }
  if (server) gui->SetOPCServer(server);
}

void TqOPCGUIHost::Designing() {
  // While a form loads, the server taken may be one whose component has not
  // yet joined the designed form.
  if (TqOPCGUI* gui = GUI()) gui->SetOPCServer(nullptr);
  PickServer();
}

TqOPCServer* TqOPCGUIHost::findServer(const QString& name) const {
  if (name.isEmpty() || !Form()) return nullptr;
  // Components of removed hosts belong to their hosts, not to the form.
  for (QObject* child : Form()->children()) {
    auto* server = qobject_cast<TqOPCServer*>(child);
    if (server && server->Name() == name) return server;
  }
  return nullptr;
}

QString TqOPCGUIHost::OPCServer() const {
  TqOPCGUI* gui = GUI();
  if (gui && gui->OPCServer()) return gui->OPCServer()->Name();
  return serverName_;
}

void TqOPCGUIHost::setOPCServer(const QString& name) {
  TqOPCGUI* gui = GUI();
  if (!gui) return;
  serverName_ = name;
  TqOPCServer* server = findServer(name);
  if (name.isEmpty() || server) {
    if (server == gui->OPCServer() && (IsDesigning() || gui->Hooked())) return;
    try {
      gui->SetOPCServer(server);
      if (!server) PickServer();
    } catch (...) {
      HandleCurrentException(gui);
    }
    return;
  }
  // Not on the form yet (uic may create it later): linked on the next turn.
  if (!IsDesigning()) scheduleResolve();
}

void TqOPCGUIHost::FormWidgetRemoved(QWidget* widget) {
  TqOPCGUI* gui = GUI();
  if (!gui || !widget) return;
  auto within = [widget](QObject* object) {
    auto* w = qobject_cast<QWidget*>(object);
    return w && (w == widget || widget->isAncestorOf(w));
  };
  TqGUIItems* items = gui->Items();
  for (int i = items->Count() - 1; i >= 0; --i) {
    TqGUIItem* binding = items->Items(i);
    QWidget* control = binding->Control();
    if (!control || !within(control)) continue;
    parked_.prepend({control,
                     {control->objectName(), binding->CtrlPropName(), binding->OPCGroup(),
                      binding->OPCItem()}});
    binding->Free();
  }
  TqOPCServer* server = gui->OPCServer();
  // A removed server host has taken its component back from the form.
  if (server && server->parent() && within(server->parent())) {
    droppedServer_ = server;
    gui->SetOPCServer(nullptr);
    PickServer();
  }
}

void TqOPCGUIHost::FormWidgetRestored(QWidget* widget) {
  TqOPCGUI* gui = GUI();
  if (!gui || !widget) return;
  TqOPCServer* dropped = droppedServer_.data();
  if (dropped && dropped->parent() == Form()) {
    droppedServer_.clear();
    gui->SetOPCServer(dropped);
  } else {
    PickServer();
  }
  QList<Parked> kept;
  for (const Parked& entry : std::as_const(parked_)) {
    QWidget* control = entry.control.data();
    if (!control) continue;  // gone for good
    if (control != widget && !widget->isAncestorOf(control)) {
      kept << entry;
      continue;
    }
    try {
      gui->AddItem(entry.fields[2], entry.fields[3], control, entry.fields[1]);
    } catch (...) {
      HandleCurrentException(gui);
    }
  }
  parked_ = kept;
}

QString TqOPCGUIHost::EncodeBinding(const QString& control, const QString& property,
                                    const QString& group, const QString& item) {
  QString entry;
  for (const QString* field : {&control, &property, &group, &item}) {
    if (field != &control) entry += u'|';
    for (const QChar c : *field) {
      if (c == u'|' || c == u'\\') entry += u'\\';
      entry += c;
    }
  }
  return entry;
}

bool TqOPCGUIHost::DecodeBinding(const QString& entry, QStringList& fields) {
  fields = QStringList{QString()};
  for (qsizetype i = 0; i < entry.size(); ++i) {
    const QChar c = entry[i];
    if (c == u'\\') {
      if (i + 1 == entry.size() || (entry[i + 1] != u'|' && entry[i + 1] != u'\\')) return false;
      fields.last() += entry[++i];
    } else if (c == u'|') {
      fields << QString();
    } else {
      fields.last() += c;
    }
  }
  return fields.size() == 4;
}

QStringList TqOPCGUIHost::Bindings() const {
  QStringList entries;
  if (TqOPCGUI* gui = GUI()) {
    TqGUIItems* items = gui->Items();
    for (int i = 0; i < items->Count(); ++i) {
      TqGUIItem* binding = items->Items(i);
      QWidget* control = binding->Control();
      if (!control || control->objectName().isEmpty()) continue;
      entries << EncodeBinding(control->objectName(), binding->CtrlPropName(), binding->OPCGroup(),
                               binding->OPCItem());
    }
  }
  for (const QStringList& fields : pending_)
    entries << EncodeBinding(fields[0], fields[1], fields[2], fields[3]);
  return entries;
}

void TqOPCGUIHost::setBindings(const QStringList& entries) {
  TqOPCGUI* gui = GUI();
  if (!gui || entries == Bindings()) return;
  gui->Items()->Clear();
  pending_.clear();
  for (const QString& entry : entries) {
    QStringList fields;
    if (DecodeBinding(entry, fields))
      pending_ << fields;
    else
      Application().HandleException(
          gui, Exception(QStringLiteral("%1: malformed binding \"%2\"").arg(objectName(), entry)));
  }
  scheduleResolve();
}

void TqOPCGUIHost::scheduleResolve() {
  if (resolveScheduled_) return;
  resolveScheduled_ = true;
  QTimer::singleShot(0, this, [this] {
    resolveScheduled_ = false;
    ResolveBindings();
  });
}

void TqOPCGUIHost::ResolveBindings() {
  TqOPCGUI* gui = GUI();
  if (!gui) return;
  if (!pending_.isEmpty()) {
    const QList<QWidget*> controls = TqGUISelectForm::FormControls(Form());
    QList<QStringList> waiting;
    for (const QStringList& fields : std::as_const(pending_)) {
      QWidget* control = nullptr;
      for (QWidget* candidate : controls) {
        if (candidate->objectName() == fields[0]) {
          control = candidate;
          break;
        }
      }
      if (!control) {
        waiting << fields;
        continue;
      }
      try {
        gui->AddItem(fields[2], fields[3], control, fields[1]);
      } catch (...) {
        HandleCurrentException(gui);
      }
    }
    pending_ = waiting;
    for (const QStringList& fields : std::as_const(pending_))
      Application().HandleException(
          gui, Exception(QStringLiteral("%1: no control \"%2\" on the form for a binding")
                             .arg(objectName(), fields[0])));
  }
  if (IsDesigning()) return;
  // A form built by uic never assigns OPCServer, which is what hooks the
  // server: the link the constructor stored (or a server created after the
  // binding component) is assigned now, linking every binding.
  try {
    TqOPCServer* server = gui->OPCServer();
    if (!serverName_.isEmpty() && (!server || server->Name() != serverName_)) {
      server = findServer(serverName_);
      if (!server)
        throw Exception(QStringLiteral("%1: no server component \"%2\" on the form")
                            .arg(objectName(), serverName_));
      gui->SetOPCServer(server);
    } else if (!server) {
      PickServer();
    } else if (!gui->Hooked()) {
      gui->SetOPCServer(server);
    }
  } catch (...) {
    HandleCurrentException(gui);
  }
}
