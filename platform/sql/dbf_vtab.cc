// Module methods appear in the order SQLite calls them.
#include "platform/sql/dbf_vtab.h"

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <tuple>
#include <vector>

#include "common/format.h"
#include "common/text.h"
#include "platform/sql/database.h"
#include "platform/sql/date_collation.h"
#include "platform/sql/dbf_table_cache.h"
#include "platform/sql/sql_tokens.h"

namespace vigilo::sql {

std::shared_ptr<DbfTableData> DbaseContext::Table(const std::string& path) {
  std::string key = path;
  if (char* real = realpath(path.c_str(), nullptr)) {
    key = real;
    free(real);
  }
  auto it = tables.find(key);
  if (it != tables.end()) return it->second;
  auto data = LendDbfTable(key);
  tables.emplace(key, data);
  return data;
}

namespace {

struct DbfVtab {
  sqlite3_vtab base;  // must come first
  DbaseContext* ctx;
  std::shared_ptr<DbfTableData> data;
  bool in_batch = false;  // between xBegin and the end of the transaction
};

// An equality the cursor checks itself, so that rows that fail it are not
// handed to SQLite one column at a time.
struct RowFilter {
  int column;
  EqKey key;
};

struct DbfCursor {
  sqlite3_vtab_cursor base;  // must come first
  std::shared_ptr<DbfTableData> data;
  std::shared_ptr<const EqIndex> index;  // set when reading by index
  size_t pos = 0;                        // row (scan) or index position
  size_t end = 0;
  std::vector<RowFilter> filters;        // checked on every row
  // Reading by index, the rows appended after the index was built follow
  // its range: positions from `end` on stand for rows from index->covered
  // on, up to `tail_end`, and must pass the index's own equality (and a
  // partial index's condition).
  size_t tail_end = 0;
  RowFilter tail_filter{};
  std::optional<RowFilter> tail_condition;
  // Reading by index: the indexed column, whose value on the index's range
  // is the key looked up (so an integer key column needs no decoding).
  int key_column = -1;
  EqKey key;
  // The plan's idxStr as last parsed, with its column mask and filter
  // columns: a join filters its inner loop once per outer row, always with
  // the same plan.
  bool planned = false;
  bool plan_null = false;
  std::string plan;
  ColumnMask plan_mask = kAllColumns;
  std::vector<int> plan_columns;
  // The codes found for the text constants last filtered on, by filter
  // position: a join filters its inner loop with the same constants for
  // every outer row.
  struct KnownCode {
    const DbfTableData* data = nullptr;
    int column = -1;
    uint64_t changes = 0;
    std::string text;
    EqKey key;
  };
  std::vector<KnownCode> known;
};

DbfVtab* VtabOf(sqlite3_vtab* v) { return reinterpret_cast<DbfVtab*>(v); }
DbfCursor* CursorOf(sqlite3_vtab_cursor* c) { return reinterpret_cast<DbfCursor*>(c); }

// Moves an error text into the table's zErrMsg, where SQLite picks it up.
int SetError(sqlite3_vtab* vtab, std::string message, int rc = SQLITE_ERROR) {
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
    message.pop_back();
  }
  sqlite3_free(vtab->zErrMsg);
  vtab->zErrMsg = sqlite3_mprintf("%s", message.c_str());
  return vtab->zErrMsg ? rc : SQLITE_NOMEM;
}

int ErrorFromException(sqlite3_vtab* vtab) {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return SQLITE_NOMEM;
  } catch (const DbException& e) {
    return SetError(vtab, e.Message(),
                    e.SqlState() == "23000" ? SQLITE_CONSTRAINT : SQLITE_ERROR);
  } catch (const std::exception& e) {
    return SetError(vtab, e.what());
  }
}

std::string DeclaredType(const DbfTableData& data, int column) {
  switch (data.Kind(column)) {
    case ColumnKind::kInteger: return "INTEGER";
    case ColumnKind::kReal: return "REAL";
    case ColumnKind::kDate: return std::string("TEXT COLLATE ") + kDateCollation;
    default: return "TEXT COLLATE RTRIM";  // blank-insensitive, as the dBase driver
  }
}

