#include "manager/ui/explain_dialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include <sstream>

#include "data/server_paths.h"
#include "service/explain_command.h"

namespace vigilo {

void ShowExplanation(QWidget* parent, int32_t rule_id, long long form_id) {
  const bool written_back = DefaultsWrittenBack();
  SetDefaultsWrittenBack(false);
  Explanation explanation;
  std::string why;
  std::ostringstream text;
  if (ExplainRule(rule_id, form_id, &explanation, &why)) {
    PrintExplanation(explanation, /*json=*/false, text);
  } else {
    text << why << "\n";
  }
  SetDefaultsWrittenBack(written_back);

  QDialog dialog(parent);
  dialog.setObjectName("ExplainDialog");
  dialog.setWindowTitle(QString("Explain Rule %1, Record %2").arg(rule_id).arg(form_id));
  auto* layout = new QVBoxLayout(&dialog);
  auto* view = new QPlainTextEdit(QString::fromStdString(text.str()), &dialog);
  view->setObjectName("explanation");
  view->setReadOnly(true);
  view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  view->setMinimumSize(640, 360);
  layout->addWidget(view);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  dialog.exec();
}

}  // namespace vigilo
