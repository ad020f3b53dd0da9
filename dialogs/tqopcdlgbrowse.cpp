#include "tqopcdlgbrowse.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include "dialogglyphs.h"
#include "dialogsupport_p.h"
#include "tqopcserver.h"

using veze6::dialogs::Named;
using veze6::dialogs::RunEvent;

namespace {

// The data type filter's names, indexed by the variant type code (the
// OPCADatatype ordinal) that the browser hands to the server.
constexpr const char* kDataTypeNames[32] = {
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "EMPTY"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "NULL"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "I2"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "I4"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "R4"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "R8"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "CY"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "DATE"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "BSTR"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "DISPATCH"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "ERROR"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "BOOL"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "VARIANT"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "UNKNOWN"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "DECIMAL"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "undef"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "I1"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "UI1"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "UI2"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "UI4"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "I8"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "UI8"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "INT"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "UINT"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "VOID"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "HRESULT"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "PTR"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "SAFEARRAY"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "CARRAY"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "USERDEFINED"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "LPSTR"),
    QT_TRANSLATE_NOOP("TqOPCDlgBrowse", "LPWSTR"),
};
static_assert(std::size(kDataTypeNames) == vtLPWSTR + 1);

}  // namespace

TqOPCDlgBrowse::TqOPCDlgBrowse(QWidget* parent)
    : QDialog(parent),
      imageList1_{veze6::dialogs::ClosedFolderGlyph(), veze6::dialogs::ItemGlyph()} {
  setObjectName(QStringLiteral("qOPCDlgBrowse"));
  setWindowTitle(tr("Open OPC Item"));
  setFixedSize(561, 309);

  Label3 = Named(new QLabel(tr("Path"), this), "Label3");
  ePath = Named(new QLineEdit(this), "ePath");
  ePath->setReadOnly(true);
  bBack = Named(new QToolButton(this), "bBack");
  bBack->setAutoRaise(true);  // flat until the pointer is over it
  bBack->setIcon(veze6::dialogs::FolderUpGlyph());
  bBack->setIconSize(QSize(16, 16));
  bBack->setFocusPolicy(Qt::NoFocus);  // a speed button never takes the focus
  Label3->setBuddy(ePath);

  ListView = Named(new QListWidget(this), "ListView");
  ListView->setViewMode(QListView::ListMode);
  ListView->setFlow(QListView::LeftToRight);  // small icons in rows
  ListView->setWrapping(true);
  ListView->setResizeMode(QListView::Adjust);
  ListView->setSpacing(1);
  ListView->setIconSize(QSize(16, 16));
  ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ListView->installEventFilter(this);

  Label1 = Named(new QLabel(tr("Filter"), this), "Label1");
  eFilter = Named(new QLineEdit(this), "eFilter");
  eFilter->installEventFilter(this);
  Label1->setBuddy(eFilter);
  cWritable = Named(new QCheckBox(tr("Writable"), this), "cWritable");
  bOk = Named(new QPushButton(tr("&Open"), this), "bOk");
  bOk->setDefault(true);
  Label2 = Named(new QLabel(tr("Datatyp"), this), "Label2");
  cDataType = Named(new QComboBox(this), "cDataType");
  cDataType->setEditable(false);
  cDataType->setMaxVisibleItems(16);
  for (const char* name : kDataTypeNames) cDataType->addItem(tr(name));
  Label2->setBuddy(cDataType);
  cReadable = Named(new QCheckBox(tr("Readable"), this), "cReadable");
  bCancel = Named(new QPushButton(tr("&Cancel"), this), "bCancel");

  auto* top = new QHBoxLayout;
  top->addWidget(Label3);
  top->addWidget(ePath, 1);
  top->addWidget(bBack);
  auto* bottom = new QGridLayout;
  bottom->addWidget(Label1, 0, 0);
  bottom->addWidget(eFilter, 0, 1);
  bottom->addWidget(cWritable, 0, 2);
  bottom->addWidget(bOk, 0, 3);
  bottom->addWidget(Label2, 1, 0);
  bottom->addWidget(cDataType, 1, 1);
  bottom->addWidget(cReadable, 1, 2);
  bottom->addWidget(bCancel, 1, 3);
  bottom->setColumnStretch(1, 1);
  bottom->setHorizontalSpacing(10);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addLayout(top);
  layout->addWidget(ListView, 1);
  layout->addLayout(bottom);

  setTabOrder(ListView, eFilter);
  setTabOrder(eFilter, cWritable);
  setTabOrder(cWritable, bOk);
  setTabOrder(bOk, cDataType);
  setTabOrder(cDataType, cReadable);
  setTabOrder(cReadable, bCancel);
  setTabOrder(bCancel, ePath);
  ListView->setFocus();  // the keys of the list work at once

  connect(bBack, &QToolButton::clicked, this, [this] { RunEvent(this, [this] { bBackClick(); }); });
  connect(ListView, &QListWidget::doubleClicked, this,
          [this] { RunEvent(this, [this] { ListViewDblClick(); }); });
  connect(cWritable, &QCheckBox::toggled, this,
          [this] { RunEvent(this, [this] { UpdateEvent(); }); });
  connect(cReadable, &QCheckBox::toggled, this,
          [this] { RunEvent(this, [this] { UpdateEvent(); }); });
  connect(cDataType, &QComboBox::activated, this,
          [this] { RunEvent(this, [this] { UpdateEvent(); }); });
  connect(bOk, &QPushButton::clicked, this, [this] { RunEvent(this, [this] { bOkClick(); }); });
  connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TqOPCDlgBrowse::~TqOPCDlgBrowse() {
  // Hiding the children while the form is torn down moves the focus; no
  // handler may run on a half-destroyed form.
  ListView->removeEventFilter(this);
  eFilter->removeEventFilter(this);
}

void TqOPCDlgBrowse::SetMultiSelect(bool value) {
  ListView->setSelectionMode(value ? QAbstractItemView::ExtendedSelection
                                   : QAbstractItemView::SingleSelection);
}

int TqOPCDlgBrowse::ShowModal() {
  if (!isVisible()) {
    FormShow();
    formShowDone_ = true;
  }
  return exec();
}

void TqOPCDlgBrowse::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  if (formShowDone_) {
    formShowDone_ = false;
    return;
  }
  RunEvent(this, [this] { FormShow(); });
}

