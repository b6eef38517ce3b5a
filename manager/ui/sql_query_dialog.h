// CSqlQueryDlg: the SQL Query dialog, a rule condition written as the tables
// to select from and a WHERE clause (SqlQueryLogic); its "..." button opens
// CSelectTablesDlg on the project's tables.
#pragma once

#include <functional>

#include <QDialog>

#include "manager/select_tables.h"
#include "manager/sql_query.h"

class QLineEdit;
class QListWidget;
class QPushButton;

namespace vigilo {

class CSelectTablesDlg : public QDialog {
  Q_OBJECT

 public:
  CSelectTablesDlg(std::vector<std::string> tables, const std::string& current, Prompts& prompts,
                   QWidget* parent = nullptr);

  const std::string& text() const { return text_; }

  void accept() override;

 private:
  SelectTablesLogic logic_;
  QListWidget* tables_;
  std::string text_;
};

// Where the "..." button finds the project's tables (by their From-names).
using TableLister = std::function<std::vector<std::string>()>;

class CSqlQueryDlg : public QDialog {
  Q_OBJECT

 public:
  CSqlQueryDlg(const std::string& condition, TableLister tables, Prompts& prompts,
               QWidget* parent = nullptr);

  const std::string& condition() const { return condition_; }

  void accept() override;

 private:
  void SelectTables();

  SqlQueryLogic logic_;
  TableLister tables_;
  Prompts& prompts_;
  QLineEdit* from_;
  QLineEdit* where_;
  QPushButton* tables_button_;
  std::string condition_;
};

}  // namespace vigilo
