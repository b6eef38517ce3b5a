// QtPrompts: the rule manager's messages, questions, beeps and wait cursor as
// message boxes over the active window.
#pragma once

#include <QPointer>
#include <QWidget>

#include "manager/prompts.h"

namespace vigilo {

class QtPrompts : public Prompts {
 public:
  // Message boxes are centred on the parent (or the active window when null).
  explicit QtPrompts(QWidget* parent = nullptr) : parent_(parent) {}

  void Message(const std::string& text, PromptIcon icon = PromptIcon::kNone,
               const std::string& caption = kProgramCaption) override;
  bool AskYesNo(const std::string& text, const std::string& caption = kProgramCaption) override;
  void Beep() override;
  void BeginWait() override;
  void EndWait() override;

 private:
  QWidget* Parent() const;
  QPointer<QWidget> parent_;
};

}  // namespace vigilo