// xCreate / xConnect: argv[3] is the quoted path of the .dbf file.
int DbfConnect(sqlite3* db, void* aux, int argc, const char* const* argv,
               sqlite3_vtab** out, char** err) {
  auto* ctx = static_cast<DbaseContext*>(aux);
  if (argc < 4) {
    *err = sqlite3_mprintf("dbf: the file name is missing");
    return SQLITE_ERROR;
  }
  try {
    std::vector<Token> tokens = Tokenize(argv[3]);
    std::string path = tokens.empty() ? "" : Unquote(tokens[0]);
    std::shared_ptr<DbfTableData> data = ctx->Table(path);
    std::string schema = "CREATE TABLE x(";
    for (int i = 0; i < data->ColumnCount(); ++i) {
      if (i > 0) schema += ", ";
      // Quoted, as field names may be keywords (Values, FROM, TO, DATE).
      schema += QuoteIdentifier(data->fields()[i].name) + " " + DeclaredType(*data, i);
    }
    schema += ")";
    int rc = sqlite3_declare_vtab(db, schema.c_str());
    if (rc != SQLITE_OK) {
      *err = sqlite3_mprintf("dbf: %s", sqlite3_errmsg(db));
      return rc;
    }
    auto vtab = std::make_unique<DbfVtab>();
    vtab->base = sqlite3_vtab{};
    vtab->ctx = ctx;
    vtab->data = std::move(data);
    *out = &vtab.release()->base;
    return SQLITE_OK;
  } catch (const std::exception& e) {
    *err = sqlite3_mprintf("%s", e.what());
    return SQLITE_ERROR;
  }
}

// True when the constraint is an equality the column's index and filters
// serve: text columns under collation BINARY or RTRIM (both keep every row
// RTRIM keeps), date columns under DBDATE, integer columns.
bool ServedEquality(DbfTableData& data, sqlite3_index_info* info, int i) {
  const auto& c = info->aConstraint[i];
  if (!c.usable || c.op != SQLITE_INDEX_CONSTRAINT_EQ || c.iColumn < 0) return false;
  if (!data.Indexable(c.iColumn)) return false;
  const char* coll = sqlite3_vtab_collation(info, i);
  if (data.Kind(c.iColumn) == ColumnKind::kText) {
    return !coll || EqualsNoCase(coll, "RTRIM") || EqualsNoCase(coll, "BINARY");
  }
  if (data.Kind(c.iColumn) == ColumnKind::kDate) return !coll || EqualsNoCase(coll, kDateCollation);
  return true;
}

// The constant an equality compares with, known while planning (a literal);
// nullptr for a join's column or a value bound later.
sqlite3_value* ConstantOf(sqlite3_index_info* info, int i) {
  sqlite3_value* value = nullptr;
  if (sqlite3_vtab_rhs_value(info, i, &value) != SQLITE_OK) return nullptr;
  return value;
}

// True when the cursor's own test of the equality with this constant keeps
// exactly the rows SQLite would, so that SQLite need not test it again:
// texts on text columns under RTRIM, integers on integer columns.
bool ExactConstant(DbfTableData& data, sqlite3_index_info* info, int i, sqlite3_value* value) {
  if (!value) return false;
  int column = info->aConstraint[i].iColumn;
  switch (data.Kind(column)) {
    case ColumnKind::kText: {
      const char* coll = sqlite3_vtab_collation(info, i);
      return sqlite3_value_type(value) == SQLITE_TEXT && coll && EqualsNoCase(coll, "RTRIM");
    }
    case ColumnKind::kInteger: return sqlite3_value_type(value) == SQLITE_INTEGER;
    default: return false;
  }
}

