// Evaluation of a parsed xBase expression against one record. Field values
// are taken straight from the record bytes; texts produced by functions go to
// the node's scratch buffer, so a filter scan allocates nothing per record
// once the buffers have grown.
#include "platform/xbase/xbase_node.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <type_traits>
#include <cmath>
#include <cstring>

#include "common/digit_words.h"
#include "common/format.h"
#include "platform/xbase/calendar.h"
#include "platform/xbase/dbf_table.h"

namespace vigilo {

// Date values inside an expression are the calendar's Julian day numbers, with
// 0 standing for the blank date; these adapters add that blank-date rule.
namespace xbase_date {

// The same answer as the calendar's DateToDay(digits) >= 0, without the day
// number: the check a DTOS comparison makes once per record.
bool ValidDigits(std::string_view digits) {
  if (digits.size() != 8) return false;
  uint64_t word;
  std::memcpy(&word, digits.data(), 8);
  // Each byte minus '0' must be 0..9: no borrow, and no byte above 9.
  const uint64_t values = word - 0x3030303030303030ULL;
  if (((word & 0xF0F0F0F0F0F0F0F0ULL) != 0x3030303030303030ULL) ||
      (((values + 0x0606060606060606ULL) & 0xF0F0F0F0F0F0F0F0ULL) != 0)) {
    return false;
  }
  auto digit = [&](int i) { return static_cast<int>(digits[i] - '0'); };
  const long year = digit(0) * 1000 + digit(1) * 100 + digit(2) * 10 + digit(3);
  const int month = digit(4) * 10 + digit(5);
  const int day = digit(6) * 10 + digit(7);
  if (year < 1 || month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (day <= kDays[month - 1]) return true;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && day == 29 && leap;
}

double FromDigits(std::string_view digits) {
  long day = xbase::DateToDay(digits);
  return day < 0 ? 0 : static_cast<double>(day);
}

void ToDigits(double day, std::string& out) {
  // The range test comes first so that no out-of-range value is cast.
  if (!(day >= xbase::kFirstDay && day < xbase::kLastDay + 1)) {
    out.assign(8, ' ');
    return;
  }
  out = xbase::DayToDate(static_cast<long>(day));
}

// CTOD reads month, day and year as digit runs split by "/", "-" or ".",
// with nothing else in the text but outer blanks; a two-digit year below 50
// is 20YY (the calendar's picture reader pivots at 70 and is more lenient).
double FromPicture(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  size_t first = text.find_first_of("/-.");
  if (first == std::string_view::npos) return 0;
  size_t second = text.find_first_of("/-.", first + 1);
  if (second == std::string_view::npos) return 0;
  std::string_view parts[3] = {text.substr(0, first),
                               text.substr(first + 1, second - first - 1),
                               text.substr(second + 1)};
  long values[3];
  for (int i = 0; i < 3; ++i) {
    if (parts[i].empty() ||
        parts[i].find_first_not_of("0123456789") != std::string_view::npos) {
      return 0;
    }
    values[i] = xbase::DigitsValue(parts[i], parts[i].size());
  }
  long month = values[0], day = values[1], year = values[2];
  if (parts[2].size() <= 2) year += year < 50 ? 2000 : 1900;
  if (year > 9999 || month > 99 || day > 99) return 0;
  return FromDigits(Format("%04ld%02ld%02ld", year, month, day));
}

double Today() { return FromDigits(xbase::Today()); }

}  // namespace xbase_date

int CompareXbaseText(std::string_view left, std::string_view right) {
  size_t common = std::min(left.size(), right.size());
  if (common > 0) {
    int c = std::memcmp(left.data(), right.data(), common);
    if (c != 0) return c < 0 ? -1 : 1;
  }
  // The rest of the right text is compared with the blanks a shorter left
  // text is padded with; a longer left text is cut at the right's length.
  for (size_t i = common; i < right.size(); ++i) {
    unsigned char r = static_cast<unsigned char>(right[i]);
    if (r != ' ') return ' ' < r ? -1 : 1;
  }
  return 0;
}

namespace {

// Fast parse of a numeric field: blanks, sign, digits, point, digits.
[[gnu::always_inline]] inline double ParseNumber(std::string_view text) {
  // The common layout, up to eight digits right-aligned after blanks, is read
  // a word at a time; anything else (a sign, a point, more digits) below.
  int64_t whole = 0;
  if (ParseRightAlignedDigits(text.data(), text.size(), &whole)) {
    return static_cast<double>(whole);
  }
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  double value = 0;
  bool any = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, any = true) {
    value = value * 10 + (text[i] - '0');
  }
  if (i < text.size() && text[i] == '.') {
    double scale = 0.1;
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, scale /= 10) {
      value += (text[i] - '0') * scale;
      any = true;
    }
  }
  if (any && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    // Rare exponent form (F fields): leave it to the library parser.
    double exact = 0;
    std::string copy(text.substr(0, text.find_last_not_of(' ') + 1));
    size_t start = copy.find_first_not_of(" +");
    if (start != std::string::npos &&
        std::from_chars(copy.data() + start, copy.data() + copy.size(), exact).ec == std::errc()) {
      return exact;
    }
  }
  return negative ? -value : value;
}

[[gnu::always_inline]] inline bool CompareResult(XbaseCompare compare, int c) {
  switch (compare) {
    case XbaseCompare::kEqual:
    case XbaseCompare::kExactEqual: return c == 0;
    case XbaseCompare::kNotEqual: return c != 0;
    case XbaseCompare::kLess: return c < 0;
    case XbaseCompare::kGreater: return c > 0;
    case XbaseCompare::kLessEqual: return c <= 0;
    case XbaseCompare::kGreaterEqual: return c >= 0;
  }
  return false;
}

// CompareXbaseText of a field's bytes, optionally upper-cased on the fly.
template <bool kUpper>
inline int CompareFieldText(std::string_view left, std::string_view right) {
  size_t common = std::min(left.size(), right.size());
  for (size_t i = 0; i < common; ++i) {
    unsigned char l = static_cast<unsigned char>(left[i]);
    if (kUpper && l >= 'a' && l <= 'z') l -= 32;
    unsigned char r = static_cast<unsigned char>(right[i]);
    if (l != r) return l < r ? -1 : 1;
  }
  for (size_t i = common; i < right.size(); ++i) {
    unsigned char r = static_cast<unsigned char>(right[i]);
    if (r != ' ') return ' ' < r ? -1 : 1;
  }
  return 0;
}

[[gnu::always_inline]] inline int Sign(double a, double b) { return a < b ? -1 : a > b ? 1 : 0; }

XbaseValue Text(std::string_view text) {
  XbaseValue v;
  v.type = XbaseType::kCharacter;
  v.text = text;
  return v;
}

XbaseValue Number(XbaseType type, double number) {
  XbaseValue v;
  v.type = type;
  v.number = number;
  return v;
}

XbaseValue Logical(bool logical) {
  XbaseValue v;
  v.type = XbaseType::kLogical;
  v.logical = logical;
  return v;
}

long Whole(double value) {
  if (!(value > -1e9)) return -1000000000L;
  if (value > 1e9) return 1000000000L;
  return static_cast<long>(value);
}

}  // namespace

