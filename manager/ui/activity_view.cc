#include "manager/ui/activity_view.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "common/format.h"
#include "manager/ui/explain_dialog.h"
#include "service/history_command.h"

namespace vigilo {
namespace {

constexpr int kRefreshMs = 1000;
// Lines the run-log pane keeps; older ones scroll away.
constexpr int kLogLines = 2000;

QTableWidget* Table(QWidget* parent, const char* name, const QStringList& headers) {
  auto* table = new QTableWidget(0, static_cast<int>(headers.size()), parent);
  table->setObjectName(name);
  table->setHorizontalHeaderLabels(headers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->verticalHeader()->setVisible(false);
  // Columns as wide as their texts, so the panes fit the window's default
  // width without scrolling sideways; the last takes what is left.
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  table->horizontalHeader()->setStretchLastSection(true);
  return table;
}

void SetRow(QTableWidget* table, int row, const QStringList& cells) {
  for (int column = 0; column < cells.size(); ++column) {
    QTableWidgetItem* item = table->item(row, column);
    if (item == nullptr) {
      table->setItem(row, column, new QTableWidgetItem(cells[column]));
    } else if (item->text() != cells[column]) {
      item->setText(cells[column]);
    }
  }
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

ActivityView::ActivityView(const std::string& server_dir, QWidget* parent)
    : QWidget(parent), activity_(server_dir) {
  setObjectName("ActivityView");
  auto* layout = new QVBoxLayout(this);

  auto* filter_row = new QHBoxLayout;
  auto* filter_label = new QLabel("&Rule:", this);
  rule_filter_ = new QLineEdit(this);
  rule_filter_->setObjectName("ruleFilter");
  rule_filter_->setPlaceholderText("all rules");
  rule_filter_->setValidator(new QIntValidator(1, 2147483647, rule_filter_));
  rule_filter_->setMaximumWidth(120);
  filter_label->setBuddy(rule_filter_);
  rule_filter_->setAccessibleName("Rule");
  outbox_ = new QLabel(this);
  outbox_->setObjectName("outbox");
  filter_row->addWidget(filter_label);
  filter_row->addWidget(rule_filter_);
  filter_row->addSpacing(24);
  filter_row->addWidget(outbox_, 1);
  layout->addLayout(filter_row);

  auto* splitter = new QSplitter(Qt::Vertical, this);
  ticks_ = Table(splitter, "ticks",
                 {"Time", "Run by", "Duration", "Selected", "Updates", "Notifications",
                  "Delivered", "Refused / failed", "Errors"});
  errors_ = new QPlainTextEdit(splitter);
  errors_->setObjectName("tickErrors");
  ticks_->setAccessibleName("Ticks");
  errors_->setAccessibleName("Tick errors");
  errors_->setReadOnly(true);
  errors_->setPlaceholderText("No errors in the last ticks.");
  auto* actions_pane = new QWidget(splitter);
  auto* actions_layout = new QVBoxLayout(actions_pane);
  actions_layout->setContentsMargins(0, 0, 0, 0);
  actions_ = Table(actions_pane, "actions",
                   {"Time", "Rule", "Table", "Record", "Action", "Outcome", "Details"});
  actions_->setAccessibleName("Actions");
  explain_ = new QPushButton("&Explain", actions_pane);
  explain_->setObjectName("explain");
  explain_->setToolTip("Why the selected action's rule does or does not act on its record now");
  actions_layout->addWidget(actions_);
  actions_layout->addWidget(explain_, 0, Qt::AlignRight);
  log_tail_ = new QPlainTextEdit(splitter);
  log_tail_->setObjectName("runLog");
  log_tail_->setAccessibleName("Run log");
  log_tail_->setReadOnly(true);
  log_tail_->setMaximumBlockCount(kLogLines);
  log_tail_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  layout->addWidget(splitter, 1);

  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, &ActivityView::Refresh);
  connect(rule_filter_, &QLineEdit::textChanged, this, &ActivityView::Refresh);
  connect(explain_, &QPushButton::clicked, this, &ActivityView::ExplainSelected);
  connect(actions_, &QTableWidget::cellDoubleClicked, this, &ActivityView::ExplainSelected);
  timer_->start(kRefreshMs);
  Refresh();
}

void ActivityView::Refresh() {
  std::optional<int32_t> rule;
  bool ok = false;
  const int id = rule_filter_->text().toInt(&ok);
  if (ok && id > 0) rule = id;
  const ActivitySnapshot snapshot = activity_.Read(rule);

  ticks_->setRowCount(static_cast<int>(snapshot.ticks.size()));
  QString errors;
  for (int row = 0; row < static_cast<int>(snapshot.ticks.size()); ++row) {
    const TickRecord& tick = snapshot.ticks[row];
    SetRow(ticks_, row,
           {Q(HistoryTimeText(tick.started)), Q(tick.runner),
            Q(Format("%.1f s", static_cast<double>(tick.duration_ms) / 1000.0)),
            QString::number(tick.selected), QString::number(tick.updates),
            QString::number(tick.queued), QString::number(tick.delivered),
            QString::number(tick.refused + tick.failed + tick.given_up),
            QString::number(tick.errors)});
    if (errors.isEmpty() && tick.errors > 0) {
      errors = Q(TickSummary(tick) + ":\n" + tick.error_text);
    }
  }
  if (!snapshot.problem.empty()) errors = Q(snapshot.problem);
  if (errors_->toPlainText() != errors) errors_->setPlainText(errors);

  QString outbox = QString("Outbox: %1 waiting").arg(snapshot.outbox_depth);
  if (snapshot.outbox_failing > 0) {
    outbox += QString(", %1 failing (%2)")
                  .arg(snapshot.outbox_failing)
                  .arg(Q(snapshot.outbox_last_error));
  }
  outbox_->setText(outbox);

  actions_->setRowCount(static_cast<int>(snapshot.actions.size()));
  for (int row = 0; row < static_cast<int>(snapshot.actions.size()); ++row) {
    const ActionEvent& event = snapshot.actions[row].event;
    std::string details = event.detail;
    if (!event.error.empty()) details += (details.empty() ? "" : " : ") + event.error;
    SetRow(actions_, row,
           {Q(HistoryTimeText(event.time)), QString::number(event.rule_id), Q(event.table),
            QString::number(event.record), Q(event.action), Q(event.outcome), Q(details)});
  }
  explain_->setEnabled(!snapshot.actions.empty());

  const std::string added = activity_.NewLogText();
  if (!added.empty()) {
    QString text = Q(added);
    if (text.endsWith('\n')) text.chop(1);
    log_tail_->appendPlainText(text);
    log_tail_->verticalScrollBar()->setValue(log_tail_->verticalScrollBar()->maximum());
  }
}

void ActivityView::ExplainSelected() {
  const int row = actions_->currentRow() >= 0 ? actions_->currentRow() : 0;
  if (row >= actions_->rowCount()) return;
  const int32_t rule = actions_->item(row, 1)->text().toInt();
  const long long record = actions_->item(row, 3)->text().toLongLong();
  ShowExplanation(this, rule, record);
}

}  // namespace vigilo
