#include "manager/ui/login_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "manager/ui/dialog_buttons.h"

namespace vigilo {

CLoginDlg::CLoginDlg(Prompts& prompts, UserTableReader read_users, QWidget* parent)
    : QDialog(parent), logic_(prompts, std::move(read_users)) {
  setWindowTitle(kLoginTitle);
  setObjectName("LoginDialog");

  name_ = new QLineEdit(kSupervisorName, this);
  name_->setObjectName("LoginName");
  name_->setMaxLength(static_cast<int>(kLoginNameLimit));
  password_ = new QLineEdit(this);
  password_->setObjectName("Password");
  password_->setEchoMode(QLineEdit::Password);
  password_->setMaxLength(static_cast<int>(kPasswordLimit));

  auto* name_label = NamingLabel(kLoginNameLabel, name_, this);
  auto* password_label = NamingLabel(kPasswordLabel, password_, this);
  auto* fields = new QFormLayout;
  fields->addRow(name_label, name_);
  fields->addRow(password_label, password_);

  auto* ok = new QPushButton(kLoginOkButton, this);
  ok->setDefault(true);
  auto* cancel = new QPushButton(kLoginCancelButton, this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(kLoginWelcome, this));
  layout->addWidget(new QLabel(kLoginInstruction, this));
  layout->addLayout(fields);
  layout->addLayout(buttons);

  connect(ok, &QPushButton::clicked, this, &CLoginDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &CLoginDlg::reject);
  FitTitle(this);
  password_->setFocus();
}

void CLoginDlg::accept() {
  // The product computed the stored sums over one byte a character in the
  // Western code page; Latin-1 gives the same codes for every such letter.
  if (logic_.Ok(name_->text().toStdString(), password_->text().toLatin1().toStdString())) {
    QDialog::accept();
    return;
  }
  // Typing again replaces the refused password instead of adding to it.
  password_->setFocus();
  password_->selectAll();
}

void CLoginDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Over the main window's middle, where the supervisor is looking, even
  // before the window manager has placed the main window.
  if (QWidget* main = parentWidget(); main != nullptr && main->isVisible()) {
    move(main->frameGeometry().center() - rect().center());
  }
}

}  // namespace vigilo