XbaseValue XbaseNode::Eval(const XbaseRow& row) const {
  switch (op) {
    case XbaseOp::kConst:
      return constant;
    case XbaseOp::kField: {
      std::string_view bytes = row.bytes.substr(std::min(offset, row.bytes.size()), width);
      switch (field_type) {
        case 'N':
        case 'F':
          return Number(XbaseType::kNumeric, ParseNumber(bytes));
        case 'D':
          return Number(XbaseType::kDate, xbase_date::FromDigits(bytes));
        case 'L': {
          char c = bytes.empty() ? ' ' : bytes[0];
          return Logical(c == 'T' || c == 't' || c == 'Y' || c == 'y');
        }
        default:
          return Text(bytes);
      }
    }
    case XbaseOp::kNot:
      return Logical(!args[0]->Eval(row).logical);
    case XbaseOp::kAnd:
      return Logical(args[0]->Eval(row).logical && args[1]->Eval(row).logical);
    case XbaseOp::kOr:
      return Logical(args[0]->Eval(row).logical || args[1]->Eval(row).logical);
    case XbaseOp::kCompare: {
      if (fast_path != FastPath::kNone) return Logical(Test(row));
      XbaseValue a = args[0]->Eval(row);
      XbaseValue b = args[1]->Eval(row);
      switch (a.type) {
        case XbaseType::kCharacter:
          if (compare == XbaseCompare::kExactEqual) return Logical(a.text == b.text);
          return Logical(CompareResult(compare, CompareXbaseText(a.text, b.text)));
        case XbaseType::kLogical:
          return Logical(CompareResult(compare, int(a.logical) - int(b.logical)));
        default:
          return Logical(CompareResult(compare, Sign(a.number, b.number)));
      }
    }
    default:
      return EvalOther(row);
  }
}

bool XbaseNode::Test(const XbaseRow& row) const {
  switch (op) {
    case XbaseOp::kAnd:
      return args[0]->Test(row) && args[1]->Test(row);
    case XbaseOp::kOr:
      return args[0]->Test(row) || args[1]->Test(row);
    case XbaseOp::kNot:
      return !args[0]->Test(row);
    case XbaseOp::kCompare:
      if (fast_path != FastPath::kNone) {
        std::string_view bytes =
            row.bytes.substr(std::min(fast_offset, row.bytes.size()), fast_width);
        switch (fast_path) {
          case FastPath::kField:
            return CompareResult(compare, CompareFieldText<false>(bytes, fast_text));
          case FastPath::kUpperField:
            return CompareResult(compare, CompareFieldText<true>(bytes, fast_text));
          case FastPath::kDateTextField:
            if (!xbase_date::ValidDigits(bytes)) bytes = "        ";
            return CompareResult(compare, CompareFieldText<false>(bytes, fast_text));
          default:
            return CompareResult(compare, Sign(ParseNumber(bytes), fast_number));
        }
      }
      return Eval(row).logical;
    default:
      return Eval(row).logical;
  }
}

