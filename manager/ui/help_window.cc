#include "manager/ui/help_window.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "data/server_paths.h"
#include "manager/help_topics.h"

namespace vigilo {

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("HelpWindow");
  setWindowTitle("Vigilo Help");
  browser_ = new QTextBrowser(this);
  browser_->setObjectName("HelpText");
  browser_->setOpenExternalLinks(false);
  auto* back = new QPushButton("&Back", this);
  back->setObjectName("HelpBack");
  back->setEnabled(false);
  auto* home = new QPushButton("H&ome", this);
  home->setObjectName("HelpHome");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(back);
  buttons->addWidget(home);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 4, 0, 0);
  layout->addLayout(buttons);
  layout->addWidget(browser_);
  browser_->setAccessibleName("Help page");
  connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
  connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
  connect(home, &QPushButton::clicked, this, [this] { ShowTopic(kHelpContentsTopic); });
  resize(640, 520);
  connect(browser_, &QTextBrowser::sourceChanged, this,
          [this] { setWindowTitle("Vigilo Help - " + browser_->documentTitle()); });
}

bool HelpWindow::ShowTopic(int topic) {
  std::string page = HelpPagePath(ProgramDirectory(), topic);
  if (page.empty()) {
    browser_->setHtml(
        "<h1>Help is not installed</h1><p>The help pages of Vigilo were not found in the "
        "help directory of the program directory, in the installed help directory or in "
        "VIGILO_HELP_DIR.</p>");
  } else {
    browser_->setSource(QUrl::fromLocalFile(QString::fromStdString(page)));
  }
  show();
  raise();
  activateWindow();
  return !page.empty();
}

HelpWindow* ProgramHelpWindow() {
  static QPointer<HelpWindow> window;
  if (!window) {
    window = new HelpWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    // Closing the main window ends the program even while help is open.
    window->setAttribute(Qt::WA_QuitOnClose, false);
  }
  return window;
}

void ShowHelpTopic(int topic) {
  HelpWindow* window = ProgramHelpWindow();
  // A modal dialog blocks every window but its own; asked from one, the help
  // window becomes that dialog's (still a window of its own) and closes with it.
  QWidget* modal = QApplication::activeModalWidget();
  if (window->parentWidget() != modal && modal != window) window->setParent(modal, Qt::Window);
  window->ShowTopic(topic);
}

}  // namespace vigilo
