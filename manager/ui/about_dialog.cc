#include "manager/ui/about_dialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

#include "manager/commands.h"

namespace vigilo {

QIcon ProgramIcon() {
  return QIcon::fromTheme("preferences-system",
                          QApplication::style()->standardIcon(QStyle::SP_ComputerIcon));
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(kAboutTitle);
  setObjectName("AboutDialog");
  auto* icon = new QLabel(this);
  icon->setPixmap(ProgramIcon().pixmap(32, 32));
  auto* text = new QLabel(
      QString("%1\n\nA rules engine for the project databases of Orvik.").arg(kAboutVersion),
      this);
  auto* row = new QHBoxLayout;
  row->addWidget(icon, 0, Qt::AlignTop);
  row->addWidget(text, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
}

}  // namespace vigilo