[[gnu::noinline]] XbaseValue XbaseNode::EvalOther(const XbaseRow& row) const {
  switch (op) {
    case XbaseOp::kRecno:
      return Number(XbaseType::kNumeric, row.recno);
    case XbaseOp::kDeleted:
      return Logical(!row.bytes.empty() && row.bytes[0] == '*');
    case XbaseOp::kToday:
      return Number(XbaseType::kDate, xbase_date::Today());
    case XbaseOp::kMemo: {
      std::string_view pointer = row.bytes.substr(std::min(offset, row.bytes.size()), width);
      scratch = row.table != nullptr ? row.table->MemoAt(pointer) : std::string();
      return Text(scratch);
    }
    case XbaseOp::kContains: {
      XbaseValue a = args[0]->Eval(row);
      XbaseValue b = args[1]->Eval(row);
      return Logical(!a.text.empty() && b.text.find(a.text) != std::string_view::npos);
    }
    case XbaseOp::kConcat:
    case XbaseOp::kConcatMoveBlanks: {
      XbaseValue a = args[0]->Eval(row);
      XbaseValue b = args[1]->Eval(row);
      if (op == XbaseOp::kConcat) {
        scratch.assign(a.text).append(b.text);
      } else {
        size_t end = a.text.find_last_not_of(' ');
        std::string_view kept = end == std::string_view::npos ? std::string_view() : a.text.substr(0, end + 1);
        scratch.assign(kept).append(b.text).append(a.text.size() - kept.size(), ' ');
      }
      return Text(scratch);
    }
    case XbaseOp::kAdd:
      return Number(type, args[0]->Eval(row).number + args[1]->Eval(row).number);
    case XbaseOp::kSub:
      return Number(type, args[0]->Eval(row).number - args[1]->Eval(row).number);
    case XbaseOp::kMul:
      return Number(type, args[0]->Eval(row).number * args[1]->Eval(row).number);
    case XbaseOp::kDiv: {
      double divisor = args[1]->Eval(row).number;
      double dividend = args[0]->Eval(row).number;
      return Number(type, divisor == 0 ? 0 : dividend / divisor);
    }
    case XbaseOp::kNeg:
      return Number(type, -args[0]->Eval(row).number);
    case XbaseOp::kDateAddDays:
    case XbaseOp::kDateSubDays: {
      XbaseValue a = args[0]->Eval(row);
      XbaseValue b = args[1]->Eval(row);
      double date = a.type == XbaseType::kDate ? a.number : b.number;
      double days = std::trunc(a.type == XbaseType::kDate ? b.number : a.number);
      if (date <= 0) return Number(XbaseType::kDate, 0);
      double result = op == XbaseOp::kDateAddDays ? date + days : date - days;
      return Number(XbaseType::kDate, result > 0 ? result : 0);
    }
    case XbaseOp::kDateDiff: {
      double a = args[0]->Eval(row).number;
      double b = args[1]->Eval(row).number;
      return Number(XbaseType::kNumeric, a - b);
    }
    case XbaseOp::kUpper:
    case XbaseOp::kLower: {
      std::string_view text = args[0]->Eval(row).text;
      scratch.resize(text.size());
      for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (op == XbaseOp::kUpper && c >= 'a' && c <= 'z') c -= 32;
        if (op == XbaseOp::kLower && c >= 'A' && c <= 'Z') c += 32;
        scratch[i] = static_cast<char>(c);
      }
      return Text(scratch);
    }
    case XbaseOp::kRtrim:
    case XbaseOp::kLtrim:
    case XbaseOp::kAlltrim: {
      std::string_view text = args[0]->Eval(row).text;
      if (op != XbaseOp::kLtrim) {
        size_t end = text.find_last_not_of(' ');
        text = end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
      }
      if (op != XbaseOp::kRtrim) {
        size_t start = text.find_first_not_of(' ');
        text = start == std::string_view::npos ? std::string_view() : text.substr(start);
      }
      return Text(text);
    }
    case XbaseOp::kSubstr: {
      std::string_view text = args[0]->Eval(row).text;
      long start = Whole(args[1]->Eval(row).number);
      long length = args.size() > 2 ? Whole(args[2]->Eval(row).number) : long(text.size());
      if (start < 1) start = 1;
      if (length <= 0 || size_t(start) > text.size()) return Text(std::string_view());
      return Text(text.substr(size_t(start - 1), size_t(length)));
    }
    case XbaseOp::kLeft:
    case XbaseOp::kRight: {
      std::string_view text = args[0]->Eval(row).text;
      long count = Whole(args[1]->Eval(row).number);
      size_t n = count <= 0 ? 0 : std::min(text.size(), size_t(count));
      return Text(op == XbaseOp::kLeft ? text.substr(0, n) : text.substr(text.size() - n));
    }
    case XbaseOp::kDtos: {
      const XbaseNode& arg = *args[0];
      if (arg.op == XbaseOp::kField) {
        // A valid stored date is already its CCYYMMDD text.
        std::string_view bytes = row.bytes.substr(std::min(arg.offset, row.bytes.size()), arg.width);
        if (xbase_date::ValidDigits(bytes)) return Text(bytes);
        return Text("        ");
      }
      xbase_date::ToDigits(arg.Eval(row).number, scratch);
      return Text(scratch);
    }
    case XbaseOp::kDtoc: {
      // A blank date shows as "  /  /  ".
      xbase_date::ToDigits(args[0]->Eval(row).number, scratch);
      scratch = xbase::DateToPicture(scratch, "MM/DD/YY");
      return Text(scratch);
    }
    case XbaseOp::kCtod:
      return Number(XbaseType::kDate, xbase_date::FromPicture(args[0]->Eval(row).text));
    case XbaseOp::kStr: {
      double value = args[0]->Eval(row).number;
      long length = args.size() > 1 ? Whole(args[1]->Eval(row).number) : 10;
      long decimals = args.size() > 2 ? Whole(args[2]->Eval(row).number) : 0;
      length = std::clamp(length, 1L, 255L);
      decimals = std::clamp(decimals, 0L, std::max(0L, length - 2));
      scratch = Format("%*.*f", static_cast<int>(length), static_cast<int>(decimals), value);
      if (scratch.size() > size_t(length)) scratch.assign(size_t(length), '*');
      return Text(scratch);
    }
    case XbaseOp::kVal:
      return Number(XbaseType::kNumeric, ParseNumber(args[0]->Eval(row).text));
    case XbaseOp::kLen:
      return Number(XbaseType::kNumeric, static_cast<double>(args[0]->Eval(row).text.size()));
    case XbaseOp::kIif:
      return args[0]->Eval(row).logical ? args[1]->Eval(row) : args[2]->Eval(row);
    default:
      break;  // the operations Eval handles itself
  }
  return XbaseValue();
}

