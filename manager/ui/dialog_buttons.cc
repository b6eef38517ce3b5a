#include "manager/ui/dialog_buttons.h"

#include <algorithm>

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
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

void FitTitle(QWidget* window) {
  // A minimum width set on the window would replace the one its layout
  // gives, so the layout gets a strut instead.
  if (auto* column = qobject_cast<QVBoxLayout*>(window->layout())) {
    column->addStrut(TitleWidth(window));
  } else if (window->layout() == nullptr) {
    window->setMinimumWidth(std::max(window->minimumWidth(), TitleWidth(window)));
  }
}

void SetHelpTopic(QWidget* window, int topic) { window->setProperty(kHelpTopicProperty, topic); }

}  // namespace vigilo
