// SPDX-License-Identifier: MIT
#include "config/qt/port_type_dialog_qt.h"

#include <QApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QTreeWidget>
#include <algorithm>

namespace vu30::config::qt {

namespace {

QString Text(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string Utf8(const QString& text) { return text.toUtf8().toStdString(); }

// Tahoma, or where it is missing a face of similar width.
QFont Tahoma(int pixelHeight) {
  QFont font;
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Arial"), QStringLiteral("DejaVu Sans Condensed")});
  font.setPixelSize(pixelHeight);
  return font;
}

}  // namespace

void TypeCombo::hidePopup() {
  QComboBox::hidePopup();
  emit closedUp();
}

ComTypeTrkDialog::ComTypeTrkDialog(TCOMTypeTRKForm& form, QWidget* owner)
    : QDialog(owner), form_(form) {
  setObjectName(QStringLiteral("COMTypeTRKForm"));
  setWindowTitle(QStringLiteral("Типы ТРК на COM-портах"));
  setFont(Tahoma(11));
  setFixedSize(264, 322);

  LV = new QTreeWidget(this);
  LV->setObjectName(QStringLiteral("LV"));
  LV->setGeometry(7, 8, 249, 267);
  LV->setFont(Tahoma(13));
  LV->setColumnCount(4);
  LV->setHeaderLabels(
      {QString(), QStringLiteral("COM-порт"), QStringLiteral("Тип ТРК"), QStringLiteral("Имп/л")});
  LV->header()->setMinimumSectionSize(1);
  LV->setColumnWidth(kColumnCaption, 1);
  // The impulses column takes whatever room is left, so the four columns fit
  // without scrolling; SizeColumns (below, once the editors exist) sets the
  // other widths.
  LV->header()->setStretchLastSection(true);
  LV->setRootIsDecorated(false);
  LV->setItemsExpandable(false);
  LV->setIndentation(0);
  LV->setUniformRowHeights(true);
  LV->setAllColumnsShowFocus(true);
  LV->setSelectionMode(QAbstractItemView::SingleSelection);
  LV->setSelectionBehavior(QAbstractItemView::SelectRows);
  LV->setEditTriggers(QAbstractItemView::NoEditTriggers);
  LV->viewport()->installEventFilter(this);

  cbType = new TypeCombo(this);
  cbType->setObjectName(QStringLiteral("cbType"));
  cbType->setGeometry(72, 144, 124, 21);
  cbType->setEditable(true);
  cbType->setInsertPolicy(QComboBox::NoInsert);
  for (std::string_view name : kTypeNames) cbType->addItem(Text(name));
  cbType->setEditText(Text(kTypeNames[kTypeEC2000]));
  cbType->hide();

  BitBtn3 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                            QStringLiteral("Отменить"), this);
  BitBtn3->setObjectName(QStringLiteral("BitBtn3"));
  BitBtn3->setGeometry(150, 289, 101, 25);

  BitBtn4 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton),
                            QStringLiteral("Сохранить"), this);
  BitBtn4->setObjectName(QStringLiteral("BitBtn4"));
  BitBtn4->setGeometry(8, 289, 97, 25);
  BitBtn4->setDefault(true);

  Bevel1 = new QFrame(this);
  Bevel1->setObjectName(QStringLiteral("Bevel1"));
  Bevel1->setFrameShape(QFrame::HLine);
  Bevel1->setFrameShadow(QFrame::Sunken);
  Bevel1->setGeometry(0, 281, 259, 2);

  edImp = new QSpinBox(this);
  edImp->setObjectName(QStringLiteral("edImp"));
  edImp->setGeometry(202, 144, 49, 21);
  edImp->setRange(1, 255);
  edImp->setValue(100);
  edImp->hide();
  edImp->installEventFilter(this);

  SizeColumns();
  LV->installEventFilter(this);  // a new font sizes the columns again

  // The editors lie over the list.
  cbType->raise();
  edImp->raise();
  setTabOrder(LV, cbType);
  setTabOrder(cbType, BitBtn3);
  setTabOrder(BitBtn3, BitBtn4);
  setTabOrder(BitBtn4, edImp);

  connect(LV, &QTreeWidget::itemSelectionChanged, this,
          [this] { Run([this] { form_.LVChange(); }); });
  connect(cbType, &QComboBox::currentTextChanged, this,
          [this] { Run([this] { form_.cbTypeChange(); }); });
  connect(cbType, &TypeCombo::closedUp, this, [this] { Run([this] { form_.cbTypeCloseUp(); }); });
  connect(BitBtn4, &QPushButton::clicked, this, [this] {
    bool close = false;
    Run([this, &close] { close = form_.BitBtn4Click(); });
    if (close) accept();
  });
  connect(BitBtn3, &QPushButton::clicked, this, &QDialog::reject);
}

