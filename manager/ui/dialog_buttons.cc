#include "manager/ui/dialog_buttons.h"

#include <QPushButton>

#include "manager/open_project.h"
#include "manager/ui/help_window.h"

namespace vigilo {

QVBoxLayout* OkCancelHelpColumn(QDialog* dialog, int help_topic) {
  auto* ok = new QPushButton(kOkButton, dialog);
  ok->setDefault(true);
  auto* cancel = new QPushButton(kCancelButton, dialog);
  auto* help = new QPushButton(kHelpButton, dialog);
  help->setAutoDefault(false);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addWidget(help);
  buttons->addStretch();
  QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  QObject::connect(help, &QPushButton::clicked, dialog,
                   [help_topic] { ShowHelpTopic(help_topic); });
  return buttons;
}

}  // namespace vigilo
