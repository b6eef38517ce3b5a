// The column of OK, Cancel and Help buttons at the right of the rule
// manager's dialogs: OK is the default button and accepts the dialog, Cancel
// rejects it, Help opens the dialog's help topic and never takes the Enter key.
//
// Beside it, what every dialog shares for keys and screen readers: labels
// that name their input, and the F1 key opening the active window's help.
#pragma once

#include <QDialog>
#include <QVBoxLayout>

class QApplication;
class QLabel;

namespace vigilo {

QVBoxLayout* OkCancelHelpColumn(QDialog* dialog, int help_topic);

// A label (with its mnemonic) whose buddy is input; the input's accessible
// name becomes the label's text without the mnemonic's ampersand, so a
// screen reader names a combo box by its label rather than its current value.
QLabel* NamingLabel(const char* text, QWidget* input, QWidget* parent);
// The text without its mnemonic marks ("&&" stays one "&").
QString WithoutMnemonic(const QString& text);

// F1 anywhere in the program opens the active window's help: the topic set
// with SetHelpTopic, else what the window's visible Help button opens.
void InstallHelpKey(QApplication& application);

// Gives a window laid out in a column a minimum width at which its title is
// shown whole beside the window manager's buttons, at any scale (the font's
// size follows it). Windows laid out in a row are as wide as their lists.
void FitTitle(QWidget* window);
// The width FitTitle gives: the title's and the title bar's buttons'.
int TitleWidth(const QWidget* window);
void SetHelpTopic(QWidget* window, int topic);

}  // namespace vigilo