// The key of an equality's value on the column; nullopt when the value is
// of a kind the cursor leaves to SQLite.
std::optional<EqKey> KeyOf(const DbfTableData& data, int column, sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_NULL: return EqKey{};  // equal to nothing
    case SQLITE_INTEGER:
      if (data.Kind(column) != ColumnKind::kInteger) return std::nullopt;
      return data.IntegerKey(column, sqlite3_value_int64(v));
    case SQLITE_FLOAT: {
      if (data.Kind(column) != ColumnKind::kInteger) return std::nullopt;
      double d = sqlite3_value_double(v);
      if (d != static_cast<double>(static_cast<int64_t>(d))) return EqKey{};
      return data.IntegerKey(column, static_cast<int64_t>(d));
    }
    case SQLITE_TEXT:
      return data.TextKey(column,
                          std::string_view(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                                           static_cast<size_t>(sqlite3_value_bytes(v))));
    default: return std::nullopt;
  }
}

// KeyOf for the cursor's filter at position `slot`, a text's code kept
// from the last filtering while the column's texts keep their codes.
std::optional<EqKey> FilterKeyOf(DbfCursor* cur, size_t slot, const DbfTableData& data,
                                 int column, sqlite3_value* v) {
  if (sqlite3_value_type(v) != SQLITE_TEXT) return KeyOf(data, column, v);
  const std::string_view text(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                              static_cast<size_t>(sqlite3_value_bytes(v)));
  if (cur->known.size() <= slot) cur->known.resize(slot + 1);
  DbfCursor::KnownCode& known = cur->known[slot];
  const uint64_t changes = data.ColumnChanges(column);
  if (known.data == &data && known.column == column && known.changes == changes &&
      known.text == text) {
    return known.key;
  }
  std::optional<EqKey> key = KeyOf(data, column, v);
  // Only a code found stays right: a text not there yet may be written.
  if (key && key->kind == EqKey::kCode) {
    known = {&data, column, changes, std::string(text), *key};
  } else {
    known.column = -1;
  }
  return key;
}

// The constant of a partial index's condition: a text on a text column or an
// integer on an integer column (those ExactConstant accepts); nullopt for
// others, which leave the index whole.
std::optional<EqConstant> ConditionOf(const DbfTableData& data, int column, sqlite3_value* v) {
  EqConstant constant;
  if (sqlite3_value_type(v) == SQLITE_TEXT && data.Kind(column) == ColumnKind::kText) {
    constant.is_text = true;
    constant.text.assign(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                         static_cast<size_t>(sqlite3_value_bytes(v)));
    while (!constant.text.empty() && constant.text.back() == ' ') constant.text.pop_back();
    return constant;
  }
  if (sqlite3_value_type(v) == SQLITE_INTEGER && data.Kind(column) == ColumnKind::kInteger) {
    constant.integer = sqlite3_value_int64(v);
    return constant;
  }
  return std::nullopt;
}

// idxNum bit: the index is restricted to the rows passing the first
// further equality (a constant), see DbfTableData::PartialIndex.
constexpr int kPartialIndex = 1 << 20;

