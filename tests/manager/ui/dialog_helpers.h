// Helpers for driving the rule manager's dialogs in Qt Test: answering the
// next modal window from the event loop, and checking that every input is
// named by its label.
#pragma once

#include <functional>
#include <memory>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace vigilo::testing {

// The widget of type T named name among parent's children, as a user finds a
// control by its place; the test program stops with the name when there is
// none, rather than crash on a null pointer later.
template <typename T>
T* Child(const QObject* parent, const char* name) {
  T* child = parent->findChild<T*>(QString::fromLatin1(name));
  if (child == nullptr) qFatal("no %s named %s", T::staticMetaObject.className(), name);
  return child;
}

// Calls answer with the next modal window of type T as soon as it is shown
// (it is looked for every 10 ms, for at most 10 seconds).
template <typename T>
void AnswerModal(std::function<void(T*)> answer) {
  auto attempts = std::make_shared<int>(0);
  auto step = std::make_shared<std::function<void()>>();
  *step = [answer, attempts, weak = std::weak_ptr<std::function<void()>>(step)] {
    if (auto* window = qobject_cast<T*>(QApplication::activeModalWidget())) {
      answer(window);
      return;
    }
    if (++*attempts > 1000) return;
    if (auto next = weak.lock()) QTimer::singleShot(10, [next] { (*next)(); });
  };
  // The chain keeps itself alive until it has answered or given up.
  QTimer::singleShot(0, [step] { (*step)(); });
}

// What a message box showed.
struct ShownMessage {
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool shown = false;
};

// Answers the next message box with OK and records it.
inline void AcceptNextMessage(ShownMessage* shown) {
  AnswerModal<QMessageBox>([shown](QMessageBox* box) {
    shown->caption = box->windowTitle();
    shown->text = box->text();
    shown->icon = box->icon();
    shown->shown = true;
    box->button(QMessageBox::Ok)->click();
  });
}

// Every line edit and drop-down of the dialog is the buddy of a label, so a
// screen reader names it by the label's text.
inline bool EveryInputHasALabel(QWidget* dialog, QString* missing) {
  QList<QWidget*> inputs;
  for (auto* edit : dialog->findChildren<QLineEdit*>()) {
    // A combo box's own editor is named through the combo box.
    if (!qobject_cast<QComboBox*>(edit->parentWidget())) inputs.append(edit);
  }
  for (auto* combo : dialog->findChildren<QComboBox*>()) inputs.append(combo);
  for (QWidget* input : inputs) {
    bool named = false;
    for (auto* label : dialog->findChildren<QLabel*>()) named = named || label->buddy() == input;
    if (!named) {
      *missing = input->metaObject()->className();
      return false;
    }
  }
  return true;
}

// The label whose buddy the widget is; its text, or an empty text.
inline QString LabelOf(QWidget* dialog, QWidget* input) {
  for (auto* label : dialog->findChildren<QLabel*>()) {
    if (label->buddy() == input) return label->text();
  }
  return QString();
}

// The push button with this text (mnemonic included).
inline QPushButton* Button(QWidget* dialog, const QString& text) {
  for (auto* button : dialog->findChildren<QPushButton*>()) {
    if (button->text() == text) return button;
  }
  return nullptr;
}

}  // namespace vigilo::testing