// --- Block-at-a-time evaluation ---------------------------------------------

namespace {

using digit_words::Word;

std::string_view BlockRecord(const XbaseBlock& block, uint32_t row) {
  return std::string_view(block.bytes + size_t(row) * block.record_length, block.record_length);
}

// Keeps the rows for which keep(record bytes, row) holds. The first pass of
// a selection starts from every record of the block, the deleted ones left
// out when the block says so, instead of from a list of them. A pure keep
// (a test of the record's bytes that reads nothing else and cannot fail) is
// also asked about deleted records, so that the loop has no branch on its
// answer: each row is stored and the count moved by the answer.
template <bool kPure, typename Keep>
void KeepRows(const XbaseBlock& block, std::vector<uint32_t>& rows, bool first, Keep keep) {
  size_t kept = 0;
  if (first) {
    rows.resize(block.count);
    uint32_t* out = rows.data();
    // A flag byte never equals 256: every record is live then.
    const int deleted_flag = block.skip_deleted ? '*' : 256;
    const size_t length = block.record_length;
    const char* bytes = block.bytes;
    for (uint32_t row = 0, count = block.count; row < count; ++row, bytes += length) {
      const std::string_view record(bytes, length);
      const bool live = static_cast<unsigned char>(bytes[0]) != deleted_flag;
      out[kept] = row;
      if constexpr (kPure) {
        kept += static_cast<size_t>(live) & static_cast<size_t>(keep(record, row));
      } else {
        kept += live && keep(record, row);
      }
    }
  } else {
    uint32_t* out = rows.data();
    for (size_t i = 0, n = rows.size(); i < n; ++i) {
      const uint32_t row = out[i];
      out[kept] = row;
      kept += keep(BlockRecord(block, row), row);
    }
  }
  rows.resize(kept);
}

// Every row of the block (less the deleted ones when the block says so).
void AllRows(const XbaseBlock& block, std::vector<uint32_t>& rows) {
  KeepRows<true>(block, rows, true, [](std::string_view, uint32_t) { return true; });
}

// CompareFieldText of an 8-byte field with an 8-byte text (a date's digits
// with a date constant): one comparison of two big-endian words.
[[gnu::always_inline]] inline int CompareEight(const char* left, const char* right) {
  uint64_t a, b;
  std::memcpy(&a, left, 8);
  std::memcpy(&b, right, 8);
  a = __builtin_bswap64(a);
  b = __builtin_bswap64(b);
  return a < b ? -1 : a > b ? 1 : 0;
}

// DTOS of a date field's bytes: the digits when they are a valid date,
// otherwise the blank date's eight blanks.
[[gnu::always_inline]] inline const char* DtosDigits(std::string_view bytes) {
  return xbase_date::ValidDigits(bytes) ? bytes.data() : "        ";
}

// The eight-byte texts that one date-text comparison, or two of them joined
// by .AND., hold for: an interval of the texts read as big-endian words, so
// that testing a row is one subtraction and one comparison.
class DigitsInterval {
 public:
  // Narrows the interval to the texts that compare with text (eight bytes)
  // as how asks. False for <>, which leaves no interval.
  bool Narrow(XbaseCompare how, const char* text) {
    const uint64_t c = BigEndian(text);
    constexpr uint64_t kLast = ~uint64_t{0};
    switch (how) {
      case XbaseCompare::kEqual:
      case XbaseCompare::kExactEqual: Within(c, c); return true;
      case XbaseCompare::kGreaterEqual: Within(c, kLast); return true;
      case XbaseCompare::kGreater: c == kLast ? Clear() : Within(c + 1, kLast); return true;
      case XbaseCompare::kLessEqual: Within(0, c); return true;
      case XbaseCompare::kLess: c == 0 ? Clear() : Within(0, c - 1); return true;
      case XbaseCompare::kNotEqual: return false;
    }
    return false;
  }
  bool empty() const { return empty_; }
  // REQUIRES: !empty().
  bool Holds(const char* text) const { return BigEndian(text) - low_ <= high_ - low_; }

