#include "manager/ui/vigilo_view.h"

#include <QMetaObject>
#include <QTimer>
#include <QVBoxLayout>

#include "manager/activity.h"
#include "manager/ui/activity_view.h"
#include "manager/ui/main_frame.h"
#include "manager/ui/server_status_dialog.h"

namespace vigilo {
CVigiloView::CVigiloView(CMainFrame& frame, Prompts& prompts, ServerControlOptions options)
    : QWidget(&frame), frame_(frame) {
  setObjectName("VigiloView");
  server_ = std::make_unique<ServerControl>(prompts, *this, std::move(options));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  activity_ = new ActivityView(ActivityServerDirectory(), this);
  layout->addWidget(activity_);
}

CVigiloView::~CVigiloView() {
  // The server goes first: stopping it may still touch the timers.
  server_.reset();
  DestroyStatusWindow();
}

bool CVigiloView::TimerActive(int id) const {
  auto it = timers_.find(id);
  return it != timers_.end() && it->second->isActive();
}

bool CVigiloView::IsMinimized() const { return frame_.isMinimized(); }

bool CVigiloView::ShowStatusWindow(const std::string& text) {
  if (!status_) {
    status_ = new CServerStatusDlg(&frame_);
    if (!status_) return false;
    status_->adjustSize();
    status_->move(frame_.geometry().center() - status_->rect().center());
  }
  status_->SetText(QString::fromStdString(text));
  status_->show();
  status_->repaint();
  return true;
}

void CVigiloView::DestroyStatusWindow() {
  if (status_) delete status_.data();
}

void CVigiloView::SetPaneText(int pane, const std::string& text) {
  frame_.SetPaneText(pane, QString::fromStdString(text));
}

void CVigiloView::SetServerRunning(bool running) { frame_.SetServerRunning(running); }

void CVigiloView::RepaintMainWindow() { frame_.repaint(); }

void CVigiloView::CloseMainWindow() {
  // Asked from inside the frame's own close request, a close would be
  // ignored; the event loop delivers it once that request has ended.
  QMetaObject::invokeMethod(&frame_, &QWidget::close, Qt::QueuedConnection);
}

void CVigiloView::StartTimer(int id, std::chrono::milliseconds interval) {
  QTimer*& timer = timers_[id];
  if (timer == nullptr) {
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this, id] { server_->OnTimer(id); });
  }
  timer->start(interval);
}

void CVigiloView::KillTimer(int id) {
  auto it = timers_.find(id);
  if (it != timers_.end()) it->second->stop();
}

void CVigiloView::PostToUi(std::function<void()> task) {
  QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

}  // namespace vigilo