// xBestIndex. idxNum is the contract with xFilter:
//   0      full scan in record order;
//   c + 1  rows whose column c equals argv[0], served by the column's
//          equality index (with kPartialIndex: by its index over the rows
//          passing the first further equality).
// idxStr holds the columns used (SQLite's colUsed, in hexadecimal), then
// after a colon the columns of the further equalities, one per argument
// after the index's, which the cursor checks itself. SQLite checks again
// every constraint but the constants the cursor tests exactly (omit), so
// index and filters may keep a superset. Of several usable equalities the
// most selective column serves the index (rows per key estimated per table
// version, counted for a constant when the column's index exists), so a
// join on FormID is not served by a constant on a column of few values.
int DbfBestIndex(sqlite3_vtab* v, sqlite3_index_info* info) {
  DbfVtab* vtab = VtabOf(v);
  try {
    DbfTableData& data = *vtab->data;
    data.Refresh(vtab->ctx->epoch);
    double rows = std::max<double>(1, data.RowCount());

    struct Served {
      int constraint;
      int column;
      sqlite3_value* constant;
      double per_key;
    };
    std::vector<Served> served;
    int best = -1;  // into served
    for (int i = 0; i < info->nConstraint; ++i) {
      if (!ServedEquality(data, info, i)) continue;
      int column = info->aConstraint[i].iColumn;
      sqlite3_value* constant = ConstantOf(info, i);
      double per_key = data.RowsPerKey(column);
      if (constant && data.ColumnLoaded(column)) {
        if (auto key = KeyOf(data, column, constant)) {
          if (auto counted = data.KeyRows(column, *key)) per_key = std::max(1.0, *counted);
        }
      }
      served.push_back(Served{i, column, constant, per_key});
      if (best < 0 || per_key < served[best].per_key) best = static_cast<int>(served.size()) - 1;
    }
    // A join's key (no constant) under a constant condition on another
    // column that keeps at most half the rows probes the index over the
    // rows passing it.
    int partial = -1;
    if (best >= 0 && !served[best].constant) {
      for (int k = 0; k < static_cast<int>(served.size()); ++k) {
        const Served& s = served[k];
        if (s.column == served[best].column || !s.constant) continue;
        if (!ExactConstant(data, info, s.constraint, s.constant)) continue;
        if (2 * s.per_key > rows) continue;
        if (partial < 0 || s.per_key < served[partial].per_key) partial = k;
      }
    }
    if (partial >= 0) std::rotate(served.begin(), served.begin() + partial, served.begin() + partial + 1);
    if (partial >= 0 && best < partial) ++best;
    std::string filter_columns;
    double filtered = 1;  // the share of rows the further equalities keep
    int argument = best < 0 ? 1 : 2;
    for (int k = 0; k < static_cast<int>(served.size()); ++k) {
      const Served& s = served[k];
      auto& usage = info->aConstraintUsage[s.constraint];
      usage.omit = ExactConstant(data, info, s.constraint, s.constant) ? 1 : 0;
      if (k == best) continue;
      filtered *= std::min(1.0, s.per_key / rows);
      usage.argvIndex = argument++;
      filter_columns += (filter_columns.empty() ? "" : ",") + std::to_string(s.column);
    }
    info->idxStr = sqlite3_mprintf("%llx:%s", static_cast<unsigned long long>(info->colUsed),
                                   filter_columns.c_str());
    info->needToFreeIdxStr = 1;
    if (best < 0) {
      info->idxNum = 0;
      info->estimatedCost = rows;
      info->estimatedRows = std::max<sqlite3_int64>(1, static_cast<sqlite3_int64>(rows * filtered));
      return SQLITE_OK;
    }
    const Served& key = served[best];
    info->idxNum = key.column + 1 + (partial >= 0 ? kPartialIndex : 0);
    info->aConstraintUsage[key.constraint].argvIndex = 1;
    double found = std::max(1.0, key.per_key * filtered);
    info->estimatedRows = static_cast<sqlite3_int64>(found);
    // A partial index reads only the rows it keeps.
    info->estimatedCost = (partial >= 0 ? found : key.per_key) + std::log2(rows);
    return SQLITE_OK;
  } catch (...) {
    return ErrorFromException(v);
  }
}

int EndBatch(sqlite3_vtab* v);

int DbfDisconnect(sqlite3_vtab* v) {
  EndBatch(v);
  std::unique_ptr<DbfVtab> owned(VtabOf(v));
  sqlite3_free(v->zErrMsg);
  return SQLITE_OK;
}

int DbfOpen(sqlite3_vtab* v, sqlite3_vtab_cursor** out) {
  auto cursor = std::make_unique<DbfCursor>();
  cursor->base = sqlite3_vtab_cursor{};
  cursor->data = VtabOf(v)->data;
  *out = &cursor.release()->base;
  return SQLITE_OK;
}

int DbfClose(sqlite3_vtab_cursor* c) {
  std::unique_ptr<DbfCursor> owned(CursorOf(c));
  return SQLITE_OK;
}

uint32_t CurrentRow(const DbfCursor* cur) {
  if (!cur->index) return static_cast<uint32_t>(cur->pos);
  if (cur->pos < cur->end) return cur->index->rows[cur->pos];
  return static_cast<uint32_t>(cur->index->covered + (cur->pos - cur->end));
}

size_t EndOf(const DbfCursor* cur) { return cur->index ? cur->tail_end : cur->end; }