 private:
  static uint64_t BigEndian(const char* text) { return __builtin_bswap64(Word(text)); }
  void Within(uint64_t low, uint64_t high) {
    low_ = std::max(low_, low);
    high_ = std::min(high_, high);
    if (low_ > high_) Clear();
  }
  void Clear() { empty_ = true; }
  uint64_t low_ = 0;
  uint64_t high_ = ~uint64_t{0};
  bool empty_ = false;
};

// Keeps the rows whose date field (eight bytes at offset), as DTOS gives it,
// lies in range. DTOS reads an invalid date as the blank date, so a row's
// date is checked only where its bytes and the blank date disagree.
void KeepDatesWithin(const XbaseBlock& block, std::vector<uint32_t>& rows, bool first,
                     size_t offset, const DigitsInterval& range) {
  if (range.empty()) {
    rows.clear();
    return;
  }
  const bool blank_holds = range.Holds("        ");
  KeepRows<true>(block, rows, first, [=](std::string_view record, uint32_t) {
    const char* raw = record.data() + offset;
    const bool raw_holds = range.Holds(raw);
    if (raw_holds == blank_holds) return raw_holds;
    return xbase_date::ValidDigits(std::string_view(raw, 8)) ? raw_holds : blank_holds;
  });
}

// The eight bytes of a word with a-z upper-cased, as CompareFieldText<true>
// upper-cases one byte (other bytes, those above 127 too, stay). Each byte
// is changed on its own: no carry crosses into the next.
[[gnu::always_inline]] inline uint64_t UpperAsciiWord(uint64_t word) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  const uint64_t low7 = word & kLow7;
  const uint64_t from_a = low7 + 0x1F1F1F1F1F1F1F1FULL;   // high bit set from 'a' up
  const uint64_t past_z = low7 + 0x0505050505050505ULL;   // high bit set past 'z'
  const uint64_t lower = from_a & ~past_z & ~word & kHigh;
  return word ^ (lower >> 2);  // 0x80 >> 2 is the case bit
}

// Whether the field's first bytes, upper-cased, equal the text's (as many
// bytes as the text has).
[[gnu::always_inline]] inline bool UpperEquals(const char* field, std::string_view text) {
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    if (UpperAsciiWord(Word(field + i)) != Word(text.data() + i)) return false;
  }
  for (; i < text.size(); ++i) {
    unsigned char l = static_cast<unsigned char>(field[i]);
    if (l >= 'a' && l <= 'z') l -= 32;
    if (l != static_cast<unsigned char>(text[i])) return false;
  }
  return true;
}

// Equality of a field's first bytes (upper-cased first for UPPER) with a
// text's, read a word or two of the record at a time. Prepared once per
// block: which words can be read depends on where the field lies in the
// record, as no word may reach past the record's end.
class HeadEquality {
 public:
  HeadEquality(size_t offset, std::string_view head, size_t record_length)
      : offset_(offset), head_(head) {
    const size_t n = head.size();
    char padded[8] = {};
    if (n == 0) {
      read_ = Read::kNothing;
    } else if (n <= 8 && offset + 8 <= record_length) {
      // One word from the field's start, the bytes past the text masked off.
      read_ = Read::kMaskedWord;
      std::memcpy(padded, head.data(), n);
      mask_ = ~uint64_t{0} >> (64 - 8 * n);
      head_word_ = Word(padded) & mask_;
    } else if (n < 8 && offset + n >= 8) {
      // The word ending at the text's end, shifted down to the field's bytes.
      read_ = Read::kWordEndingAtText;
      std::memcpy(padded, head.data(), n);
      shift_ = unsigned(8 * (8 - n));
      head_word_ = Word(padded);
    } else if (n > 8 && n <= 16) {
      // Two words, the second ending at the text's end (they may overlap).
      read_ = Read::kTwoWords;
      head_word_ = Word(head.data());
      tail_word_ = Word(head.data() + n - 8);
    } else {
      read_ = Read::kBytes;
    }
  }

