// The data the update-rule tick benchmarks share: 50 rules over 25
// categories, and which records of a table of N are the M closed ones.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "bench/bench_figures.h"
#include "common/format.h"
#include "data/field_def.h"
#include "service/project.h"
#include "service/project_table.h"

namespace vigilo {

inline constexpr int kRules = 50;
inline constexpr int kCategories = 25;

// VIGILO_BENCH_RECORDS (each benchmark its own default), VIGILO_BENCH_HISTORY
// and VIGILO_BENCH_MATCHES.
struct Sizes {
  explicit Sizes(long default_records)
      : records(EnvSize("VIGILO_BENCH_RECORDS", default_records)) {}
  long records;
  long history = EnvSize("VIGILO_BENCH_HISTORY", 1000000);
  long matches = EnvSize("VIGILO_BENCH_MATCHES", 1000);
};

inline std::string Category(long form_id) { return Format("C%02ld", form_id % kCategories); }

// The records that are closed: spread evenly over the table.
inline bool IsClosed(long form_id, const Sizes& sizes) {
  const long step = sizes.records / sizes.matches;
  return step > 0 && form_id % step == 0 && form_id / step <= sizes.matches;
}

inline CFieldDef Field(const std::string& name, int type, int width, int flags) {
  CFieldDef field(1);
  field.name = name;
  field.label = name;
  field.type = type;
  field.width = static_cast<uint32_t>(width);
  field.flags = flags;
  return field;
}

// The 50 rules on the project's table: the first half on the record's own
// fields, the second on a change in its history, each for one category.
// Throws, with the run log's text, unless all of them load.
template <typename Log>
void AddUpdateRules(CProject& project, int db_type, const std::string& dsn,
                    const std::string& db_table, const Log& log) {
  for (int r = 1; r <= kRules; ++r) {
    CRule record;
    record.rule_id = r;
    record.db_type = db_type;
    record.dsn = dsn;
    record.db_table = db_table;
    record.action = "Update";
    const std::string category = Format("C%02d", (r - 1) % kCategories);
    if (r <= kRules / 2) {
      record.cond = "(Status is (Closed)) .AND.(Category is (" + category + "))";
      record.values = Format("Resolution=Done %d", r);
    } else {
      record.cond = "(Status is (Open->Closed)) .AND.(Category is (" + category + "))";
      record.values = "Priority=1";
    }
    project.AddRuleToProject(record);
  }
  if (project.tables().empty() || project.tables()[0]->UpdateRuleIds().size() != kRules) {
    throw std::runtime_error("the rules did not load:\n" + log.Text());
  }
}

}  // namespace vigilo