// Moves on to the first row from pos that is not deleted and passes the
// filters.
void Settle(DbfCursor* cur) {
  const DbfTableData& data = *cur->data;
  for (const size_t end = EndOf(cur); cur->pos < end; ++cur->pos) {
    uint32_t row = CurrentRow(cur);
    if (data.IsDeleted(row)) continue;
    if (cur->index && cur->pos >= cur->end) {  // the index's tail
      if (!data.Matches(row, cur->tail_filter.column, cur->tail_filter.key)) continue;
      const auto& condition = cur->tail_condition;
      if (condition && !data.Matches(row, condition->column, condition->key)) continue;
    }
    bool pass = true;
    for (const RowFilter& f : cur->filters) {
      if (!data.Matches(row, f.column, f.key)) {
        pass = false;
        break;
      }
    }
    if (pass) return;
  }
}

int DbfFilter(sqlite3_vtab_cursor* c, int idx_num, const char* idx_str, int argc,
              sqlite3_value** argv) {
  DbfCursor* cur = CursorOf(c);
  DbfVtab* vtab = VtabOf(c->pVtab);
  try {
    DbfTableData& data = *cur->data;
    data.Refresh(vtab->ctx->epoch);
    if (!cur->planned || (idx_str == nullptr) != cur->plan_null ||
        (idx_str != nullptr && cur->plan != idx_str)) {
      char* rest = nullptr;
      cur->plan_mask = idx_str ? std::strtoull(idx_str, &rest, 16) : kAllColumns;
      cur->plan_columns.clear();
      if (rest && *rest == ':') {
        for (++rest; *rest;) {
          cur->plan_columns.push_back(static_cast<int>(std::strtol(rest, &rest, 10)));
          if (*rest == ',') ++rest;
        }
      }
      for (int column : cur->plan_columns) cur->plan_mask |= ColumnMask{1} << std::min(column, 63);
      cur->plan = idx_str ? idx_str : "";
      cur->plan_null = idx_str == nullptr;
      cur->planned = true;
    }
    ColumnMask mask = cur->plan_mask;
    const std::vector<int>& filter_columns = cur->plan_columns;
    cur->index.reset();
    cur->filters.clear();
    cur->tail_condition.reset();
    cur->key_column = -1;
    const bool partial = (idx_num & kPartialIndex) != 0;
    idx_num &= ~kPartialIndex;
    int first_filter = idx_num > 0 ? 1 : 0;
    // The partial index's condition: the first further equality.
    std::optional<EqConstant> condition;
    if (partial && idx_num > 0 && !filter_columns.empty() && argc >= 2) {
      if (sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        cur->pos = cur->end = 0;  // equal to nothing: nothing to read
        return SQLITE_OK;
      }
      condition = ConditionOf(data, filter_columns[0], argv[1]);
    }
    if (condition) {
      // The index holds the rows passing the condition, and the key of
      // each: neither column needs decoding for it (nor an integer key
      // column for the cursor).
      const int column = idx_num - 1;
      if (filter_columns[0] < 63) mask &= ~(ColumnMask{1} << filter_columns[0]);
      if (column < 63 && data.Kind(column) == ColumnKind::kInteger) {
        mask &= ~(ColumnMask{1} << column);
      }
      cur->index = data.PartialIndex(column, filter_columns[0], *condition, mask);
    } else {
      data.EnsureColumns(mask);
      if (idx_num > 0 && argc >= 1) cur->index = data.Index(idx_num - 1);
    }
    for (size_t i = condition ? 1 : 0;
         i < filter_columns.size() && first_filter + static_cast<int>(i) < argc; ++i) {
      int column = filter_columns[i];
      if (!data.ColumnLoaded(column)) continue;
      if (auto key = FilterKeyOf(cur, i, data, column, argv[first_filter + i])) {
        cur->filters.push_back(RowFilter{column, *key});
      }
    }
    if (cur->index) {
      int column = idx_num - 1;
      std::optional<EqKey> key = KeyOf(data, column, argv[0]);
      // A value the index cannot resolve (a blob) leaves the index unused.
      if (!key) {
        key = data.TextKey(column, std::string_view(
                                       reinterpret_cast<const char*>(sqlite3_value_text(argv[0])),
                                       static_cast<size_t>(sqlite3_value_bytes(argv[0]))));
      }
      std::tie(cur->pos, cur->end) = data.Range(*cur->index, *key);
      cur->key_column = column;
      cur->key = *key;
      cur->tail_filter = RowFilter{column, *key};
      cur->tail_end = cur->end + (data.RowCount() - cur->index->covered);
      // The partial index's condition holds on its range. Written rows
      // leave the index (its columns' changes drop it) before a later
      // statement reads it; SQLite updates the rows of a virtual table
      // after reading them all. Only an index built from decoded columns
      // has a tail, and they stay in memory while it does.
      if (condition && cur->index->covered < data.RowCount()) {
        const int filter_column = filter_columns[0];
        cur->tail_condition = RowFilter{filter_column, *KeyOf(data, filter_column, argv[1])};
      }
    } else {
      cur->pos = 0;
      cur->end = data.RowCount();
    }
    Settle(cur);
    return SQLITE_OK;
  } catch (...) {
    return ErrorFromException(c->pVtab);
  }
}

