#include "manager/ui/qt_prompts.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

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

// A short message gives a narrow box whose caption a title bar cuts to
// "M...lo": a row of the caption's width (in bold, with room for the title
// bar's buttons) keeps it whole. A message box takes no minimum width of its
// own, so the row goes into its layout.
void FitCaption(QMessageBox& box) {
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (grid == nullptr) return;
  QFont bold = box.font();
  bold.setBold(true);
  QFontMetrics metrics(bold);
  int width = metrics.horizontalAdvance(box.windowTitle()) + 6 * metrics.height();
  grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
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
  FitCaption(box);
  // While the wait cursor is up the supervisor must still see an arrow here.
  QApplication::setOverrideCursor(Qt::ArrowCursor);
  box.exec();
  QApplication::restoreOverrideCursor();
}

bool QtPrompts::AskYesNo(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::Question, QString::fromStdString(caption),
                  QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No, Parent());
  FitCaption(box);
  QApplication::setOverrideCursor(Qt::ArrowCursor);
  int answer = box.exec();
  QApplication::restoreOverrideCursor();
  return answer == QMessageBox::Yes;
}

void QtPrompts::Beep() { QApplication::beep(); }

void QtPrompts::BeginWait() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void QtPrompts::EndWait() { QApplication::restoreOverrideCursor(); }

}  // namespace vigilo
