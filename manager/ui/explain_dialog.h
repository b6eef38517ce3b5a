// The "Explain" dialog: why a rule does or does not act on a record, as
// vgservice --explain tells it, shown from the activity view and the Test
// preview.
#pragma once

#include <cstdint>

class QWidget;

namespace vigilo {

// Explains the rule on the record and shows the result (or why it cannot be
// explained) in a modal dialog. Changes nothing in the installation.
void ShowExplanation(QWidget* parent, int32_t rule_id, long long form_id);

}  // namespace vigilo
