#include "manager/ui/rule_list_view.h"

#include <algorithm>

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QStyle>

namespace vigilo {

QString ElideWithDots(const QFontMetrics& metrics, const QString& text, int width) {
  if (metrics.horizontalAdvance(text) <= width) return text;
  static const QString kDots = "...";
  // The longest kept part that fits with the dots: widths grow with the
  // length, so a binary search finds it.
  qsizetype low = 1, high = text.size() - 1;
  while (low < high) {
    qsizetype mid = (low + high + 1) / 2;
    if (metrics.horizontalAdvance(text.left(mid) + kDots) <= width) {
      low = mid;
    } else {
      high = mid - 1;
    }
  }
  return text.left(std::max<qsizetype>(low, 1)) + kDots;
}

int RuleListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(list_.size());
}

int RuleListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant RuleListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  if (!index.isValid() || static_cast<size_t>(index.row()) >= list_.size()) return {};
  return QString::fromStdString(
      RuleCellText(list_.row(static_cast<size_t>(index.row())), columns_.at(index.column())));
}

QVariant RuleListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section < 0 || static_cast<size_t>(section) >= columns_.size()) return {};
  return QString(kRuleColumns[static_cast<int>(columns_[section])].title);
}

int RuleListModel::section(int column) const {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (static_cast<int>(columns_[i]) == column) return static_cast<int>(i);
  }
  return -1;
}

void RuleListModel::Reload() {
  beginResetModel();
  endResetModel();
}

void DotsElideDelegate::initStyleOption(QStyleOptionViewItem* option,
                                        const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  const QWidget* widget = option->widget;
  QStyle* style = widget ? widget->style() : QApplication::style();
  int margin = (style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1) * 2;
  option->text = ElideWithDots(option->fontMetrics, option->text, option->rect.width() - margin);
  option->textElideMode = Qt::ElideNone;
}

CRuleListCtrl::CRuleListCtrl(const RuleList& list, std::vector<RuleColumn> columns, bool multi,
                             QWidget* parent)
    : QTableView(parent) {
  model_ = new RuleListModel(list, columns, this);
  setModel(model_);
  setItemDelegate(new DotsElideDelegate(this));
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(multi ? QAbstractItemView::ExtendedSelection
                         : QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(false);
  setWordWrap(false);
  setTabKeyNavigation(false);
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setSectionsClickable(true);
  horizontalHeader()->setStretchLastSection(false);
  for (size_t i = 0; i < columns.size(); ++i) {
    setColumnWidth(static_cast<int>(i), kRuleColumns[static_cast<int>(columns[i])].width);
  }
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
    if (!click_ || section < 0 || section >= model_->columnCount()) return;
    click_(model_->column(section));
    Reload();
  });
  connect(this, &QAbstractItemView::doubleClicked, this, [this] { emit editRequested(); });
}

void CRuleListCtrl::keyPressEvent(QKeyEvent* event) {
  // Taken only where the dialog acts on them, so the default button of a
  // list without Edit still gets Enter.
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && isSignalConnected(QMetaMethod::fromSignal(&CRuleListCtrl::editRequested))) {
    emit editRequested();
    return;
  }
  if (event->key() == Qt::Key_Delete &&
      isSignalConnected(QMetaMethod::fromSignal(&CRuleListCtrl::deleteRequested))) {
    emit deleteRequested();
    return;
  }
  QTableView::keyPressEvent(event);
}

void CRuleListCtrl::ShowSortArrow() {
  const RuleList& list = model_->list();
  int section = model_->section(list.last_sorted_column());
  horizontalHeader()->setSortIndicatorShown(section >= 0);
  if (section >= 0) {
    horizontalHeader()->setSortIndicator(
        section, list.last_sort_descending() ? Qt::DescendingOrder : Qt::AscendingOrder);
  }
}

void CRuleListCtrl::Reload() {
  model_->Reload();
  clearSelection();
  ShowSortArrow();
}

int CRuleListCtrl::SelectedItem() const {
  QModelIndexList rows = selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.front().row();
}

std::vector<size_t> CRuleListCtrl::SelectedItems() const {
  std::vector<size_t> items;
  for (const QModelIndex& index : selectionModel()->selectedRows()) {
    items.push_back(static_cast<size_t>(index.row()));
  }
  std::sort(items.begin(), items.end());
  return items;
}

}  // namespace vigilo
