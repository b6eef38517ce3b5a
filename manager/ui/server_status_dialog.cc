#include "manager/ui/server_status_dialog.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>

#include "manager/server_control.h"
#include "manager/ui/about_dialog.h"

namespace vigilo {

CServerStatusDlg::CServerStatusDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("ServerStatusDialog");
  setWindowTitle(kServerStatusTitle);
  setWindowIcon(ProgramIcon());
  setModal(false);
  setAttribute(Qt::WA_DeleteOnClose);
  auto* icon = new QLabel(this);
  icon->setPixmap(ProgramIcon().pixmap(32, 32));
  text_ = new QLabel(kServerStatusInitialText, this);
  text_->setObjectName("ServerStatusText");
  text_->setMinimumWidth(text_->fontMetrics().horizontalAdvance(kServerStoppingText) + 16);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(icon, 0, Qt::AlignTop);
  layout->addWidget(text_, 1);
  auto_hide_ = new QTimer(this);
  auto_hide_->setSingleShot(true);
  connect(auto_hide_, &QTimer::timeout, this, [this] {
    QWidget* main = parentWidget();
    close();
    if (main != nullptr) main->repaint();
  });
  qApp->installEventFilter(this);
}

CServerStatusDlg::~CServerStatusDlg() { qApp->removeEventFilter(this); }

void CServerStatusDlg::SetText(const QString& text) { text_->setText(text); }

QString CServerStatusDlg::Text() const { return text_->text(); }

void CServerStatusDlg::StartAutoHide() { auto_hide_->start(3000); }

bool CServerStatusDlg::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
      // The supervisor has seen it; the press still goes where it was aimed.
      QTimer::singleShot(0, this, &QWidget::close);
      break;
    default:
      break;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace vigilo