int DbfNext(sqlite3_vtab_cursor* c) {
  DbfCursor* cur = CursorOf(c);
  ++cur->pos;
  Settle(cur);
  return SQLITE_OK;
}

int DbfEof(sqlite3_vtab_cursor* c) {
  DbfCursor* cur = CursorOf(c);
  return cur->pos >= EndOf(cur);
}

int DbfColumn(sqlite3_vtab_cursor* c, sqlite3_context* ctx, int column) {
  DbfCursor* cur = CursorOf(c);
  // An UPDATE that leaves this column alone needs no value (and a memo
  // then is not read and not rewritten).
  if (sqlite3_vtab_nochange(ctx)) return SQLITE_OK;
  try {
    uint32_t row = CurrentRow(cur);
    DbfTableData& data = *cur->data;
    if (column == cur->key_column && cur->pos < cur->end && cur->key.kind == EqKey::kInteger) {
      sqlite3_result_int64(ctx, cur->key.integer);
      return SQLITE_OK;
    }
    if (!data.ColumnLoaded(column)) data.EnsureColumns(ColumnMask{1} << std::min(column, 63));
    if (data.IsNull(row, column)) {
      sqlite3_result_null(ctx);
      return SQLITE_OK;
    }
    switch (data.Kind(column)) {
      case ColumnKind::kInteger:
        sqlite3_result_int64(ctx, data.Integer(row, column));
        break;
      case ColumnKind::kReal:
        sqlite3_result_double(ctx, data.Real(row, column));
        break;
      case ColumnKind::kMemo: {
        std::string memo = data.Memo(row, column);
        sqlite3_result_text(ctx, memo.data(), static_cast<int>(memo.size()),
                            SQLITE_TRANSIENT);
        break;
      }
      default: {
        std::string_view text = data.Text(row, column);
        sqlite3_result_text(ctx, text.data(), static_cast<int>(text.size()),
                            SQLITE_TRANSIENT);
      }
    }
    return SQLITE_OK;
  } catch (...) {
    return ErrorFromException(c->pVtab);
  }
}

int DbfRowid(sqlite3_vtab_cursor* c, sqlite3_int64* rowid) {
  *rowid = static_cast<sqlite3_int64>(CurrentRow(CursorOf(c))) + 1;  // record number
  return SQLITE_OK;
}

CellValue ToCell(sqlite3_value* v) {
  CellValue cell;
  if (sqlite3_value_nochange(v)) {
    cell.kind = CellValue::kUnchanged;
    return cell;
  }
  switch (sqlite3_value_type(v)) {
    case SQLITE_NULL: cell.kind = CellValue::kNull; break;
    case SQLITE_INTEGER:
      cell.kind = CellValue::kInteger;
      cell.integer = sqlite3_value_int64(v);
      break;
    case SQLITE_FLOAT:
      cell.kind = CellValue::kReal;
      cell.real = sqlite3_value_double(v);
      break;
    default:
      cell.kind = CellValue::kText;
      cell.text.assign(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                       static_cast<size_t>(sqlite3_value_bytes(v)));
  }
  return cell;
}

