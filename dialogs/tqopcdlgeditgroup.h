// TqOPCDlgEditGroup: the "Edit Group" dialog. Edits the name, update rate,
// dead band and active flag of a group state record; the other fields pass
// through unchanged. It talks to no server: the caller applies the result.
#pragma once

#include <QDialog>

#include "core/tqopcgroup.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TqOPCDlgEditGroup : public QDialog {
  Q_OBJECT

 public:
  /// Builds the form with its controls (named as in the form: eGroupName,
  /// eUpdateRate, eDeadBand, cActive, bOk, BCancel and the labels).
  explicit TqOPCDlgEditGroup(QWidget* parent = nullptr);

  /// The record being edited: shown when the form is shown, written by a
  /// confirmation.
  tGroupStateRec GroupState;

  // ---- the form's event handlers ----
  /// Fills the controls from GroupState; the dead band with two decimals and
  /// the user's decimal separator.
  void FormShow();
  /// A blank name beeps and puts the focus into the name. Otherwise reads
  /// the controls into GroupState (the name as typed, the dead band as a
  /// 32-bit float) and closes with Accepted. A text that is no number raises
  /// EConvertError (when the button calls this, it goes to the application's
  /// exception handler and the dialog stays open).
  void bOkClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLabel* Label3;
  QLineEdit* eGroupName;
  QLabel* Label4;
  QLineEdit* eUpdateRate;
  QLabel* Label5;
  QLineEdit* eDeadBand;
  QLabel* Label6;
  QCheckBox* cActive;
  QPushButton* bOk;
  QPushButton* BCancel;
};

/// Lets the user edit State's name, update rate, dead band and active flag.
/// True and State replaced when the user confirmed; false and State
/// untouched when cancelled.
bool OPCEditGroupDialog(tGroupStateRec& State);
