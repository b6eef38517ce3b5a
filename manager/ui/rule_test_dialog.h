// CRuleTestDlg: the preview a "Test" button opens: for the rule as it stands
// in the Setup Rules or the Query Builder dialog, how many records of its
// table meet the condition now and how many of them the rule would act on at
// the next tick, with a list of those records (CountRule). The count runs on
// a thread of its own, so a large table never freezes the window; Cancel
// stops it. Opened from Setup Rules on a saved rule, "Mark as already
// handled" flags the records the rule would act on, so that it acts only on
// records that newly meet it (MarkRuleHandled), and counts again.
//
// What is shown after a count or a marking is decided by RuleTestLogic.
// Closing the dialog while a count runs cancels it and waits for its thread;
// while a marking runs, the dialog stays open until it is done.
#pragma once

#include <atomic>
#include <functional>

#include <QDialog>

#include "manager/prompts.h"
#include "manager/rule_test.h"
#include "manager/rule_test_logic.h"

class QLabel;
class QString;
class QPushButton;
class QThread;
class QTimer;
class QTreeWidget;

namespace vigilo {

class CRuleTestDlg : public QDialog {
  Q_OBJECT

 public:
  using MarkOffer = RuleTestMarkOffer;

  // The count starts at once.
  CRuleTestDlg(TestedRule rule, Prompts& prompts, MarkOffer mark, QWidget* parent = nullptr);
  ~CRuleTestDlg() override;

  // True while a count or a marking runs.
  bool busy() const { return worker_ != nullptr; }
  const RuleTestResult& result() const { return logic_.result(); }

  void reject() override;

 signals:
  // A count or a marking has ended and its outcome is shown.
  void workDone();

 private:
  void StartCount();
  void OnCancel();
  void OnMark();
  // Runs work on a new thread, then done on this one.
  void RunInBackground(std::function<void()> work, std::function<void()> done);
  void ShowCount();
  void ShowProgress();
  void StopWorker();
  // The status line, hidden while empty.
  void SetStatus(const QString& text);

  RuleTestLogic logic_;
  Prompts& prompts_;
  std::atomic<bool> cancel_requested_{false};
  std::atomic<long> rows_read_{0};
  QThread* worker_ = nullptr;
  RuleTestResult result_;
  RuleTestResult count_result_;
  MarkResult mark_result_;
  QTimer* progress_timer_;
  QLabel* status_;
  QLabel* notes_;
  QLabel* meeting_;
  QLabel* acting_;
  QLabel* list_note_;
  QTreeWidget* records_;
  QPushButton* cancel_;
  QPushButton* mark_;
  QPushButton* close_;
};

}  // namespace vigilo