// xUpdate: argc 1 deletes record argv[0]; argv[0] NULL inserts; otherwise
// updates record argv[0] (the record number cannot change).
int DbfUpdate(sqlite3_vtab* v, int argc, sqlite3_value** argv, sqlite3_int64* rowid) {
  DbfVtab* vtab = VtabOf(v);
  try {
    DbfTableData& data = *vtab->data;
    data.Refresh(vtab->ctx->epoch);
    if (argc == 1) {
      data.Delete(static_cast<uint32_t>(sqlite3_value_int64(argv[0]) - 1));
      return SQLITE_OK;
    }
    std::vector<CellValue> values;
    for (int i = 2; i < argc; ++i) values.push_back(ToCell(argv[i]));
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
      if (sqlite3_value_type(argv[1]) != SQLITE_NULL) {
        return SetError(v, "dbf: a record number cannot be chosen on insert");
      }
      *rowid = static_cast<sqlite3_int64>(data.Insert(values)) + 1;
      return SQLITE_OK;
    }
    sqlite3_int64 old_row = sqlite3_value_int64(argv[0]);
    if (sqlite3_value_int64(argv[1]) != old_row) {
      return SetError(v, "dbf: a record number cannot change");
    }
    data.Update(static_cast<uint32_t>(old_row - 1), values);
    return SQLITE_OK;
  } catch (...) {
    return ErrorFromException(v);
  }
}

// The writes of one transaction (a statement, or an explicit transaction of
// many) form one batch of the file: one lock, one header write, one stamp.
int DbfBegin(sqlite3_vtab* v) {
  DbfVtab* vtab = VtabOf(v);
  if (!vtab->in_batch) {
    vtab->data->BeginBatch();
    vtab->in_batch = true;
  }
  return SQLITE_OK;
}

int EndBatch(sqlite3_vtab* v) {
  DbfVtab* vtab = VtabOf(v);
  if (!vtab->in_batch) return SQLITE_OK;
  vtab->in_batch = false;
  try {
    vtab->data->EndBatch();
    return SQLITE_OK;
  } catch (...) {
    return ErrorFromException(v);
  }
}

// The header is written at xSync, where a failure still fails the commit.
int DbfSync(sqlite3_vtab* v) { return EndBatch(v); }
int DbfCommit(sqlite3_vtab* v) { return EndBatch(v); }
int DbfRollback(sqlite3_vtab* v) {
  // What was written stays written (the files keep no journal); the header
  // must still count it.
  EndBatch(v);
  return SQLITE_OK;
}

sqlite3_module kDbfModule = {
    /* iVersion */ 0,
    /* xCreate */ DbfConnect,
    /* xConnect */ DbfConnect,
    /* xBestIndex */ DbfBestIndex,
    /* xDisconnect */ DbfDisconnect,
    /* xDestroy */ DbfDisconnect,  // the file stays: DROP only forgets the name
    /* xOpen */ DbfOpen,
    /* xClose */ DbfClose,
    /* xFilter */ DbfFilter,
    /* xNext */ DbfNext,
    /* xEof */ DbfEof,
    /* xColumn */ DbfColumn,
    /* xRowid */ DbfRowid,
    /* xUpdate */ DbfUpdate,
    /* xBegin */ DbfBegin,
    /* xSync */ DbfSync,
    /* xCommit */ DbfCommit,
    /* xRollback */ DbfRollback,
    /* xFindFunction */ nullptr,
    /* xRename */ nullptr,
    /* xSavepoint */ nullptr,
    /* xRelease */ nullptr,
    /* xRollbackTo */ nullptr,
    /* xShadowName */ nullptr,
};

}  // namespace

int RegisterDbfModule(sqlite3* db, DbaseContext* ctx) {
  return sqlite3_create_module(db, "dbf", &kDbfModule, ctx);
}

}  // namespace vigilo::sql
