#include "manager/query_builder.h"

#include "common/format.h"
#include "data/database_kind.h"

namespace vigilo {
namespace {

struct Markers {
  std::string_view first;
  std::string_view second;
};

Markers MarkersOf(long kind) {
  if (kind == kDbaseKind) return {" .AND.(", " .OR.("};
  return {" AND (", " OR ("};
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::vector<std::string> CutCondition(std::string_view condition, long kind) {
  std::vector<std::string> entries;
  if (condition.empty()) return entries;
  Markers markers = MarkersOf(kind);
  bool sql_form = kind != kDbaseKind;
  size_t start = 0;
  while (true) {
    size_t a = condition.find(markers.first, start);
    size_t b = condition.find(markers.second, start);
    size_t cut = std::min(a, b);
    std::string entry(condition.substr(start, cut == std::string_view::npos ? cut : cut - start));
    // An SQL connector brings its own leading blank, so the blank that joined
    // the entries is not part of the entry before it.
    if (sql_form && cut != std::string_view::npos && !entry.empty() && entry.back() == ' ') {
      entry.pop_back();
    }
    if (sql_form && !entries.empty()) entry.insert(0, 1, ' ');
    entries.push_back(std::move(entry));
    if (cut == std::string_view::npos) break;
    start = cut + 1;
  }
  return entries;
}

std::string JoinEntries(const std::vector<std::string>& entries) {
  std::string text;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) text += ' ';
    text += entries[i];
  }
  return text;
}

std::string WithoutConnector(std::string_view entry) {
  if (StartsWith(entry, ".AND.") || StartsWith(entry, " AND ")) return std::string(entry.substr(5));
  if (StartsWith(entry, ".OR.") || StartsWith(entry, " OR ")) return std::string(entry.substr(4));
  return std::string(entry);
}

QueryBuilderLogic::QueryBuilderLogic(long kind, std::vector<CFieldDef> fields,
                                     std::string_view condition, const DateSettings& dates,
                                     Prompts& prompts)
    : kind_(kind), dates_(dates), fields_(std::move(fields)), prompts_(prompts) {
  for (size_t i = 0; i < fields_.size(); ++i) {
    const CFieldDef& field = fields_[i];
    if ((field.flags & CFieldDef::kNoUpdateFlag) != 0 || field.type == CFieldDef::kHiddenType) {
      continue;
    }
    offered_.push_back(i);
    field_names_.push_back(field.name);
  }
  entries_ = CutCondition(condition, kind_);
  if (!entries_.empty()) selected_ = entries_.size() - 1;
}

void QueryBuilderLogic::Select(std::optional<size_t> row) {
  selected_ = row && *row < entries_.size() ? row : std::nullopt;
}

CFieldDef* QueryBuilderLogic::FieldOf(const Clause& clause) {
  for (CFieldDef& field : fields_) {
    if (field.name == clause.column) return &field;
  }
  return nullptr;
}

std::optional<Clause> QueryBuilderLogic::BeginAdd(std::optional<size_t> field_row) const {
  if (!field_row || *field_row >= offered_.size()) return std::nullopt;
  Clause clause;
  clause.connector = entries_.empty() ? Connector::kNone : Connector::kAnd;
  clause.column = fields_[offered_[*field_row]].name;
  return clause;
}

void QueryBuilderLogic::FinishAdd(const Clause& clause) {
  Clause added = clause;
  // A first clause never carries a connector.
  if (entries_.empty()) added.connector = Connector::kNone;
  entries_.push_back(FormatClause(added, kind_));
  selected_ = entries_.size() - 1;
}

std::optional<Clause> QueryBuilderLogic::BeginModify() const {
  if (!selected_) return std::nullopt;
  return ParseClause(entries_[*selected_], kind_);
}

void QueryBuilderLogic::FinishModify(const Clause& clause) {
  if (!selected_) return;
  entries_[*selected_] = FormatClause(clause, kind_);
}

template <typename Flip>
void QueryBuilderLogic::Rewrite(Flip flip) {
  if (!selected_) return;
  Clause clause = ParseClause(entries_[*selected_], kind_);
  flip(clause);
  entries_[*selected_] = FormatClause(clause, kind_);
}

void QueryBuilderLogic::FlipConnector() {
  Rewrite([](Clause& clause) {
    if (clause.connector == Connector::kAnd) {
      clause.connector = Connector::kOr;
    } else if (clause.connector == Connector::kOr) {
      clause.connector = Connector::kAnd;
    }
  });
}

void QueryBuilderLogic::FlipNegated() {
  Rewrite([](Clause& clause) { clause.negated = !clause.negated; });
}

void QueryBuilderLogic::FlipGroupOpen() {
  Rewrite([](Clause& clause) { clause.group_open = !clause.group_open; });
}

void QueryBuilderLogic::FlipGroupClose() {
  Rewrite([](Clause& clause) { clause.group_close = !clause.group_close; });
}

void QueryBuilderLogic::Remove() {
  if (!selected_) {
    prompts_.Beep();
    return;
  }
  size_t row = *selected_;
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(row));
  if (row == 0 && !entries_.empty()) entries_[0] = WithoutConnector(entries_[0]);
  if (entries_.empty()) {
    selected_.reset();
  } else {
    selected_ = std::min(row, entries_.size() - 1);
  }
}

std::string QueryBuilderLogic::GroupProblem() const {
  size_t open = 0;
  for (size_t i = 0; i < entries_.size(); ++i) {
    Clause clause = ParseClause(entries_[i], kind_);
    if (clause.group_open) ++open;
    if (!clause.group_close) continue;
    if (open == 0) return Format(kUnopenedGroupReason, i + 1);
    --open;
  }
  return open == 0 ? "" : Format(kUnclosedGroupReason, open);
}

std::optional<std::string> QueryBuilderLogic::Ok() {
  if (std::string problem = GroupProblem(); !problem.empty()) {
    prompts_.Message(problem, PromptIcon::kWarning);
    return std::nullopt;
  }
  std::string condition = JoinEntries(entries_);
  if (condition.size() > kConditionLimit) {
    prompts_.Message(Format(kConditionTooLongMessage, condition.size(), kConditionLimit),
                     PromptIcon::kWarning);
    return std::nullopt;
  }
  std::vector<std::string> problems;
  TranslationContext context;
  context.dates = dates_;
  context.kind = kind_;
  context.program = CServerPaths::Program::kManager;
  context.report = [&problems](const std::string& message) { problems.push_back(message); };
  TranslateCondition(condition, fields_, context);
  if (!problems.empty()) {
    std::string text;
    for (const std::string& problem : problems) {
      if (text.find(problem) == std::string::npos) text += problem;
    }
    prompts_.Message(text, PromptIcon::kWarning);
    return std::nullopt;
  }
  return condition;
}

}  // namespace vigilo
