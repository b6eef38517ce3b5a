// ActivityView: the main window's pane, showing what the engine of the
// installation did, whoever ran it: the last ticks (time, runner, duration,
// updates, notifications, errors) with the errors of the newest tick that
// had any, the outbox's depth and failures, the last actions (of one rule
// when the filter names it) with "Explain" for the selected one, and the
// run log's tail, followed as it grows. A thin view over ActivityLog,
// refreshed every second.
#pragma once

#include <QWidget>

#include <string>

#include "manager/activity.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTimer;

namespace vigilo {

class ActivityView : public QWidget {
  Q_OBJECT

 public:
  ActivityView(const std::string& server_dir, QWidget* parent);

  // Reads the history, the outbox and the run log again.
  void Refresh();

 private:
  void ExplainSelected();

  ActivityLog activity_;
  QLineEdit* rule_filter_;
  QTableWidget* ticks_;
  QPlainTextEdit* errors_;
  QLabel* outbox_;
  QTableWidget* actions_;
  QPushButton* explain_;
  QPlainTextEdit* log_tail_;
  QTimer* timer_;
};

}  // namespace vigilo