bool ComTypeTrkDialog::event(QEvent* e) {
  if (e->type() == static_cast<QEvent::Type>(kShowDialogEvent)) {
    form_.WMShowDialog();
    return true;
  }
  return QDialog::event(e);
}

void ComTypeTrkDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (!e->spontaneous()) Run([this] { form_.FormShow(); });
}

void ComTypeTrkDialog::SizeColumns() {
  // Widths of 65 and 120 suit Tahoma; other faces (DejaVu Sans on a fresh
  // Linux machine) are wider, so every width is measured with the list's
  // font and the style's margins rather than assumed.
  constexpr int kPortWidth = 65;
  constexpr int kTypeWidth = 120;
  constexpr int kImpulsesWidth = 50;  // a list view's usual default width
  QHeaderView* header = LV->header();
  const QFontMetrics metrics(LV->font());
  const int cellMargin =
      2 * (LV->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, LV) + 1);
  const auto cellNeed = [&](const QString& text) {
    return metrics.horizontalAdvance(text) + cellMargin;
  };
  int typeCells = 0;
  for (std::string_view name : kTypeNames) typeCells = std::max(typeCells, cellNeed(Text(name)));
  const int portNeed =
      std::max(header->sectionSizeHint(kColumnPort), cellNeed(QStringLiteral("30")));
  const int typeNeed = std::max(header->sectionSizeHint(kColumnType), typeCells);
  const int impulsesNeed =
      std::max(header->sectionSizeHint(kColumnImpulses), cellNeed(QStringLiteral("255")));

  // Room for the columns beside the 1-pixel caption column and the vertical
  // scroll bar that 31 ports bring.
  const int room = LV->width() - 2 * LV->frameWidth() - 1 -
                   LV->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, LV);
  const int port = std::max(kPortWidth, portNeed);
  // The type column gives up room beyond its own need to the impulses column.
  const int type = std::max(typeNeed, std::min(kTypeWidth, room - port - impulsesNeed));
  LV->setColumnWidth(kColumnPort, port);
  LV->setColumnWidth(kColumnType, type);
  LV->setColumnWidth(kColumnImpulses, std::max(kImpulsesWidth, impulsesNeed));

  // The editors keep their places relative to the columns (72 and 202 with
  // the widths of 65 and 120).
  const int typeShift = port - kPortWidth;
  const int impulsesShift = typeShift + type - kTypeWidth;
  cbType->setGeometry(72 + typeShift, cbType->y(), 124 + type - kTypeWidth, cbType->height());
  const int spinLeft = 202 + impulsesShift;
  const int listRight = LV->x() + LV->width();
  edImp->setGeometry(spinLeft, edImp->y(), std::min(49, listRight - spinLeft), edImp->height());
}

bool ComTypeTrkDialog::eventFilter(QObject* watched, QEvent* e) {
  if (watched == LV && e->type() == QEvent::FontChange) {
    SizeColumns();
    return false;
  }
  if (watched == LV->viewport() && e->type() == QEvent::MouseButtonRelease) {
    const int x = static_cast<QMouseEvent*>(e)->position().toPoint().x();
    Run([this, x] { form_.LVMouseUp(x); });
  } else if (watched == edImp && e->type() == QEvent::FocusOut) {
    Run([this] { form_.edImpExit(); });
  } else if (watched == edImp && e->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(e)->key();
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    Run([this, enter] { form_.edImpKeyDown(enter ? kKeyEnter : 0); });
  }
  return false;  // the widgets still get every event
}

QtComTypeTrkView::QtComTypeTrkView(TCOMTypeTRKForm& form, QWidget* owner)
    : form_(form), owner_(owner) {}

QtComTypeTrkView::~QtComTypeTrkView() {
  // Without an application object a widget cannot be deleted safely; the
  // process is then ending anyway.
  if (dialog_ && QCoreApplication::instance() != nullptr) delete dialog_.data();
}

