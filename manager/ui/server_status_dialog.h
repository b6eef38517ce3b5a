// CServerStatusDlg: the small modeless "Vigilo Server" window that says what
// the in-process server is doing while it starts or stops. It goes away when
// the server has started or stopped, on any key or mouse-button press in the
// program, or (auto-hide) after three seconds of its own.
#pragma once

#include <QDialog>

class QLabel;
class QTimer;

namespace vigilo {

class CServerStatusDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CServerStatusDlg(QWidget* parent);
  ~CServerStatusDlg() override;

  void SetText(const QString& text);
  QString Text() const;
  // Closes the window 3000 ms from now, repainting the main window.
  void StartAutoHide();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLabel* text_ = nullptr;
  QTimer* auto_hide_ = nullptr;
};

}  // namespace vigilo
