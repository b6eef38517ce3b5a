// The rule manager's help window: one window for the whole program showing
// the HTML page of a help topic (manager/help_topics.h), with links between
// the pages followed inside it, Back to the page before and Home to the
// contents.
#pragma once

#include <QWidget>

class QTextBrowser;

namespace vigilo {

class HelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit HelpWindow(QWidget* parent = nullptr);

  // Shows a topic's page (an unknown topic shows the contents) and raises the
  // window. Returns false, showing a note in the window, when the help pages
  // are not installed.
  bool ShowTopic(int topic);


 private:
  QTextBrowser* browser_;
};

// The program's help window, created on first use.
HelpWindow* ProgramHelpWindow();

// Shows a topic in the program's help window, usable beside the modal dialog
// that asked for it.
void ShowHelpTopic(int topic);

}  // namespace vigilo
