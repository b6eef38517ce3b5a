#include "manager/ui/range_dialog.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "manager/open_project.h"
#include "manager/ui/dialog_buttons.h"
#include "manager/ui/list_controls.h"

namespace vigilo {
namespace {

// The label over the fields, the fields, and Ok and Cancel beside them.
void LayOut(QDialog* dialog, const std::string& label, QWidget* from, QWidget* to,
            QWidget* below = nullptr) {
  auto* fields = new QFormLayout;
  auto* from_label = new QLabel(kFromLabel, dialog);
  from_label->setBuddy(from);
  NameByLabel(from_label);
  auto* to_label = new QLabel(kToLabel, dialog);
  to_label->setBuddy(to);
  NameByLabel(to_label);
  fields->addRow(from_label, from);
  fields->addRow(to_label, to);
  auto* left = new QVBoxLayout;
  left->addWidget(new QLabel(QString::fromStdString(label), dialog));
  left->addLayout(fields);
  if (below != nullptr) left->addWidget(below);
  left->addStretch();

  auto* ok = new QPushButton(kDialogOkButton, dialog);
  ok->setDefault(true);
  auto* cancel = new QPushButton(kCancelButton, dialog);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addStretch();
  auto* layout = new QHBoxLayout(dialog);
  layout->addLayout(left, 1);
  layout->addLayout(buttons);
  QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
}

}  // namespace

CRangeDlg::CRangeDlg(const std::string& field_label, char date_separator,
                     const std::string& current, Prompts& prompts, QWidget* parent,
                     OperandCheck check)
    : QDialog(parent), logic_(field_label, date_separator, prompts, std::move(check)) {
  setWindowTitle(kRangeTitle);
  FitTitle(this);
  setObjectName("RangeDialog");
  auto [from, to] = SplitRangeText(current, date_separator);
  from_ = new QLineEdit(QString::fromStdString(from), this);
  from_->setObjectName("From");
  to_ = new QLineEdit(QString::fromStdString(to), this);
  to_->setObjectName("To");
  from_->setMaxLength(kRangeOperandLimit);
  to_->setMaxLength(kRangeOperandLimit);
  reason_ = ReasonLabel(this);
  LayOut(this, logic_.Label(), from_, to_, reason_);
  auto show_reason = [this] {
    ShowReason(reason_, logic_.Problem(from_->text().toStdString(), to_->text().toStdString()));
  };
  connect(from_, &QLineEdit::textChanged, this, show_reason);
  connect(to_, &QLineEdit::textChanged, this, show_reason);
  show_reason();
}

void CRangeDlg::accept() {
  std::optional<std::string> text =
      logic_.Ok(from_->text().toStdString(), to_->text().toStdString());
  if (!text) return;
  text_ = *text;
  QDialog::accept();
}

CFromToDlg::CFromToDlg(const CFieldDef* field, const std::string& field_label,
                       const std::string& current, Prompts& prompts, QWidget* parent)
    : QDialog(parent), logic_(field, field_label, current, prompts) {
  setWindowTitle(kFromToTitle);
  FitTitle(this);
  setObjectName("FromToDialog");
  from_ = new QComboBox(this);
  from_->setObjectName("From");
  to_ = new QComboBox(this);
  to_->setObjectName("To");
  for (const std::string& entry : logic_.Entries()) {
    from_->addItem(QString::fromStdString(entry));
    to_->addItem(QString::fromStdString(entry));
  }
  from_->setCurrentIndex(logic_.InitialFrom() ? static_cast<int>(*logic_.InitialFrom()) : -1);
  to_->setCurrentIndex(logic_.InitialTo() ? static_cast<int>(*logic_.InitialTo()) : -1);
  LayOut(this, logic_.Label(), from_, to_);
}

void CFromToDlg::accept() {
  std::optional<std::string> text =
      logic_.Ok(from_->currentText().toStdString(), to_->currentText().toStdString());
  if (!text) return;
  text_ = *text;
  QDialog::accept();
}

}  // namespace vigilo
