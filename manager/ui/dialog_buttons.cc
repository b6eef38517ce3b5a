#include "manager/ui/dialog_buttons.h"

#include <QApplication>
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

void SetHelpTopic(QWidget* window, int topic) { window->setProperty(kHelpTopicProperty, topic); }

}  // namespace vigilo
