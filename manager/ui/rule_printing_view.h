// Printing rule lines: the printer chosen in the print dialog (or, in tests,
// a PDF file), the lines drawn at the left edge one line height apart under
// each page's heading, and lines that do not fit on a page continued on the
// next one.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "manager/rule_printing.h"

class QPrinter;
class QWidget;

namespace vigilo {

// Sets the printer up for a print; false when the supervisor cancelled.
using PrinterChooser = std::function<bool(QPrinter& printer)>;
// The print dialog over parent.
PrinterChooser PrintDialogChooser(QWidget* parent);

// Draws the lines onto the printer; false when the printer could not start.
bool PrintRuleLines(QPrinter& printer, const std::vector<std::string>& lines,
                    const PrintHeading& heading);
// Chooses the printer, then prints; false when nothing was printed.
bool RunRulePrint(const std::vector<std::string>& lines, const PrintHeading& heading,
                  const PrinterChooser& choose);
// The print preview of the lines, modal over parent.
void PreviewRuleLines(const std::vector<std::string>& lines, const PrintHeading& heading,
                      QWidget* parent);
// The heading of a print made now of the installation's rules.
PrintHeading HeadingNow(const std::string& installation, const std::string& project_table = "");

}  // namespace vigilo