  // Keeps the rows whose field starts with the text.
  template <bool kUpper>
  void Keep(const XbaseBlock& block, std::vector<uint32_t>& rows, bool first) const {
    auto word = [](const char* p) { return kUpper ? UpperAsciiWord(Word(p)) : Word(p); };
    const size_t offset = offset_;
    switch (read_) {
      case Read::kNothing:
        KeepRows<true>(block, rows, first, [](std::string_view, uint32_t) { return true; });
        return;
      case Read::kMaskedWord: {
        const uint64_t mask = mask_, wanted = head_word_;
        KeepRows<true>(block, rows, first, [&](std::string_view record, uint32_t) {
          return (word(record.data() + offset) & mask) == wanted;
        });
        return;
      }
      case Read::kWordEndingAtText: {
        const uint64_t wanted = head_word_;
        const unsigned shift = shift_;
        const size_t from = offset + head_.size() - 8;
        KeepRows<true>(block, rows, first, [&](std::string_view record, uint32_t) {
          return (word(record.data() + from) >> shift) == wanted;
        });
        return;
      }
      case Read::kTwoWords: {
        const uint64_t a = head_word_, b = tail_word_;
        const size_t tail = offset + head_.size() - 8;
        KeepRows<true>(block, rows, first, [&](std::string_view record, uint32_t) {
          return ((word(record.data() + offset) ^ a) | (word(record.data() + tail) ^ b)) == 0;
        });
        return;
      }
      case Read::kBytes: {
        const std::string_view head = head_;
        KeepRows<true>(block, rows, first, [&](std::string_view record, uint32_t) {
          if constexpr (kUpper) return UpperEquals(record.data() + offset, head);
          return std::memcmp(record.data() + offset, head.data(), head.size()) == 0;
        });
        return;
      }
    }
  }

 private:
  enum class Read { kNothing, kMaskedWord, kWordEndingAtText, kTwoWords, kBytes };
  Read read_ = Read::kBytes;
  size_t offset_;
  std::string_view head_;
  uint64_t head_word_ = 0, tail_word_ = 0, mask_ = 0;
  unsigned shift_ = 0;
};

// Whether the word (a numeric field's last eight bytes) holds blanks, then
// one to eight digits without a leading zero (a lone 0 aside): the form the
// library writes a whole number in, so that two such words hold the same
// number exactly when they are equal. Each byte is checked on its own.
[[gnu::always_inline]] inline bool WholeNumberWord(uint64_t word) {
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  const uint64_t other = word ^ digit_words::kBlanks;
  if (other == 0) return false;
  // The blanks ahead of the digits are the word's low bytes (little-endian).
  const unsigned shift = static_cast<unsigned>(__builtin_ctzll(other)) & 56;
  const uint64_t digits = (word ^ digit_words::kZeros) & (~uint64_t{0} << shift);
  // Digits are now 0 to 9 (and the masked blanks 0); any other byte has its
  // high bit set, or gets it by adding 0x76.
  if (((digits + 0x7676767676767676ULL) | digits) & kHigh) return false;
  return ((word >> shift) & 0xFF) != '0' || shift == 56;
}

// A number field in any other form than the library writes, read as its
// value: kept out of the loops that compare the common form.
[[gnu::noinline]] bool ParsedNumberEquals(std::string_view bytes, double number) {
  return ParseNumber(bytes) == number;
}

// Calls run with the comparison as a compile-time constant, so that a block's
// loop does not choose the comparison again for each row.
template <typename Run>
void WithCompare(XbaseCompare how, Run&& run) {
  using C = XbaseCompare;
  switch (how) {
    case C::kEqual:
    case C::kExactEqual: run(std::integral_constant<C, C::kEqual>{}); return;
    case C::kNotEqual: run(std::integral_constant<C, C::kNotEqual>{}); return;
    case C::kLess: run(std::integral_constant<C, C::kLess>{}); return;
    case C::kGreater: run(std::integral_constant<C, C::kGreater>{}); return;
    case C::kLessEqual: run(std::integral_constant<C, C::kLessEqual>{}); return;
    case C::kGreaterEqual: run(std::integral_constant<C, C::kGreaterEqual>{}); return;
  }
}

}  // namespace

