// Walks every window of the rule manager's gallery (the windows the
// screenshot renderer shows) on the demo installation: Alt+letter reaches one
// control in each dialog and menu, and the accessibility interface names
// every list, table, combo box, edit and button, no two buttons alike.
#include <QAbstractButton>
#include <QAccessible>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include "manager/manager_context.h"
#include "manager/ui/qt_prompts.h"
#include "manager/ui/window_gallery.h"
#include "tests/support/test_installation.h"

namespace vigilo {
namespace {

// The Alt+letter of a text, or an empty one ("&&" is a plain ampersand).
QString Mnemonic(const QString& text) {
  for (qsizetype i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (text[i + 1] != '&') return text[i + 1].toLower();
    ++i;
  }
  return QString();
}

// "letter: text" for each mnemonic used twice among texts.
QStringList Clashes(const QStringList& texts) {
  QMap<QString, QString> owner;
  QStringList clashes;
  for (const QString& text : texts) {
    QString key = Mnemonic(text);
    if (key.isEmpty()) continue;
    if (owner.contains(key)) clashes << key + ": " + owner[key] + " / " + text;
    owner[key] = text;
  }
  return clashes;
}

// The texts that carry a mnemonic in a window: its menu's actions, or its
// visible buttons, group boxes and labels with a buddy.
QStringList MnemonicTexts(QWidget* window) {
  QStringList texts;
  QList<QAction*> actions;
  if (auto* menu = qobject_cast<QMenu*>(window)) actions = menu->actions();
  for (QAction* action : actions) texts << action->text();
  for (auto* button : window->findChildren<QAbstractButton*>())
    if (button->isVisibleTo(window)) texts << button->text();
  for (auto* group : window->findChildren<QGroupBox*>())
    if (group->isVisibleTo(window)) texts << group->title();
  for (auto* label : window->findChildren<QLabel*>())
    if (label->isVisibleTo(window) && label->buddy() != nullptr) texts << label->text();
  return texts;
}

// What the accessibility interface finds wrong below an element: unnamed
// controls, and combo boxes named by their value; buttons' names go into
// names, and each control looked at counts in *seen.
void AccessibilityFaults(QAccessibleInterface* element, QStringList* names, QStringList* faults,
                         int* seen) {
  using R = QAccessible::Role;
  static const QList<R> kNamed = {R::List, R::Table, R::Tree, R::ComboBox, R::EditableText,
                                  R::PushButton};
  if (element == nullptr || element->state().invisible) return;
  R role = element->role();
  QString name = element->text(QAccessible::Name);
  if (kNamed.contains(role)) {
    QObject* object = element->object();
    QString what = QString("%1 %2").arg(object ? object->metaObject()->className() : "?",
                                        object ? object->objectName() : "");
    ++*seen;
    if (name.trimmed().isEmpty()) *faults << "unnamed " + what;
    if (role == R::ComboBox && name == element->text(QAccessible::Value))
      *faults << what + " named by its value " + name;
    if (role == R::PushButton) {
      if (names->contains(name)) *faults << "second button named " + name;
      *names << name;
    }
    if (role != R::PushButton) return;  // their items and popups are no controls of their own
  }
  for (int i = 0; i < element->childCount(); ++i) AccessibilityFaults(element->child(i), names, faults, seen);
}

}  // namespace

class DialogWalkTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { home_ = std::make_unique<testing::TestInstallation>(testing::InstallationBuilder::Demo()); }

  void everyMnemonicIsUniqueInItsWindow() {
    QStringList faults = Walk([](QWidget* window) {
      QStringList texts = MnemonicTexts(window);
      if (auto* frame = window->findChild<QMenuBar*>()) {
        QStringList bar;
        for (QAction* action : frame->actions()) bar << action->text();
        texts = Clashes(bar);
        for (QAction* action : frame->actions())
          if (action->menu()) texts << Clashes(MnemonicTexts(action->menu()));
        return texts;
      }
      return Clashes(texts);
    });
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
  }

  void everyControlHasAnAccessibleName() {
    int seen = 0;
    QStringList faults = Walk([&seen](QWidget* window) {
      QStringList names, found;
      AccessibilityFaults(QAccessible::queryAccessibleInterface(window), &names, &found, &seen);
      return found;
    });
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    QVERIFY2(seen > 60, qPrintable(QString("only %1 controls seen").arg(seen)));
  }

 private:
  // Each gallery window, shown while check looks.
  template <typename Check>
  QStringList Walk(Check check) {
    QtPrompts prompts;
    ManagerContext context(prompts);
    QStringList faults;
    int walked = 0;
    VisitWindowGallery(context, [&](QWidget* window, const char* name) {
      window->show();
      ++walked;
      for (const QString& fault : check(window)) faults << QString(name) + ": " + fault;
      window->hide();
    });
    if (walked < 15) faults << QString("only %1 windows walked").arg(walked);
    return faults;
  }

  std::unique_ptr<testing::TestInstallation> home_;
};

}  // namespace vigilo

QTEST_MAIN(vigilo::DialogWalkTest)
#include "dialog_walk_test.moc"
