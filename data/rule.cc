#include "data/rule.h"

namespace vigilo {

void CRule::CopyRecord(const CRule& record) {
  rule_id = record.rule_id;
  db_type = record.db_type;
  dsn = record.dsn;
  db_table = record.db_table;
  action = record.action;
  target = record.target;
  values = record.values;
  cond = record.cond;
  flag = record.flag;
}

}  // namespace vigilo
