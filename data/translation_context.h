// What the translation of conditions and values needs to know besides the
// text: the user's date format, the project's database kind, which program
// translates (the two differ in the dialect and the date forms they write),
// and where a message for the user goes.
//
// The rule service writes SQL for every kind (dBase projects included, since
// it reaches them through the dBase SQL engine). The rule manager's engine
// copy writes SQL for kinds 1 to 3 and the xBase filter dialect for kind 0.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "data/date_settings.h"
#include "data/server_paths.h"

namespace vigilo {

// Receives a message meant for the user (an invalid date in a condition): the
// service writes it to its log or error stream, the rule manager shows it with
// the program title as caption.
using Reporter = std::function<void(const std::string&)>;

enum class Dialect { kSql, kXbase };

struct TranslationContext {
  DateSettings dates;
  long kind = 0;
  CServerPaths::Program program = CServerPaths::Program::kService;
  Reporter report;  // may be empty: messages are then dropped

  Dialect dialect() const {
    return program == CServerPaths::Program::kManager && kind == 0 ? Dialect::kXbase
                                                                   : Dialect::kSql;
  }
  bool IsService() const { return program == CServerPaths::Program::kService; }
  void Report(const std::string& message) const {
    if (report) report(message);
  }
};

// The context of a program's settings for a project's database kind.
inline TranslationContext MakeTranslationContext(const CServerPaths& paths, long kind,
                                                 CServerPaths::Program program,
                                                 Reporter report = {}) {
  TranslationContext context;
  context.dates = DateSettingsOf(paths);
  context.kind = kind;
  context.program = program;
  context.report = std::move(report);
  return context;
}

}  // namespace vigilo
