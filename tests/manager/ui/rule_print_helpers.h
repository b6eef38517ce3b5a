// Printing in the rule manager's view tests: a printer chooser that prints to
// a PDF file instead of asking, and the text of that file read back with
// pdftotext.
#pragma once

#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include "manager/ui/rule_printing_view.h"

namespace vigilo::testing {

inline PrinterChooser PdfPrinter(const QString& path, int* prints) {
  return [path, prints](QPrinter& printer) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    ++*prints;
    return true;
  };
}

// The PDF's text, pages separated by form feeds; empty when it cannot be read.
inline QString PdfText(const QString& path) {
  QString tool = QStandardPaths::findExecutable("pdftotext");
  if (tool.isEmpty()) return "<pdftotext is not installed (poppler-utils)>";
  QProcess process;
  process.start(tool, {"-layout", path, "-"});
  if (!process.waitForFinished(30000)) return QString();
  return QString::fromUtf8(process.readAllStandardOutput());
}

}  // namespace vigilo::testing
