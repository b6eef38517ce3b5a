#include "manager/project_selection.h"

#include "common/text.h"

namespace vigilo {

long ProjectSelection::Kind() const { return LeadingNumber(kind); }

}  // namespace vigilo