bool TqOPCDlgBrowse::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ListView && event->type() == QEvent::KeyPress) {
    // The key is not consumed: the list handles it as well.
    const int key = static_cast<QKeyEvent*>(event)->key();
    RunEvent(this, [this, key] { ListViewKeyDown(key); });
  } else if (watched == eFilter && event->type() == QEvent::FocusOut) {
    // Leaving the edit for another control of the form, not the window
    // losing the focus to another window or a popup.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
      RunEvent(this, [this] { UpdateEvent(); });
  }
  return QDialog::eventFilter(watched, event);
}

void TqOPCDlgBrowse::FormShow() {
  cDataType->setCurrentIndex(0);
  if (startAtRoot_ && browser_) browser_->MovetoRoot();
  ShowLevel();
}

void TqOPCDlgBrowse::bBackClick() { ShowPrevLevel(); }

void TqOPCDlgBrowse::ListViewDblClick() { bOkClick(); }

void TqOPCDlgBrowse::ListViewKeyDown(int key) {
  if (key == Qt::Key_Space) {
    ShowNextLevel();
  } else if (key == Qt::Key_Backspace) {
    ShowPrevLevel();
  }
}

void TqOPCDlgBrowse::UpdateEvent() { ShowLevel(); }

void TqOPCDlgBrowse::bOkClick() {
  if (resultList_) resultList_->clear();
  if (focusWidget() == eFilter) {
    ShowLevel();
  } else if (!ShowNextLevel()) {
    GetItemList();
  }
  if (resultList_ && !resultList_->isEmpty()) accept();
}

