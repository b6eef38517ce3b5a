#include "manager/ui/options_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "manager/ui/dialog_buttons.h"
#include "manager/ui/list_controls.h"

namespace vigilo {

COptionsDlg::COptionsDlg(const std::string& program_ini_path, Prompts& prompts, QWidget* parent)
    : QDialog(parent), logic_(program_ini_path, prompts) {
  setWindowTitle(kOptionsTitle);
  FitTitle(this);
  setObjectName("OptionsDialog");
  interval_ = new QLineEdit(QString::number(logic_.InitialInterval()), this);
  interval_->setObjectName("Interval");
  interval_->setMaxLength(9);
  interval_->setMaximumWidth(interval_->fontMetrics().horizontalAdvance("00000000"));
  auto* label = new QLabel(kFiresRulesEveryLabel, this);
  label->setBuddy(interval_);
  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(interval_);
  row->addWidget(new QLabel(kMinutesLabel, this));
  row->addStretch();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  reason_ = ReasonLabel(this);
  layout->addWidget(reason_);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &COptionsDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(interval_, &QLineEdit::textChanged, this, [this](const QString& text) {
    ShowReason(reason_, logic_.Problem(text.toStdString()));
  });
}

void COptionsDlg::accept() {
  if (logic_.Ok(interval_->text().toStdString())) {
    QDialog::accept();
    return;
  }
  interval_->setFocus();
  interval_->selectAll();
}

}  // namespace vigilo
