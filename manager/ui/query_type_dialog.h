// CQueryTypeDlg: the Select Query Type dialog, asked when a rule has no
// condition yet: compose it in the Query Builder or write a free SQL query.
#pragma once

#include <QDialog>

#include "manager/rule_browsers.h"

class QRadioButton;

namespace vigilo {

class CQueryTypeDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CQueryTypeDlg(QWidget* parent = nullptr);

  RuleBrowsers::QueryType choice() const;

 private:
  QRadioButton* visual_;
  QRadioButton* sql_;
};

}  // namespace vigilo
