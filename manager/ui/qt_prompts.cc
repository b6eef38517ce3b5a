#include "manager/ui/qt_prompts.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

#include "manager/ui/dialog_buttons.h"

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

// A message box sizes itself to its text; a short text would leave the
// caption cut in the title bar, so a strut keeps the box as wide as it.
void KeepCaptionWhole(QMessageBox& box) {
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (grid == nullptr) return;
  grid->addItem(new QSpacerItem(TitleWidth(&box), 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                grid->rowCount(), 0, 1, grid->columnCount());
}

}  // namespace

QWidget* QtPrompts::Parent() const {
  if (parent_) return parent_;
  return QApplication::activeWindow();
}

void QtPrompts::Message(const std::string& text, PromptIcon icon, const std::string& caption) {
  QMessageBox box(BoxIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::Ok, Parent());
  KeepCaptionWhole(box);
  // While the wait cursor is up the supervisor must still see an arrow here.
  QApplication::setOverrideCursor(Qt::ArrowCursor);
  box.exec();
  QApplication::restoreOverrideCursor();
}

bool QtPrompts::AskYesNo(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::Question, QString::fromStdString(caption),
                  QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No, Parent());
  KeepCaptionWhole(box);
  QApplication::setOverrideCursor(Qt::ArrowCursor);
  int answer = box.exec();
  QApplication::restoreOverrideCursor();
  return answer == QMessageBox::Yes;
}

void QtPrompts::Beep() { QApplication::beep(); }

void QtPrompts::BeginWait() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void QtPrompts::EndWait() { QApplication::restoreOverrideCursor(); }

}  // namespace vigilo
