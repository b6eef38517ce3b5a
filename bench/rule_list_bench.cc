// The rule lists of the rule manager filled from the rule table and sorted:
// Setup Rules with 32,000 rules of one table, View of Rules with 5,000 rules,
// each beside reading the same rule table with the xBase library alone (every
// record's six shown fields). The target is within 2 times of that read.
//
// Both rule tables are written once in a temporary directory and removed at
// exit.
#include <stdlib.h>

#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "common/format.h"
#include "manager/rule_list.h"
#include "manager/rule_list_table.h"
#include "platform/xbase/dbf_table.h"
#include "tests/support/temp_dir.h"

namespace vigilo {
namespace {

class BenchRuleTables {
 public:
  BenchRuleTables() {
    dir_ = temp_.path();
    Write(setup_path(), 32000, 1);
    Write(view_path(), 5000, 7);
  }
  std::string setup_path() const { return dir_ + "/setup.dbf"; }
  std::string view_path() const { return dir_ + "/view.dbf"; }

 private:
  // Rules spread over tables_count tables, ids written out of order so that
  // sorting has work to do.
  static void Write(const std::string& path, int count, int tables_count) {
    auto table = DbfTable::Create(path, RuleTableFields(), DbfVersion::kDbase4,
                                  RuleTableTags());
    for (int i = 0; i < count; ++i) {
      long id = (static_cast<long>(i) * 7919) % count + 1;
      table->AppendStart();
      table->AssignLong(0, id);
      table->AssignLong(1, 1);
      table->AssignText(2, "BUGSDB");
      table->AssignText(3, Format("Bugs\\Table%d", i % tables_count));
      table->AssignText(4, i % 3 == 0 ? "Update" : "Notify");
      table->AssignText(5, i % 3 == 0 ? "Field" : (i % 2 ? "User" : "Group"));
      table->AssignText(6, Format("user%d,user%d", i % 97, i % 89));
      table->AssignText(7, Format("(Status is (Open)) .AND.(Priority is (%d))", i % 5));
      table->AssignLong(8, i % 4);
      table->AppendWrite();
    }
    table->Close();
  }

  testing::TempDir temp_;
  std::string dir_;
};

const BenchRuleTables& Tables() {
  static BenchRuleTables tables;
  return tables;
}

// The shown fields of every record, read with the table library alone.
size_t ReadWithTheLibrary(const std::string& path) {
  auto table = DbfTable::Open(path, false);
  size_t bytes = 0;
  for (bool on = table->GoFirst(); on; on = table->Skip()) {
    bytes += static_cast<size_t>(table->FieldLong(0));
    for (int field : {3, 4, 5, 6, 7}) bytes += table->Text(field).size();
    bytes += static_cast<size_t>(table->FieldLong(8));
  }
  return bytes;
}

void BM_SetupRulesXbaseRead(benchmark::State& state) {
  const std::string path = Tables().setup_path();
  for (auto _ : state) benchmark::DoNotOptimize(ReadWithTheLibrary(path));
}
BENCHMARK(BM_SetupRulesXbaseRead)->Unit(benchmark::kMillisecond);

void BM_SetupRulesFillAndSort(benchmark::State& state) {
  const std::string path = Tables().setup_path();
  for (auto _ : state) {
    RuleList list(kSetupRulesCapacity);
    list.AddRows(ReadTableRules(path, 1, "BUGSDB", "Bugs\\Table0"));
    list.ColumnClick(RuleColumn::kRuleId);
    list.ColumnClick(RuleColumn::kRuleId);
    list.ColumnClick(RuleColumn::kValues);
    if (list.size() != 32000) state.SkipWithError("not every rule was listed");
    benchmark::DoNotOptimize(list.row(0).rule_id);
  }
}
BENCHMARK(BM_SetupRulesFillAndSort)->Unit(benchmark::kMillisecond);

void BM_ViewRulesXbaseRead(benchmark::State& state) {
  const std::string path = Tables().view_path();
  for (auto _ : state) benchmark::DoNotOptimize(ReadWithTheLibrary(path));
}
BENCHMARK(BM_ViewRulesXbaseRead)->Unit(benchmark::kMillisecond);

void BM_ViewRulesFillAndSort(benchmark::State& state) {
  const std::string path = Tables().view_path();
  for (auto _ : state) {
    RuleList list(kViewRulesCapacity);
    list.AddRows(ReadAllRules(path));
    list.ColumnClick(RuleColumn::kRuleId);
    list.ColumnClick(RuleColumn::kRuleId);
    list.ColumnClick(RuleColumn::kCondition);
    if (list.size() != 5000) state.SkipWithError("not every rule was listed");
    benchmark::DoNotOptimize(list.row(0).rule_id);
  }
}
BENCHMARK(BM_ViewRulesFillAndSort)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vigilo

BENCHMARK_MAIN();
