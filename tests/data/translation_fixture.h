// Field lists and contexts shared by the translation tests.
#pragma once

#include <string>
#include <vector>

#include "data/field_def.h"
#include "data/translation_context.h"

namespace vigilo::testing {

// A table with one field of every interpreted type and the five
// change-history pseudo-fields.
inline std::vector<CFieldDef> SampleFields() {
  const char* lines[] = {
      "Status,Status,5,10,0,,0,Open|Fixed|Closed|,100,100,100,24,513,0,0,,,0,,",
      "Priority,Priority,1,4,",
      "Count,Count,7,8,",
      "Owner,Owner,9,10,",
      "Name,Name,0,10,",
      "Version,Version,0,8,",
      "Notes,Notes,4,10,",
      "Due,Due,3,8,",
      "Stamp,Stamp,11,10,",
      "When,When,12,20,",
      "ChngHist->ChngDate,ChngHist->ChngDate,3,64,",
      "ChngHist->ChngBy,ChngHist->ChngBy,9,64,",
      "ChngHist->ChngWhat,ChngHist->ChngWhat,5,64,",
      "ChngHist->ChngFrom,ChngHist->ChngFrom,0,64,",
      "ChngHist->ChngTo,ChngHist->ChngTo,0,64,",
  };
  std::vector<CFieldDef> fields;
  int sequence = 1;
  for (const char* line : lines) fields.emplace_back(sequence++, line);
  return fields;
}

inline TranslationContext Service(long kind, std::vector<std::string>* messages = nullptr) {
  TranslationContext context;
  context.kind = kind;
  context.program = CServerPaths::Program::kService;
  if (messages) context.report = [messages](const std::string& m) { messages->push_back(m); };
  return context;
}

inline TranslationContext Manager(long kind, std::vector<std::string>* messages = nullptr) {
  TranslationContext context = Service(kind, messages);
  context.program = CServerPaths::Program::kManager;
  return context;
}

inline TranslationContext WithDashSeparator(TranslationContext context) {
  context.dates.separator = '-';
  context.dates.order[0] = 'Y';
  context.dates.order[1] = 'M';
  context.dates.order[2] = 'D';
  context.dates.picture = "YY-MM-DD";
  return context;
}

}  // namespace vigilo::testing