ComTypeTrkDialog* QtComTypeTrkView::Dialog() const {
  if (!dialog_) dialog_ = new ComTypeTrkDialog(form_, owner_.data());
  return dialog_.data();
}

void QtComTypeTrkView::SetRows(const std::vector<PortTypeRow>& rows) {
  QTreeWidget* lv = Dialog()->LV;
  const QSignalBlocker block(lv);
  lv->clear();
  for (const PortTypeRow& row : rows) {
    auto* item = new QTreeWidgetItem(lv);
    item->setText(kColumnPort, Text(row.port));
    item->setText(kColumnType, Text(row.type));
    item->setText(kColumnImpulses, Text(row.impulses));
  }
}

void QtComTypeTrkView::SetCell(int row, int column, const std::string& text) {
  if (QTreeWidgetItem* item = Dialog()->LV->topLevelItem(row)) item->setText(column, Text(text));
}

int QtComTypeTrkView::SelectedRow() const {
  QTreeWidget* lv = Dialog()->LV;
  const QList<QTreeWidgetItem*> selected = lv->selectedItems();
  return selected.isEmpty() ? -1 : lv->indexOfTopLevelItem(selected.front());
}

int QtComTypeTrkView::ColumnWidth(int column) const { return Dialog()->LV->columnWidth(column); }

int QtComTypeTrkView::RowTop(int row) const {
  QTreeWidget* lv = Dialog()->LV;
  QTreeWidgetItem* item = lv->topLevelItem(row);
  if (item == nullptr) return 0;
  return lv->visualItemRect(item).top() + lv->viewport()->geometry().top();
}

int QtComTypeTrkView::ListTop() const { return Dialog()->LV->y(); }

void QtComTypeTrkView::SetComboVisible(bool visible) { Dialog()->cbType->setVisible(visible); }

void QtComTypeTrkView::MoveComboTop(int top) {
  QComboBox* combo = Dialog()->cbType;
  combo->move(combo->x(), top);
}

void QtComTypeTrkView::SelectComboItem(int index) {
  QComboBox* combo = Dialog()->cbType;
  const QSignalBlocker block(combo);
  combo->setCurrentIndex(index);
}

void QtComTypeTrkView::DropDownCombo() { Dialog()->cbType->showPopup(); }

std::string QtComTypeTrkView::ComboText() const { return Utf8(Dialog()->cbType->currentText()); }

void QtComTypeTrkView::SetSpinVisible(bool visible) { Dialog()->edImp->setVisible(visible); }

void QtComTypeTrkView::MoveSpinTop(int top) {
  QSpinBox* spin = Dialog()->edImp;
  spin->move(spin->x(), top);
}

void QtComTypeTrkView::SetSpinText(const std::string& text) {
  bool ok = false;
  const int value = Text(text).trimmed().toInt(&ok);
  if (ok) Dialog()->edImp->setValue(value);  // kept within 1..255 by the editor
}

std::string QtComTypeTrkView::SpinText() const {
  QSpinBox* spin = Dialog()->edImp;
  spin->interpretText();  // a half-typed number is settled first
  return Utf8(spin->cleanText());
}

void QtComTypeTrkView::ShowMessage(const std::string& text) {
  QMessageBox::warning(Dialog(), Dialog()->windowTitle(), Text(text));
}

void QtComTypeTrkView::SendShowMessage() {
  QEvent message(static_cast<QEvent::Type>(kShowDialogEvent));
  QCoreApplication::sendEvent(Dialog(), &message);
}

ModalResult QtComTypeTrkView::ShowModal() {
  ComTypeTrkDialog* dialog = Dialog();
  // The placement is the operator's own: kept in the toolkit's per-user
  // settings, never in the station's shared cnf.INI, which only Save writes.
  QSettings settings(QStringLiteral("vu30"), QStringLiteral("COMTypeTRKForm"));
  const QPoint position = settings.value(QStringLiteral("position")).toPoint();
  const bool stored = settings.contains(QStringLiteral("position"));
  // A stored position off every screen (a monitor since removed) is ignored.
  if (stored && QGuiApplication::screenAt(position) != nullptr) {
    dialog->move(position);
  } else {
    dialog->move(0, 0);
  }
  const int result = dialog->exec();
  if (dialog_) settings.setValue(QStringLiteral("position"), dialog_->frameGeometry().topLeft());
  return result == QDialog::Accepted ? ModalResult::kOk : ModalResult::kCancel;
}

}  // namespace vu30::config::qt