void TqOPCDlgBrowse::ShowLevel() {
  if (!browser_) {
    ListView->clear();
    return;
  }
  browser_->SetFilter(eFilter->text());
  browser_->SetDatatype(OPCADatatype(qMax(0, cDataType->currentIndex())));
  OPCAcesstype rights;
  if (cWritable->isChecked()) rights |= opcWritable;
  if (cReadable->isChecked()) rights |= opcReadable;
  browser_->SetAccessRights(rights);
  ListView->clear();
  const QStringList& levels = browser_->Levels();
  ePath->setText(levels.isEmpty() ? tr("root") : levels.last());
  browser_->ShowBranches();
  addEntries(browser_->Tags(), BranchImage);
  browser_->ShowLeafs(false);
  addEntries(browser_->Tags(), LeafImage);
  if (ListView->count() > 0) {
    ListView->setCurrentItem(ListView->item(0), QItemSelectionModel::ClearAndSelect);
  }
}

void TqOPCDlgBrowse::addEntries(const QStringList& names, int image) {
  for (const QString& name : names) {
    auto* entry = new QListWidgetItem(imageList1_[std::size_t(image)], name, ListView);
    entry->setData(ImageIndexRole, image);
  }
}

void TqOPCDlgBrowse::ShowPrevLevel() {
  if (!browser_ || browser_->Levels().isEmpty()) return;
  browser_->Moveup();
  ShowLevel();
}

QListWidgetItem* TqOPCDlgBrowse::firstSelected() const {
  for (int row = 0; row < ListView->count(); ++row) {
    if (ListView->item(row)->isSelected()) return ListView->item(row);
  }
  return nullptr;
}

bool TqOPCDlgBrowse::ShowNextLevel() {
  const QListWidgetItem* entry = firstSelected();
  if (!browser_ || !entry || entry->data(ImageIndexRole).toInt() != BranchImage) return false;
  // A refused move leaves the position as it was; the level is listed anew.
  browser_->MoveDown(entry->text());
  ShowLevel();
  return true;
}

void TqOPCDlgBrowse::GetItemList() {
  if (!resultList_) return;
  resultList_->clear();
  if (!browser_) return;
  for (int row = 0; row < ListView->count(); ++row) {
    const QListWidgetItem* entry = ListView->item(row);
    if (entry->data(ImageIndexRole).toInt() != LeafImage || !entry->isSelected()) continue;
    // An id the server refused (its fault already reported and suppressed)
    // is no choice: an empty id would be handed on as if it named an item.
    const QString id = browser_->GetItemId(entry->text());
    if (!id.isEmpty()) resultList_->append(id);
  }
}

namespace {

bool serverConnected(const TqOPCBrowser* browser) {
  return browser && browser->OPCServer() && browser->OPCServer()->Active();
}

}  // namespace

bool OPCBrowseDialog(TqOPCBrowser* Browser, QStringList& List, bool StartAtRoot) {
  if (!serverConnected(Browser)) return false;
  TqOPCDlgBrowse form;
  form.SetBrowser(Browser);
  form.SetResultList(&List);
  form.SetStartAtRoot(StartAtRoot);
  return form.ShowModal() == QDialog::Accepted;
}

QString OPCBrowseItemDialog(TqOPCBrowser* Browser, bool StartAtRoot) {
  if (!serverConnected(Browser)) return QString();
  QStringList chosen;
  TqOPCDlgBrowse form;
  form.SetBrowser(Browser);
  form.SetResultList(&chosen);
  form.SetStartAtRoot(StartAtRoot);
  form.SetMultiSelect(false);
  if (form.ShowModal() != QDialog::Accepted) return QString();
  return chosen.value(0);
}
