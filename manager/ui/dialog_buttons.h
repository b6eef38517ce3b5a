// The column of OK, Cancel and Help buttons at the right of the rule
// manager's dialogs: OK is the default button and accepts the dialog, Cancel
// rejects it, Help opens the dialog's help topic and never takes the Enter key.
#pragma once

#include <QDialog>
#include <QVBoxLayout>

namespace vigilo {

QVBoxLayout* OkCancelHelpColumn(QDialog* dialog, int help_topic);

}  // namespace vigilo
