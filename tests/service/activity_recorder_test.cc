// The recorder of the firing history: what a tick reports reaches the
// history in one piece, old rows go after HISTORY_DAYS, and a history that
// cannot be written costs the tick a run-log line and nothing else.
#include "service/activity_recorder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/ini_profile.h"
#include "data/clock.h"
#include "data/log_stream.h"
#include "tests/support/temp_dir.h"

namespace vigilo {
namespace {

constexpr std::time_t kDay = 86400;
constexpr std::time_t kStart = 1790000000;

ActionEvent Action(int32_t rule, long long record, const char* outcome) {
  return ActionEvent{0, rule, "1\\ORVIK\\Proj\\Bugs", record, kActionNotify, "SMTP:a@b.c",
                     outcome, {}};
}

class ActivityRecorderTest : public ::testing::Test {
 protected:
  ActivityRecorder::Options Options() {
    ActivityRecorder::Options options;
    options.history_path = dir_.File(kHistoryFileName);
    options.metrics_path = dir_.File("vigilo.prom");
    options.log = &log_;
    return options;
  }
  // One tick at the given time with the given actions.
  void Tick(ActivityRecorder& recorder, std::time_t when, std::vector<ActionEvent> actions) {
    ScopedFixedNow now(when);
    recorder.BeginTick();
    ActivityScope scope(&recorder);
    for (const ActionEvent& action : actions) ReportAction(action);
    recorder.EndTick();
  }
  std::vector<ActionRecord> Listed() {
    FiringHistory history;
    history.OpenForReading(dir_.File(kHistoryFileName));
    return history.Actions({});
  }

  testing::TempDir dir_;
  LogStream log_{[this] { return dir_.File("vglog.ini"); }};
};

TEST_F(ActivityRecorderTest, RowsOlderThanTheKeptDaysArePrunedAndTotalsStay) {
  ActivityRecorder::Options options = Options();
  options.history_days = 10;
  {
    ActivityRecorder recorder(options);
    Tick(recorder, kStart, {Action(1, 7, kOutcomeQueued), Action(1, 7, kOutcomeDelivered)});
    Tick(recorder, kStart + 9 * kDay, {Action(2, 8, kOutcomeRefused)});
    EXPECT_EQ(Listed().size(), 3u);
    Tick(recorder, kStart + 11 * kDay, {});
  }
  const std::vector<ActionRecord> kept = Listed();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].event.rule_id, 2);
  EXPECT_EQ(kept[0].event.time, kStart + 9 * kDay);

  // A new engine continues the counters where the last one left them.
  ActivityRecorder next(options);
  Tick(next, kStart + 12 * kDay, {Action(1, 9, kOutcomeDelivered)});
  const std::string metrics = testing::ReadText(dir_.File("vigilo.prom"));
  EXPECT_NE(metrics.find("vigilo_ticks_total 4\n"), std::string::npos) << metrics;
  EXPECT_NE(metrics.find("vigilo_notifications_total{outcome=\"delivered\"} 2\n"),
            std::string::npos)
      << metrics;
  FiringHistory history;
  history.OpenForReading(dir_.File(kHistoryFileName));
  EXPECT_EQ(history.LastTicks(10).size(), 3u);
  struct stat st {};
  ASSERT_EQ(stat(dir_.File(kHistoryFileName).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(ActivityRecorderTest, AnUnwritableHistoryIsOneRunLogLineAndTheTickGoesOn) {
  ActivityRecorder::Options options = Options();
  options.history_path = dir_.File("missing/vghistory.db");
  ActivityRecorder recorder(options);
  Tick(recorder, kStart, {Action(1, 7, kOutcomeQueued)});
  Tick(recorder, kStart + 60, {Action(1, 8, kOutcomeQueued)});
  const std::string text = log_.Text();
  EXPECT_EQ(text.find("Firing history not written : "), 0u) << text;
  EXPECT_EQ(text.find("Firing history not written", 1), std::string::npos)
      << "said once while it keeps failing: " << text;
  // The metrics still count both ticks.
  EXPECT_NE(testing::ReadText(dir_.File("vigilo.prom")).find("vigilo_ticks_total 2\n"),
            std::string::npos);
}

TEST_F(ActivityRecorderTest, SettingsComeFromTheProgramIni) {
  const std::string ini = dir_.File("vigtab.ini");
  EXPECT_EQ(ActivityRecorder::OptionsFor(ini, "/srv").history_days, kDefaultHistoryDays);
  EXPECT_EQ(ActivityRecorder::OptionsFor(ini, "/srv").metrics_path, "");
  WriteProfileString(ini, "OPTIONS", "HISTORY_DAYS", "0");
  EXPECT_EQ(ActivityRecorder::OptionsFor(ini, "/srv").history_days, kDefaultHistoryDays);
  WriteProfileString(ini, "OPTIONS", "HISTORY_DAYS", "7");
  WriteProfileString(ini, "OPTIONS", "METRICS_FILE", "/var/lib/node/vigilo.prom");
  const ActivityRecorder::Options options = ActivityRecorder::OptionsFor(ini, "/srv");
  EXPECT_EQ(options.history_days, 7);
  EXPECT_EQ(options.metrics_path, "/var/lib/node/vigilo.prom");
  EXPECT_EQ(options.history_path, "/srv/vghistory.db");
}

}  // namespace
}  // namespace vigilo
