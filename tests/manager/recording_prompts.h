// A Prompts that records what the rule manager would have shown, and answers
// questions from a queue, for tests of the dialog logic.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "manager/prompts.h"

namespace vigilo::testing {

class RecordingPrompts : public Prompts {
 public:
  struct Shown {
    std::string text;
    PromptIcon icon;
    std::string caption;
  };

  void Message(const std::string& text, PromptIcon icon, const std::string& caption) override {
    shown.push_back({text, icon, caption});
  }
  bool AskYesNo(const std::string& text, const std::string& caption) override {
    shown.push_back({text, PromptIcon::kNone, caption});
    bool answer = answers.empty() ? false : answers.front();
    if (!answers.empty()) answers.pop_front();
    return answer;
  }
  void Beep() override { ++beeps; }
  void BeginWait() override { ++waits; ++waiting; }
  void EndWait() override { --waiting; }

  // The texts shown, in order.
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const Shown& s : shown) texts.push_back(s.text);
    return texts;
  }

  std::vector<Shown> shown;
  std::deque<bool> answers;
  int beeps = 0;
  int waits = 0;    // how often the wait cursor was shown
  int waiting = 0;  // shown and not yet taken back
};

}  // namespace vigilo::testing
