// CAboutDlg: the About box with the program icon and version line.
#pragma once

#include <QDialog>
#include <QIcon>

namespace vigilo {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

// The program's icon, taken from the style so the program carries no image files.
QIcon ProgramIcon();

}  // namespace vigilo
