// TqOPCDlgBrowse: the "Open OPC Item" dialog. The user walks a connected
// server's address space through a TqOPCBrowser, level by level, and picks
// one or several items; the dialog hands back their fully qualified ids.
// The filters of the dialog (name, data type, access rights) are written to
// the browser before every listing, and the browser stays where the user
// left it, so a later dialog on the same browser can open there.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <array>

#include "core/tqopcbrowser.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QToolButton;

class TqOPCDlgBrowse : public QDialog {
  Q_OBJECT

 public:
  /// The data role of a list entry holding its image index: 0 for a branch,
  /// 1 for a leaf.
  static constexpr int ImageIndexRole = Qt::UserRole + 1;
  static constexpr int BranchImage = 0;
  static constexpr int LeafImage = 1;

  /// Builds the form with its controls (named as in the form: ePath, bBack,
  /// ListView, eFilter, cWritable, cReadable, cDataType, bOk, bCancel and
  /// the labels). Without a browser the form lists nothing.
  explicit TqOPCDlgBrowse(QWidget* parent = nullptr);
  ~TqOPCDlgBrowse() override;

  /// The browser the dialog drives; not owned.
  TqOPCBrowser* Browser() const { return browser_; }
  void SetBrowser(TqOPCBrowser* browser) { browser_ = browser; }
  /// Receives the chosen item ids; not owned, must outlive the form's use.
  QStringList* ResultList() const { return resultList_; }
  void SetResultList(QStringList* list) { resultList_ = list; }
  /// Move the browser to the root before the first listing.
  bool StartAtRoot() const { return startAtRoot_; }
  void SetStartAtRoot(bool value) { startAtRoot_ = value; }

  /// The two pictures of the list: a closed folder (branch) and an item
  /// symbol (leaf).
  const std::array<QIcon, 2>& ImageList1() const { return imageList1_; }
  /// Whether the list lets the user select several entries (the default).
  void SetMultiSelect(bool value);

  /// Shows the form modally, with the opening listing made before the window
  /// appears, so that a browser fault while opening leaves this call as an
  /// exception. Returns the dialog's result code.
  int ShowModal();

  // ---- the form's event handlers; each may raise the browser's faults
  // (when the controls call them, a fault goes to the application's exception
  // handler and the dialog stays open) ----
  /// Selects "EMPTY", moves to the root when StartAtRoot is set, lists.
  void FormShow();
  /// One level up.
  void bBackClick();
  /// Open.
  void ListViewDblClick();
  /// Key handling of the list (before the list's own): space goes down into
  /// the selected branch, backspace goes up.
  void ListViewKeyDown(int key);
  /// Lists the level again under the filters of the controls.
  void UpdateEvent();
  /// Open: re-lists when the filter edit has the focus; otherwise goes down
  /// into the selected branch or, when the selection is no branch, collects
  /// the selected leaves. Closes with Accepted when ResultList is not empty.
  void bOkClick();

  // ---- operations ----
  /// Writes the filters of the controls to the browser and lists the current
  /// level: its branches, then its leaves; selects the first entry.
  void ShowLevel();
  /// One level up and list it; nothing at the root.
  void ShowPrevLevel();
  /// Down into the first selected entry when it is a branch, and list it;
  /// false (nothing done) when no entry is selected or it is a leaf.
  bool ShowNextLevel();
  /// Replaces ResultList with the item ids of the selected leaves, in list
  /// order.
  void GetItemList();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QListWidgetItem* firstSelected() const;
  void addEntries(const QStringList& names, int image);

  QLabel* Label3;
  QLineEdit* ePath;
  QToolButton* bBack;
  QListWidget* ListView;
  QLabel* Label1;
  QLineEdit* eFilter;
  QCheckBox* cWritable;
  QPushButton* bOk;
  QLabel* Label2;
  QComboBox* cDataType;
  QCheckBox* cReadable;
  QPushButton* bCancel;
  std::array<QIcon, 2> imageList1_;

  QPointer<TqOPCBrowser> browser_;
  QStringList* resultList_ = nullptr;
  bool startAtRoot_ = false;
  bool formShowDone_ = false;  // ShowModal made the opening listing already
};

/// Lets the user choose items of browser's server. Shows nothing and returns
/// false when the browser has no server or the server is not connected.
/// Otherwise List receives the chosen ids (in list order) and the result is
/// true when the user opened them. Pressing Open without a choice empties
/// List even if the user then cancels. Faults of the opening listing leave
/// as exceptions.
bool OPCBrowseDialog(TqOPCBrowser* Browser, QStringList& List, bool StartAtRoot);

/// Lets the user choose one item; its id, or empty after cancelling or when
/// the browser has no connected server.
QString OPCBrowseItemDialog(TqOPCBrowser* Browser, bool StartAtRoot);
