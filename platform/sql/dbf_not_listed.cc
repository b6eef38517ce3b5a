#include "platform/sql/dbf_not_listed.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "platform/sql/dbf_file_names.h"

namespace vigilo::sql {

namespace {

// What one run of a statement knows of the list.
struct ListState {
  bool usable = false;
  std::shared_ptr<DbfTableData> data;
  int column = -1;      // the listed values
  int key_column = -1;  // the list's condition
  EqKey key;
  std::shared_ptr<const EqIndex> index;  // of `column`
  bool any = false;                      // the list has a row
  bool has_null = false;                 // ... whose value is NULL
  std::vector<int64_t> tail;             // values of listed rows past the index, sorted
};

const char* TextArg(sqlite3_value* v) {
  const unsigned char* text = sqlite3_value_text(v);
  return text ? reinterpret_cast<const char*>(text) : "";
}

// Reads the rows of the list: whether there are any, whether one holds
// NULL, and the values of those the column's index does not cover yet.
void Load(ListState& s, DbaseContext& ctx, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[4]) != SQLITE_INTEGER) return;
  auto path = ResolveFileCase(TablePath(ctx.default_dir, TextArg(argv[1])));
  if (!path) return;
  s.data = ctx.Table(*path);
  DbfTableData& data = *s.data;
  data.Refresh(ctx.epoch);
  s.column = data.ColumnNamed(TextArg(argv[2]));
  s.key_column = data.ColumnNamed(TextArg(argv[3]));
  if (s.column < 0 || s.key_column < 0 || data.Kind(s.column) != ColumnKind::kInteger ||
      data.Kind(s.key_column) != ColumnKind::kInteger) {
    return;
  }
  data.EnsureColumns((ColumnMask{1} << std::min(s.column, 63)) |
                     (ColumnMask{1} << std::min(s.key_column, 63)));
  s.key = data.IntegerKey(s.key_column, sqlite3_value_int64(argv[4]));
  auto listed = [&](uint32_t row) {
    if (data.IsDeleted(row) || !data.Matches(row, s.key_column, s.key)) return;
    s.any = true;
    if (data.IsNull(row, s.column)) s.has_null = true;
  };
  const std::shared_ptr<const EqIndex> by_key = data.Index(s.key_column);
  const auto [first, last] = data.Range(*by_key, s.key);
  for (uint32_t pos = first; pos < last; ++pos) listed(by_key->rows[pos]);
  for (uint32_t row = by_key->covered; row < data.RowCount(); ++row) listed(row);
  s.index = data.Index(s.column);
  for (uint32_t row = s.index->covered; row < data.RowCount(); ++row) {
    if (!data.IsDeleted(row) && data.Matches(row, s.key_column, s.key) &&
        !data.IsNull(row, s.column)) {
      s.tail.push_back(data.Integer(row, s.column));
    }
  }
  std::sort(s.tail.begin(), s.tail.end());
  s.usable = true;
}

bool Listed(const ListState& s, int64_t value) {
  const DbfTableData& data = *s.data;
  const auto [first, last] = data.Range(*s.index, data.IntegerKey(s.column, value));
  for (uint32_t pos = first; pos < last; ++pos) {
    const uint32_t row = s.index->rows[pos];
    if (!data.IsDeleted(row) && data.Matches(row, s.key_column, s.key)) return true;
  }
  return std::binary_search(s.tail.begin(), s.tail.end(), value);
}

// The answer for x: 1, 0 or NULL.
void Answer(sqlite3_context* call, const ListState& s, sqlite3_value* x) {
  // The comparison NOT IN makes with a list of integers: numbers compare
  // as numbers (a text that reads as one counts as it), other texts and
  // blobs equal no integer.
  bool listed = false;
  switch (sqlite3_value_numeric_type(x)) {
    case SQLITE_NULL:
      if (s.any) {
        sqlite3_result_null(call);
      } else {
        sqlite3_result_int(call, 1);
      }
      return;
    case SQLITE_INTEGER: listed = Listed(s, sqlite3_value_int64(x)); break;
    case SQLITE_FLOAT: {
      const double d = sqlite3_value_double(x);
      listed = std::trunc(d) == d && std::fabs(d) < 9.2e18 && Listed(s, static_cast<int64_t>(d));
      break;
    }
    default: break;
  }
  if (listed) {
    sqlite3_result_int(call, 0);
  } else if (s.has_null) {
    sqlite3_result_null(call);
  } else {
    sqlite3_result_int(call, 1);
  }
}

// The list is read at the first row of a run and kept with the table
// argument (a constant) until the run ends, as SQLite keeps the list of a
// NOT IN: rows the statement's own run writes meanwhile do not change it.
void NotListed(sqlite3_context* call, int, sqlite3_value** argv) {
  const ListState* state = static_cast<const ListState*>(sqlite3_get_auxdata(call, 1));
  std::unique_ptr<ListState> fresh;
  if (state == nullptr) {
    fresh = std::make_unique<ListState>();
    try {
      Load(*fresh, *static_cast<DbaseContext*>(sqlite3_user_data(call)), argv);
    } catch (...) {
      fresh->usable = false;  // the NOT IN reports the error itself
    }
    state = fresh.get();
  }
  if (state->usable) {
    Answer(call, *state, argv[0]);
  } else {
    sqlite3_result_int(call, 2);
  }
  if (fresh) {
    sqlite3_set_auxdata(call, 1, fresh.release(),
                        [](void* p) { delete static_cast<ListState*>(p); });
  }
}

}  // namespace

int RegisterNotListedFunction(sqlite3* db, DbaseContext* ctx) {
  return sqlite3_create_function_v2(db, kNotListedFunction, 5, SQLITE_UTF8, ctx, NotListed,
                                    nullptr, nullptr, nullptr);
}

}  // namespace vigilo::sql
