// The one exception type of the xBase table library. Every fault of a .dbf or
// .dbt file (cannot open, malformed header, truncated data, memo pointer out of
// range, lock or write failure) and every expression error arrives as a
// DbfError whose message names the file or expression and the fault.
#pragma once

#include <stdexcept>
#include <string>

namespace vigilo {

class DbfError : public std::runtime_error {
 public:
  explicit DbfError(const std::string& message) : std::runtime_error(message) {}
};

// A syntax or type error in an xBase expression. The message reads
// "xBase expression error at position P of "EXPR": DETAIL"; position() is the
// 1-based character position the parser stopped at.
class XbaseExpressionError : public DbfError {
 public:
  XbaseExpressionError(const std::string& expression, size_t position,
                       const std::string& detail);
  const std::string& expression() const { return expression_; }
  size_t position() const { return position_; }
  const std::string& detail() const { return detail_; }

 private:
  std::string expression_;
  size_t position_;
  std::string detail_;
};

}  // namespace vigilo
