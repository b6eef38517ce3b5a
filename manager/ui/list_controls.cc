#include "manager/ui/list_controls.h"

#include <algorithm>
#include <string>

#include <QAccessibleWidget>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QStandardItemModel>

#include "manager/list_filter.h"
#include "manager/ui/dialog_buttons.h"

namespace vigilo {
namespace {

// A drop-down list as the accessibility interface shows it: named by its
// accessible name or its label, its choice as its value. Qt's own interface
// on Linux gives the choice as the name, so a screen reader announced
// "Demo\Bugs" where the user needs "Project Table".
class LabelledComboBox : public QAccessibleWidget {
 public:
  explicit LabelledComboBox(QWidget* combo) : QAccessibleWidget(combo, QAccessible::ComboBox) {}

  QString text(QAccessible::Text kind) const override {
    auto* combo = static_cast<QComboBox*>(widget());
    if (kind == QAccessible::Value) return combo->currentText();
    QString text = QAccessibleWidget::text(kind);
    if (kind == QAccessible::Name && text.isEmpty()) return combo->currentText();
    return text;
  }

  QStringList actionNames() const override {
    return QAccessibleWidget::actionNames() << showMenuAction();
  }
  void doAction(const QString& action) override {
    if (action == showMenuAction()) {
      static_cast<QComboBox*>(widget())->showPopup();
    } else {
      QAccessibleWidget::doAction(action);
    }
  }
};

QAccessibleInterface* LabelledComboBoxFactory(const QString& key, QObject* object) {
  if (key != QLatin1String("QComboBox") || !object->isWidgetType()) return nullptr;
  return new LabelledComboBox(static_cast<QWidget*>(object));
}

// Widens its dialog to the title's width whenever the dialog is shown.
// Takes the Enter keys of one edit for one gesture.
class EnterActs : public QObject {
 public:
  EnterActs(QLineEdit* edit, std::function<void()> act) : QObject(edit), act_(std::move(act)) {
    edit->installEventFilter(this);
  }

  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
    act_();
    return true;
  }

 private:
  std::function<void()> act_;
};

}  // namespace

void OnEnter(QLineEdit* edit, std::function<void()> act) { new EnterActs(edit, std::move(act)); }

void NameComboBoxesByLabel() {
  // Installed once, after the toolkit's own interfaces, so it is asked first.
  static const bool installed = [] {
    QAccessible::installFactory(LabelledComboBoxFactory);
    return true;
  }();
  (void)installed;
}

void NameByLabel(QLabel* label) {
  NameComboBoxesByLabel();
  QString text = WithoutMnemonic(label->text());
  while (text.endsWith(':') || text.endsWith(' ')) text.chop(1);
  label->buddy()->setAccessibleName(text);
}

std::optional<size_t> ChosenRow(const QListWidget* list) {
  QList<QListWidgetItem*> selected = list->selectedItems();
  if (selected.isEmpty()) return std::nullopt;
  return EntryIndex(list, list->row(selected.front()));
}

// The index an entry was added at is kept in this role once the list can be
// sorted; a list that cannot keeps its rows in that order anyway.
constexpr int kEntryIndexRole = Qt::UserRole + 1;

size_t EntryIndex(const QListWidget* list, int row) {
  QVariant index = list->item(row)->data(kEntryIndexRole);
  return static_cast<size_t>(index.isValid() ? index.toInt() : row);
}

QWidget* AddSortHeader(QListWidget* list, const QString& title, QWidget* parent) {
  for (int i = 0; i < list->count(); ++i) list->item(i)->setData(kEntryIndexRole, i);
  auto* header = new QHeaderView(Qt::Horizontal, parent);
  auto* model = new QStandardItemModel(0, 1, header);
  model->setHorizontalHeaderLabels({title});
  header->setModel(model);
  header->setObjectName("SortHeader");
  header->setAccessibleName(QLabel::tr("Sort %1").arg(list->accessibleName()));
  header->setSectionResizeMode(QHeaderView::Stretch);
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(true);
  header->setSortIndicator(-1, Qt::AscendingOrder);
  header->setFixedHeight(header->sizeHint().height());
  QObject::connect(header, &QHeaderView::sortIndicatorChanged, list,
                   [list](int section, Qt::SortOrder order) {
                     if (section >= 0) list->sortItems(order);
                   });
  return header;
}

FilterBox AddFilterBox(QListWidget* list, const QString& list_name, QWidget* parent) {
  FilterBox box{new QLabel(kFilterLabel, parent), new QLineEdit(parent)};
  box.edit->setObjectName("Filter");
  box.edit->setPlaceholderText(kFilterPlaceholder);
  box.edit->setClearButtonEnabled(true);
  box.edit->setAccessibleName(QLabel::tr("Filter %1").arg(list_name));
  box.label->setBuddy(box.edit);
  // Typed first, then the list it narrows.
  QWidget::setTabOrder(box.edit, list);
  OnEnter(box.edit, [list] {
    for (int i = 0; i < list->count(); ++i) {
      if (list->item(i)->isHidden()) continue;
      list->setCurrentItem(list->item(i), QItemSelectionModel::NoUpdate);
      break;
    }
    list->setFocus();
  });
  QObject::connect(box.edit, &QLineEdit::textChanged, list, [list](const QString& filter) {
    std::string typed = filter.toStdString();
    for (int i = 0; i < list->count(); ++i) {
      QListWidgetItem* item = list->item(i);
      item->setHidden(!MatchesFilter(item->text().toStdString(), typed));
    }
  });
  return box;
}

QLabel* ReasonLabel(QWidget* parent) {
  auto* line = new QLabel(parent);
  line->setObjectName("Reason");
  line->setWordWrap(true);
  line->setStyleSheet("color: #b00020");
  line->hide();
  return line;
}

void ShowReason(QLabel* line, const std::string& reason) {
  line->setText(QString::fromStdString(reason));
  line->setVisible(!reason.empty());
}

}  // namespace vigilo
