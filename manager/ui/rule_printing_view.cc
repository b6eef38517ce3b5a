#include "manager/ui/rule_printing_view.h"

#include <algorithm>

#include <QFontMetrics>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include "manager/rule_printing.h"

namespace vigilo {

PrinterChooser PrintDialogChooser(QWidget* parent) {
  return [parent](QPrinter& printer) {
    QPrintDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
  };
}

PrintHeading HeadingNow(const std::string& installation, const std::string& project_table) {
  return {installation, PrintDate(std::time(nullptr)), project_table};
}

bool PrintRuleLines(QPrinter& printer, const std::vector<std::string>& lines,
                    const PrintHeading& heading) {
  QPainter painter;
  if (!painter.begin(&printer)) return false;
  QFontMetrics metrics = painter.fontMetrics();
  // Character height plus the font's external leading.
  int step = std::max(1, metrics.lineSpacing());
  int per_page = std::max(1, painter.window().height() / step);
  std::vector<std::vector<std::string>> pages =
      HeadedPages(lines, heading, static_cast<size_t>(per_page));
  for (size_t page = 0; page < pages.size(); ++page) {
    if (page > 0) printer.newPage();
    int top = 0;
    for (const std::string& line : pages[page]) {
      painter.drawText(1, top + metrics.ascent(), QString::fromStdString(line));
      top += step;
    }
  }
  return painter.end();
}

bool RunRulePrint(const std::vector<std::string>& lines, const PrintHeading& heading,
                  const PrinterChooser& choose) {
  QPrinter printer(QPrinter::HighResolution);
  if (!choose(printer)) return false;
  return PrintRuleLines(printer, lines, heading);
}

void PreviewRuleLines(const std::vector<std::string>& lines, const PrintHeading& heading,
                      QWidget* parent) {
  QPrinter printer(QPrinter::HighResolution);
  QPrintPreviewDialog preview(&printer, parent);
  QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview,
                   [&lines, &heading](QPrinter* target) {
                     PrintRuleLines(*target, lines, heading);
                   });
  preview.exec();
}

}  // namespace vigilo
