// CRuleListCtrl: the rule list of Setup Rules and View of Rules, a table view
// over a RuleList (no widget per rule, so 32000 rules cost one row each in
// the logic's buffer and nothing more). Full-row selection, the columns with
// their titles and widths, texts too wide for their column cut with "...",
// a click on a column header sorting through the list's own rules (with the
// header's arrow showing the order), and the keys of a desktop list: Enter
// and a double click ask to edit the selected rule, Delete to delete it.
#pragma once

#include <functional>
#include <vector>

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>

#include "manager/rule_list.h"

namespace vigilo {

// The text cut from its end until the rest plus "..." fits the width (at
// least one character stays); a text that fits is returned whole.
QString ElideWithDots(const QFontMetrics& metrics, const QString& text, int width);

class RuleListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  RuleListModel(const RuleList& list, std::vector<RuleColumn> columns, QObject* parent)
      : QAbstractTableModel(parent), list_(list), columns_(std::move(columns)) {}

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  RuleColumn column(int section) const { return columns_.at(section); }
  // The section showing the column; -1 when it is not shown.
  int section(int column) const;
  const RuleList& list() const { return list_; }
  // The rules changed under the model (loaded, added, removed, sorted).
  void Reload();

 private:
  const RuleList& list_;
  std::vector<RuleColumn> columns_;
};

class DotsElideDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

class CRuleListCtrl : public QTableView {
  Q_OBJECT

 public:
  // columns: the columns shown, left to right; multi: several rules may be
  // selected (View of Rules) or one (Setup Rules).
  CRuleListCtrl(const RuleList& list, std::vector<RuleColumn> columns, bool multi,
                QWidget* parent);

  RuleListModel* rule_model() const { return model_; }
  // A header click sorts through this (the owning dialog's logic).
  void set_column_click(std::function<void(RuleColumn)> click) { click_ = std::move(click); }

  // The rules changed: shows them again with no selection.
  void Reload();
  // The selected item (-1 when none) and every selected item in list order.
  int SelectedItem() const;
  std::vector<size_t> SelectedItems() const;

 signals:
  void editRequested();
  void deleteRequested();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ShowSortArrow();

  RuleListModel* model_;
  std::function<void(RuleColumn)> click_;
};

}  // namespace vigilo
