// Prompts: every message box, question and beep of the rule manager.
//
// The dialog logic of the rule manager never talks to a toolkit: it tells the
// supervisor things through this interface, which the program implements with
// message boxes and the tests with a recorder. Messages carry the program
// title as caption unless a caller names another one (the mail library's
// start-up failure is captioned with the short application title).
#pragma once

#include <string>

#include "data/message_reporter.h"
#include "data/translation_context.h"

namespace vigilo {

// Caption of the rule manager's message boxes.
inline constexpr const char* kProgramCaption = "Morvane Vigilo";
// The application title, the caption of the one start-up failure shown before
// the settings exist.
inline constexpr const char* kApplicationTitle = "Vigilo";

enum class PromptIcon { kNone, kInformation, kWarning, kError };

class Prompts {
 public:
  virtual ~Prompts() = default;

  // A message with an OK button; returns when the supervisor has read it.
  virtual void Message(const std::string& text, PromptIcon icon = PromptIcon::kNone,
                       const std::string& caption = kProgramCaption) = 0;
  // A question with Yes and No; true for Yes.
  virtual bool AskYesNo(const std::string& text,
                        const std::string& caption = kProgramCaption) = 0;
  // The short warning sound of a refused gesture.
  virtual void Beep() = 0;
  // The wait cursor around a step that may take a while (connecting to a data
  // source). Calls nest; the default shows nothing.
  virtual void BeginWait() {}
  virtual void EndWait() {}

  // A Reporter (the data layer's message channel) that shows each message as
  // a plain message box with the program title.
  Reporter AsReporter();
  // The same for the engine's MessageReporter (the user-table readers).
  MessageReporter AsMessageReporter();
};

// Shows the wait cursor for the life of the object.
class WaitCursor {
 public:
  explicit WaitCursor(Prompts& prompts) : prompts_(prompts) { prompts_.BeginWait(); }
  ~WaitCursor() { prompts_.EndWait(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  Prompts& prompts_;
};

}  // namespace vigilo
