#include "manager/ui/query_type_dialog.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

#include "manager/query_type.h"
#include "manager/ui/dialog_buttons.h"
#include "manager/ui/list_controls.h"

namespace vigilo {

CQueryTypeDlg::CQueryTypeDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(kQueryTypeTitle);
  FitTitle(this);
  setObjectName("QueryTypeDialog");
  auto* group = new QGroupBox(kQueryTypePrompt, this);
  visual_ = new QRadioButton(kVisualQueryBuilderOption, group);
  visual_->setObjectName("VisualQueryBuilder");
  sql_ = new QRadioButton(kSqlQueryOption, group);
  sql_->setObjectName("SqlQuery");
  visual_->setChecked(true);
  auto* options = new QVBoxLayout(group);
  options->addWidget(visual_);
  options->addWidget(sql_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

RuleBrowsers::QueryType CQueryTypeDlg::choice() const {
  return sql_->isChecked() ? RuleBrowsers::QueryType::kSqlQuery
                           : RuleBrowsers::QueryType::kVisualQueryBuilder;
}

}  // namespace vigilo