void XbaseNode::Select(const XbaseBlock& block, std::vector<uint32_t>& rows, bool first) const {
  switch (op) {
    case XbaseOp::kAnd:
      if (SelectDateRange(block, rows, first)) return;
      args[0]->Select(block, rows, first);
      if (!rows.empty()) args[1]->Select(block, rows, false);
      return;
    case XbaseOp::kOr: {
      if (first) AllRows(block, rows);
      std::vector<uint32_t> left = rows;
      args[0]->Select(block, left, false);
      std::vector<uint32_t> rest;
      std::set_difference(rows.begin(), rows.end(), left.begin(), left.end(),
                          std::back_inserter(rest));
      if (!rest.empty()) args[1]->Select(block, rest, false);
      rows.clear();
      std::merge(left.begin(), left.end(), rest.begin(), rest.end(), std::back_inserter(rows));
      return;
    }
    case XbaseOp::kNot: {
      if (first) AllRows(block, rows);
      std::vector<uint32_t> held = rows;
      args[0]->Select(block, held, false);
      std::vector<uint32_t> others;
      std::set_difference(rows.begin(), rows.end(), held.begin(), held.end(),
                          std::back_inserter(others));
      rows.swap(others);
      return;
    }
    case XbaseOp::kCompare:
      if (fast_path != FastPath::kNone) {
        SelectCompare(block, rows, first);
        return;
      }
      break;
    default:
      break;
  }
  KeepRows<false>(block, rows, first, [&](std::string_view record, uint32_t row) {
    return Test(XbaseRow{record, block.first_recno + row, block.table});
  });
}

void XbaseNode::SelectCompare(const XbaseBlock& block, std::vector<uint32_t>& rows,
                              bool first) const {
  // A field beyond the record (a malformed header) reads as Test reads it.
  if (fast_offset + fast_width > block.record_length) {
    KeepRows<false>(block, rows, first, [&](std::string_view record, uint32_t row) {
      return Test(XbaseRow{record, block.first_recno + row, block.table});
    });
    return;
  }
  const size_t offset = fast_offset;
  const size_t width = fast_width;
  const std::string_view text = fast_text;
  const XbaseCompare how = compare;
  auto field = [&](std::string_view record) { return record.substr(offset, width); };
  switch (fast_path) {
    case FastPath::kField:
    case FastPath::kUpperField:
      if (how == XbaseCompare::kEqual) {
        // The text is compared up to its length: where it is longer than the
        // field, the rest must be blanks.
        const size_t common = std::min(width, text.size());
        if (text.find_first_not_of(' ', common) != std::string_view::npos) {
          rows.clear();
          return;
        }
        const HeadEquality head(offset, text.substr(0, common), block.record_length);
        if (fast_path == FastPath::kField) {
          head.Keep<false>(block, rows, first);
        } else {
          head.Keep<true>(block, rows, first);
        }
        return;
      }
      if (fast_path == FastPath::kField) {
        KeepRows<true>(block, rows, first, [&](std::string_view record, uint32_t) {
          return CompareResult(how, CompareFieldText<false>(field(record), text));
        });
      } else {
        KeepRows<true>(block, rows, first, [&](std::string_view record, uint32_t) {
          return CompareResult(how, CompareFieldText<true>(field(record), text));
        });
      }
      return;
    case FastPath::kDateTextField:
      if (width == 8 && text.size() == 8) {
        DigitsInterval range;
        if (range.Narrow(how, text.data())) {
          KeepDatesWithin(block, rows, first, offset, range);
          return;
        }
        auto holds = [&](const char* digits) {
          return CompareResult(how, CompareEight(digits, text.data()));
        };
        // An invalid date reads as the blank date: when that fails, a row
        // whose bytes fail fails whether its date is valid or not, and only
        // the rows whose bytes hold need their date checked.
        const bool blank_holds = holds("        ");
        KeepRows<true>(block, rows, first, [&](std::string_view record, uint32_t) {
          const char* raw = record.data() + offset;
          if (!blank_holds && !holds(raw)) return false;
          return holds(DtosDigits(std::string_view(raw, 8)));
        });
        return;
      }
      KeepRows<true>(block, rows, first, [&](std::string_view record, uint32_t) {
        std::string_view bytes = field(record);
        if (!xbase_date::ValidDigits(bytes)) bytes = "        ";
        return CompareResult(how, CompareFieldText<false>(bytes, text));
      });
      return;
    case FastPath::kNumberField: {
      const double number = fast_number;
      if ((how == XbaseCompare::kEqual || how == XbaseCompare::kNotEqual) && fast_whole_word) {
        // Equality with the word the constant is written as: a field in that
        // same form differs from it exactly when its number differs; any
        // other form (leading zeros, a sign, a point, a blank) is read as a
        // number.
        const uint64_t wanted = fast_word;
        const size_t before = width - 8;  // bytes ahead of the last word: blanks
        const uint64_t ahead = before == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * before)) - 1;
        // The common shape, an eight-byte field compared for equality, gets
        // a loop of its own with nothing left to choose per row.
        auto run = [&](auto eight_wide, auto equal_kept) {
          KeepRows<true>(block, rows, first, [=](std::string_view record, uint32_t) {
            const char* raw = record.data() + offset;
            const uint64_t last = Word(raw + before);
            const bool blank_ahead =
                eight_wide || ((Word(raw) ^ digit_words::kBlanks) & ahead) == 0;
            if (blank_ahead && WholeNumberWord(last)) return (last == wanted) == equal_kept;
            return ParsedNumberEquals(record.substr(offset, width), number) == equal_kept;
          });
        };
        const bool equal = how == XbaseCompare::kEqual;
        if (width == 8 && equal) {
          run(std::true_type{}, std::true_type{});
        } else {
          run(false, equal);
        }
        return;
      }
      // A whole constant is compared with right-aligned digits as integers.
      const bool whole = number == std::floor(number) && std::fabs(number) < 1e15;
      const int64_t constant = whole ? static_cast<int64_t>(number) : 0;
      WithCompare(how, [&](auto op) {
        KeepRows<true>(block, rows, first, [&](std::string_view record, uint32_t) {
          int64_t value = 0;
          if (whole && ParseRightAlignedDigits(record.data() + offset, width, &value)) {
            return CompareResult(op, value < constant ? -1 : value > constant ? 1 : 0);
          }
          return CompareResult(op, Sign(ParseNumber(field(record)), number));
        });
      });
      return;
    }
    case FastPath::kNone:
      break;
  }
}

