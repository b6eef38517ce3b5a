#include "manager/ui/qt_prompts.h"

#include <QApplication>
#include <QMessageBox>

namespace vigilo {
namespace {

QMessageBox::Icon BoxIcon(PromptIcon icon) {
  switch (icon) {
    case PromptIcon::kInformation: return QMessageBox::Information;
    case PromptIcon::kWarning: return QMessageBox::Warning;
    case PromptIcon::kError: return QMessageBox::Critical;
    case PromptIcon::kNone: break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

QWidget* QtPrompts::Parent() const {
  if (parent_) return parent_;
  return QApplication::activeWindow();
}

void QtPrompts::Message(const std::string& text, PromptIcon icon, const std::string& caption) {
  QMessageBox box(BoxIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::Ok, Parent());
  // While the wait cursor is up the supervisor must still see an arrow here.
  QApplication::setOverrideCursor(Qt::ArrowCursor);
  box.exec();
  QApplication::restoreOverrideCursor();
}

bool QtPrompts::AskYesNo(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::Question, QString::fromStdString(caption),
                  QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No, Parent());
  QApplication::setOverrideCursor(Qt::ArrowCursor);
  int answer = box.exec();
  QApplication::restoreOverrideCursor();
  return answer == QMessageBox::Yes;
}

void QtPrompts::Beep() { QApplication::beep(); }

void QtPrompts::BeginWait() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void QtPrompts::EndWait() { QApplication::restoreOverrideCursor(); }

}  // namespace vigilo
