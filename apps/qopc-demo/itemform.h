// The demo's window for any server: one read-only field per item, bound to
// it through the binding component. The items are the ones named, or the
// first ones found by browsing the server.
#pragma once

#include <QList>
#include <QWidget>

#include "demooptions.h"

class QLineEdit;
class TqOPCGUI;
class TqOPCServer;

class TItemForm : public QWidget {
  Q_OBJECT

 public:
  /// Connects to the server of options, finds the items and binds them;
  /// raises when the server cannot be reached or browsing finds no item.
  explicit TItemForm(const TDemoOptions& options, QWidget* parent = nullptr);
  ~TItemForm() override;

  TqOPCServer* Server() const { return server_; }
  /// One field per item, in the order shown.
  const QList<QLineEdit*>& Fields() const { return fields_; }
  /// True once every item the server accepted has shown a value (or lost its
  /// binding: a value the field cannot take).
  bool ValuesArrived() const;

 private:
  TqOPCServer* server_ = nullptr;
  TqOPCGUI* gui_ = nullptr;
  QList<QLineEdit*> fields_;
  QList<QLineEdit*> waiting_;  ///< fields of accepted items
};
