#include "platform/xbase/dbf_error.h"

#include "common/format.h"

namespace vigilo {

XbaseExpressionError::XbaseExpressionError(const std::string& expression, size_t position,
                                           const std::string& detail)
    : DbfError(Format("xBase expression error at position %zu of \"%s\": %s", position,
                      expression.c_str(), detail.c_str())),
      expression_(expression),
      position_(position),
      detail_(detail) {}

}  // namespace vigilo
