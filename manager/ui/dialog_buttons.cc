#include "manager/ui/dialog_buttons.h"

#include <algorithm>

#include <QApplication>
#include <QFontMetrics>
#include <QEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QLabel>
#include <QPushButton>

#include "manager/open_project.h"
#include "manager/ui/help_window.h"

namespace vigilo {

QVBoxLayout* OkCancelHelpColumn(QDialog* dialog, int help_topic) {
  auto* ok = new QPushButton(kOkButton, dialog);
  ok->setDefault(true);
  auto* cancel = new QPushButton(kCancelButton, dialog);
  auto* help = new QPushButton(kHelpButton, dialog);
  help->setAutoDefault(false);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addWidget(help);
  buttons->addStretch();
  QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  QObject::connect(help, &QPushButton::clicked, dialog,
                   [help_topic] { ShowHelpTopic(help_topic); });
  return buttons;
}

QString WithoutMnemonic(const QString& text) {
  QString plain;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    plain += text[i];
  }
  return plain;
}

QLabel* NamingLabel(const char* text, QWidget* input, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(input);
  input->setAccessibleName(WithoutMnemonic(label->text()));
  return label;
}

namespace {

constexpr const char* kHelpTopicProperty = "vigiloHelpTopic";

// Watches the whole program's key presses for F1; other keys pass on.
class HelpKeyFilter : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress ||
        static_cast<QKeyEvent*>(event)->key() != Qt::Key_F1 || !watched->isWidgetType()) {
      return false;
    }
    QWidget* window = static_cast<QWidget*>(watched)->window();
    QVariant topic = window->property(kHelpTopicProperty);
    if (topic.isValid()) {
      ShowHelpTopic(topic.toInt());
      return true;
    }
    for (auto* button : window->findChildren<QPushButton*>()) {
      if (button->isVisible() && button->isEnabled() &&
          WithoutMnemonic(button->text()) == QLatin1String("Help")) {
        button->click();
        return true;
      }
    }
    return false;
  }
};

}  // namespace

void InstallHelpKey(QApplication& application) {
  application.installEventFilter(new HelpKeyFilter(&application));
}

int TitleWidth(const QWidget* window) {
  // Title bars use a bold face a little larger than the window's font; the
  // icon and the close, minimise and maximise buttons take about eight
  // average characters more.
  QFont title_font = window->font();
  title_font.setBold(true);
  QFontMetrics metrics(title_font);
  return metrics.horizontalAdvance(window->windowTitle()) * 6 / 5 +
         metrics.averageCharWidth() * 8 + 48;
}

// Keeps a window, from its first showing on, at least as wide as its title
// needs. An explicit minimum width replaces the one the layout gives, so it
// holds the layout's too.
class TitleFit : public QObject {
 public:
  explicit TitleFit(QWidget* window) : QObject(window), window_(window) {
    window->installEventFilter(this);
  }

  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::Show) return false;
    int width = TitleWidth(window_);
    if (QLayout* layout = window_->layout()) {
      width = std::max(width, layout->totalMinimumSize().width());
    }
    window_->setMinimumWidth(std::max(window_->minimumWidth(), width));
    if (window_->width() < width) window_->resize(width, window_->height());
    return false;
  }

 private:
  QWidget* window_;
};

void FitTitle(QWidget* window) { new TitleFit(window); }

void SetHelpTopic(QWidget* window, int topic) { window->setProperty(kHelpTopicProperty, topic); }

}  // namespace vigilo
