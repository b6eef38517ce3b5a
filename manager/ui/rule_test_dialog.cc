#include "manager/ui/rule_test_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "common/format.h"
#include "manager/ui/dialog_buttons.h"
#include "manager/ui/explain_dialog.h"

namespace vigilo {
namespace {

// How often the rows read so far are shown while counting.
constexpr int kProgressIntervalMs = 200;

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

CRuleTestDlg::CRuleTestDlg(TestedRule rule, Prompts& prompts, MarkOffer mark, QWidget* parent)
    : QDialog(parent), logic_(std::move(rule), mark), prompts_(prompts) {
  setWindowTitle(kRuleTestTitle);
  setObjectName("RuleTestDialog");

  auto* rule_line = new QLabel(Text(logic_.RuleLine()), this);
  auto* condition = new QLabel(Text(logic_.ConditionLine()), this);
  condition->setWordWrap(true);
  condition->setTextInteractionFlags(Qt::TextSelectableByMouse);
  status_ = new QLabel(this);
  status_->setObjectName("Status");
  notes_ = new QLabel(this);
  notes_->setObjectName("Notes");
  notes_->setWordWrap(true);
  notes_->hide();
  meeting_ = new QLabel(this);
  meeting_->setObjectName("Meeting");
  acting_ = new QLabel(this);
  acting_->setObjectName("ActingOn");
  auto* counts = new QFormLayout;
  counts->addRow(kRuleTestMeetingLabel, meeting_);
  counts->addRow(kRuleTestActingLabel, acting_);

  records_ = new QTreeWidget(this);
  records_->setObjectName("Records");
  records_->setRootIsDecorated(false);
  records_->setUniformRowHeights(true);
  records_->setHeaderLabels({"FormID"});
  records_->setMinimumSize(480, 220);
  auto* list_label = NamingLabel(kRuleTestListLabel, records_, this);
  list_note_ = new QLabel(this);
  list_note_->setObjectName("ListNote");
  list_note_->hide();

  cancel_ = new QPushButton(kRuleTestCancelButton, this);
  cancel_->setObjectName("Cancel");
  cancel_->setAutoDefault(false);
  mark_ = new QPushButton(kRuleTestMarkButton, this);
  mark_->setObjectName("Mark");
  mark_->setAutoDefault(false);
  mark_->setEnabled(false);
  mark_->setVisible(logic_.MarkShown());
  close_ = new QPushButton(kRuleTestCloseButton, this);
  close_->setDefault(true);
  // The saved rule, as the engine runs it, on the selected record.
  auto* explain = new QPushButton("E&xplain", this);
  explain->setObjectName("explain");
  explain->setAutoDefault(false);
  explain->setVisible(logic_.rule().rule_id.has_value());
  explain->setEnabled(false);
  connect(records_, &QTreeWidget::currentItemChanged, explain,
          [explain](QTreeWidgetItem* current) { explain->setEnabled(current != nullptr); });
  connect(explain, &QPushButton::clicked, this, [this] {
    QTreeWidgetItem* item = records_->currentItem();
    if (item == nullptr || !logic_.rule().rule_id) return;
    ShowExplanation(this, static_cast<int32_t>(*logic_.rule().rule_id), item->text(0).toLongLong());
  });
  // Room around each caption, so a long one never reaches the frame or the
  // list above at a larger font.
  for (QPushButton* button : {mark_, explain, cancel_, close_}) {
    button->setMinimumWidth(button->sizeHint().width() + 2 * button->fontMetrics().averageCharWidth());
  }
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(mark_);
  buttons->addWidget(explain);
  buttons->addStretch();
  buttons->addWidget(cancel_);
  buttons->addWidget(close_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(rule_line);
  layout->addWidget(condition);
  layout->addWidget(status_);
  layout->addWidget(notes_);
  layout->addLayout(counts);
  layout->addWidget(list_label);
  layout->addWidget(records_, 1);
  layout->addWidget(list_note_);
  layout->addSpacing(layout->spacing());
  layout->addLayout(buttons);
  FitTitle(this);

  progress_timer_ = new QTimer(this);
  progress_timer_->setInterval(kProgressIntervalMs);
  connect(progress_timer_, &QTimer::timeout, this, &CRuleTestDlg::ShowProgress);
  connect(cancel_, &QPushButton::clicked, this, &CRuleTestDlg::OnCancel);
  connect(mark_, &QPushButton::clicked, this, &CRuleTestDlg::OnMark);
  connect(close_, &QPushButton::clicked, this, &CRuleTestDlg::reject);
  StartCount();
}

CRuleTestDlg::~CRuleTestDlg() { StopWorker(); }

void CRuleTestDlg::SetStatus(const QString& text) {
  status_->setText(text);
  status_->setVisible(!text.isEmpty());
}

void CRuleTestDlg::StopWorker() {
  if (worker_ == nullptr) return;
  cancel_requested_ = true;
  worker_->wait();
  delete worker_;
  worker_ = nullptr;
}

void CRuleTestDlg::reject() {
  // A marking cannot be stopped halfway; the dialog closes once it is done.
  if (logic_.marking()) return;
  StopWorker();
  QDialog::reject();
}

void CRuleTestDlg::RunInBackground(std::function<void()> work, std::function<void()> done) {
  cancel_requested_ = false;
  rows_read_ = 0;
  mark_->setEnabled(false);
  worker_ = QThread::create(std::move(work));
  // Queued to this thread; dropped with the dialog when it is gone first
  // (the destructor then waits for the thread itself).
  connect(worker_, &QThread::finished, this, [this, done = std::move(done)] {
    if (worker_ == nullptr) return;
    worker_->deleteLater();
    worker_ = nullptr;
    progress_timer_->stop();
    done();
    emit workDone();
  });
  progress_timer_->start();
  worker_->start();
}

void CRuleTestDlg::StartCount() {
  logic_.CountStarted();
  SetStatus(Text(logic_.CountStatus()));
  meeting_->clear();
  acting_->clear();
  records_->clear();
  list_note_->hide();
  cancel_->setEnabled(true);
  RuleTestOptions options;
  options.cancel = &cancel_requested_;
  options.progress = [this](long rows) { rows_read_ = rows; };
  RunInBackground([this, options] { count_result_ = CountRule(logic_.rule(), options); },
                  [this] {
                    logic_.Counted(std::move(count_result_));
                    ShowCount();
                  });
}

void CRuleTestDlg::ShowProgress() {
  const long rows = rows_read_;
  if (rows > 0 && !cancel_requested_) {
    SetStatus(Text(Format("%s %ld rows read", kRuleTestCountingText, rows)));
  }
}

void CRuleTestDlg::OnCancel() {
  if (worker_ == nullptr) return;
  cancel_requested_ = true;
  cancel_->setEnabled(false);
}

void CRuleTestDlg::ShowCount() {
  const RuleTestResult& result = logic_.result();
  cancel_->setEnabled(false);
  SetStatus(Text(logic_.CountStatus()));
  if (result.outcome == RuleTestResult::Outcome::kFailed) {
    prompts_.Message(result.message, PromptIcon::kWarning);
  }
  if (result.outcome != RuleTestResult::Outcome::kCounted) return;
  meeting_->setText(QString::number(result.meeting));
  acting_->setText(QString::number(result.to_act_on));
  notes_->setText(Text(logic_.Note()));
  notes_->setVisible(!notes_->text().isEmpty());

  QStringList headers{"FormID"};
  if (!result.column.empty()) headers << Text(result.column);
  records_->setHeaderLabels(headers);
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<int>(result.records.size()));
  for (const TestedRecord& record : result.records) {
    QStringList columns{QString::number(record.form_id)};
    if (!result.column.empty()) columns << Text(record.value);
    items << new QTreeWidgetItem(columns);
  }
  records_->addTopLevelItems(items);
  records_->resizeColumnToContents(0);
  list_note_->setText(Text(logic_.ListCutNote()));
  list_note_->setVisible(!list_note_->text().isEmpty());
  mark_->setEnabled(logic_.MarkEnabled());
}

void CRuleTestDlg::OnMark() {
  if (worker_ != nullptr) return;
  std::optional<std::string> question = logic_.MarkQuestion();
  if (!question || !prompts_.AskYesNo(*question)) return;
  SetStatus(kRuleTestMarkingText);
  cancel_->setEnabled(false);
  close_->setEnabled(false);
  logic_.MarkingStarted();
  RunInBackground([this] { mark_result_ = MarkRuleHandled(logic_.rule()); },
                  [this] {
                    close_->setEnabled(true);
                    std::string message = logic_.Marked(mark_result_);
                    if (!mark_result_.marked) {
                      SetStatus(QString());
                      prompts_.Message(message, PromptIcon::kWarning);
                      mark_->setEnabled(logic_.MarkEnabled());
                      return;
                    }
                    prompts_.Message(message, PromptIcon::kInformation);
                    StartCount();
                  });
}

}  // namespace vigilo
