// The rule manager's help: one HTML page per help topic and a contents page,
// installed with the program and shown in its help window. Dialogs ask for a
// topic number; this maps the number to its page and finds the pages.
#pragma once

#include <string>
#include <vector>

namespace vigilo {

inline constexpr int kHelpContentsTopic = 0;

struct HelpTopic {
  int topic;
  const char* file;   // page file name in the help directory
  const char* title;  // its heading, as the contents page lists it
};

// The contents page first, then every numbered topic in number order.
const std::vector<HelpTopic>& HelpTopics();

// The page of a topic; an unknown topic gives the contents page.
const HelpTopic& HelpTopicFor(int topic);

// The directory holding the pages: VIGILO_HELP_DIR when set, else "help" in
// the program directory, else the installed help directory, else the pages of
// the source tree the program was built from; the first one that holds the
// contents page. Empty when none does.
std::string FindHelpDirectory(const std::string& program_dir);

// The full path of a topic's page in the help directory; empty when there is
// no help directory.
std::string HelpPagePath(const std::string& program_dir, int topic);

}  // namespace vigilo