bool XbaseNode::SelectDateRange(const XbaseBlock& block, std::vector<uint32_t>& rows,
                                bool first) const {
  const XbaseNode& low = *args[0];
  const XbaseNode& high = *args[1];
  if (low.op != XbaseOp::kCompare || high.op != XbaseOp::kCompare ||
      low.fast_path != FastPath::kDateTextField || high.fast_path != FastPath::kDateTextField ||
      low.fast_offset != high.fast_offset || low.fast_width != 8 || high.fast_width != 8 ||
      low.fast_offset + 8 > block.record_length || low.fast_text.size() != 8 ||
      high.fast_text.size() != 8) {
    return false;
  }
  DigitsInterval range;
  if (!range.Narrow(low.compare, low.fast_text.data()) ||
      !range.Narrow(high.compare, high.fast_text.data())) {
    return false;
  }
  KeepDatesWithin(block, rows, first, low.fast_offset, range);
  return true;
}

void XbaseNode::PrepareFastPath() {
  fast_path = FastPath::kNone;
  if (op != XbaseOp::kCompare || compare == XbaseCompare::kExactEqual ||
      args[1]->op != XbaseOp::kConst) {
    return;
  }
  const XbaseNode& left = *args[0];
  if (left.op == XbaseOp::kField && (left.field_type == 'N' || left.field_type == 'F')) {
    fast_path = FastPath::kNumberField;
  } else if (left.type != XbaseType::kCharacter) {
    return;
  } else if (left.op == XbaseOp::kField) {
    fast_path = FastPath::kField;
  } else if (left.op == XbaseOp::kUpper && left.args[0]->op == XbaseOp::kField) {
    fast_path = FastPath::kUpperField;
  } else if (left.op == XbaseOp::kDtos && left.args[0]->op == XbaseOp::kField) {
    fast_path = FastPath::kDateTextField;
  }
  if (fast_path == FastPath::kNone) return;
  const XbaseNode& field = left.op == XbaseOp::kField ? left : *left.args[0];
  fast_offset = field.offset;
  fast_width = field.width;
  fast_text = args[1]->constant.text;
  fast_number = args[1]->constant.number;
  const double number = fast_number;
  fast_whole_word = fast_path == FastPath::kNumberField && number >= 0 && number < 1e8 &&
                    number == std::floor(number) && fast_width >= 8 && fast_width <= 16;
  if (fast_whole_word) {
    const std::string written =
        Format("%*lld", static_cast<int>(fast_width), static_cast<long long>(number));
    fast_word = digit_words::Word(written.data() + fast_width - 8);
  }
}

void XbaseNode::FoldIfConstant() {
  switch (op) {
    case XbaseOp::kConst: case XbaseOp::kField: case XbaseOp::kMemo:
    case XbaseOp::kRecno: case XbaseOp::kDeleted: case XbaseOp::kToday:
      return;
    default:
      break;
  }
  for (const auto& arg : args) {
    if (arg->op != XbaseOp::kConst) return;
  }
  XbaseValue value = Eval(XbaseRow());
  constant_text.assign(value.text);
  constant = value;
  constant.text = constant_text;
  op = XbaseOp::kConst;
  args.clear();
  scratch.clear();
}

}  // namespace vigilo
