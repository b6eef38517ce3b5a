#include "manager/ui/input_value_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "manager/ui/dialog_buttons.h"
#include "manager/ui/list_controls.h"

namespace vigilo {

CInputValueDlg::CInputValueDlg(const std::string& label, const std::string& value,
                               Prompts& prompts, QWidget* parent, bool numeric)
    : QDialog(parent), logic_(label, prompts, numeric) {
  setWindowTitle(kInputValueTitle);
  FitTitle(this);
  setObjectName("InputValueDialog");
  edit_ = new QLineEdit(this);
  edit_->setObjectName("Value");
  edit_->setMaxLength(static_cast<int>(kInputValueLimit));
  edit_->setText(QString::fromStdString(value));
  edit_->setMinimumWidth(edit_->fontMetrics().horizontalAdvance(QString(40, 'x')));
  auto* caption = new QLabel(QString::fromStdString(label), this);
  caption->setBuddy(edit_);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(kInputValueOkButton, QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton(kInputValueCancelButton, QDialogButtonBox::RejectRole);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(caption);
  layout->addWidget(edit_);
  reason_ = ReasonLabel(this);
  layout->addWidget(reason_);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &CInputValueDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(edit_, &QLineEdit::textChanged, this, [this](const QString& text) {
    ShowReason(reason_, logic_.Problem(text.toStdString()));
  });
  ShowReason(reason_, logic_.Problem(value));
}

void CInputValueDlg::accept() {
  if (std::optional<std::string> value = logic_.Ok(edit_->text().toStdString())) {
    value_ = *value;
    QDialog::accept();
    return;
  }
  edit_->setFocus();
}

}  // namespace vigilo
