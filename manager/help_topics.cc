#include "manager/help_topics.h"

#include <cstdlib>
#include <filesystem>

#include "common/paths.h"

#ifndef VIGILO_HELP_INSTALL_DIR
#define VIGILO_HELP_INSTALL_DIR ""
#endif
#ifndef VIGILO_HELP_SOURCE_DIR
#define VIGILO_HELP_SOURCE_DIR ""
#endif

namespace vigilo {

const std::vector<HelpTopic>& HelpTopics() {
  static const std::vector<HelpTopic> topics = {
      {kHelpContentsTopic, "contents.html", "Vigilo Help Contents"},
      {618, "topic-618.html", "Choosing a project"},
      {620, "topic-620.html", "Query Builder"},
      {622, "topic-622.html", "Choosing an operator"},
      {624, "topic-624.html", "Choosing values"},
      {626, "topic-626.html", "Choosing a keyword"},
      {628, "topic-628.html", "Writing an SQL query"},
      {630, "topic-630.html", "Notify list"},
      {632, "topic-632.html", "Setting up rules"},
  };
  return topics;
}

const HelpTopic& HelpTopicFor(int topic) {
  for (const HelpTopic& entry : HelpTopics()) {
    if (entry.topic == topic) return entry;
  }
  return HelpTopics().front();
}

std::string FindHelpDirectory(const std::string& program_dir) {
  std::vector<std::string> candidates;
  if (const char* dir = std::getenv("VIGILO_HELP_DIR"); dir && *dir) candidates.push_back(dir);
  if (!program_dir.empty()) candidates.push_back(JoinPath(program_dir, "help"));
  candidates.push_back(VIGILO_HELP_INSTALL_DIR);
  candidates.push_back(VIGILO_HELP_SOURCE_DIR);
  std::error_code ec;
  for (const std::string& dir : candidates) {
    if (dir.empty()) continue;
    if (std::filesystem::is_regular_file(JoinPath(dir, HelpTopics().front().file), ec)) return dir;
  }
  return "";
}

std::string HelpPagePath(const std::string& program_dir, int topic) {
  std::string dir = FindHelpDirectory(program_dir);
  return dir.empty() ? "" : JoinPath(dir, HelpTopicFor(topic).file);
}

}  // namespace vigilo
