#include "platform/host/signal_control.h"

#include <gtest/gtest.h>

namespace vigilo::host {
namespace {

using namespace std::chrono_literals;

TEST(SignalControlTest, SignalsMapToServiceControls) {
  EXPECT_EQ(ControlForSignal(SIGTERM), kControlStop);
  EXPECT_EQ(ControlForSignal(SIGINT), kControlStop);
  EXPECT_EQ(ControlForSignal(SIGUSR1), kControlPause);
  EXPECT_EQ(ControlForSignal(SIGUSR2), kControlContinue);
  EXPECT_EQ(ControlForSignal(SIGHUP), kControlParamChange);
  EXPECT_EQ(ControlForSignal(SIGPIPE), std::nullopt);
}

TEST(SignalControlTest, RaisedControlsArriveInTheReader) {
  SignalControlReader reader;
  EXPECT_EQ(reader.Wait(10ms), std::nullopt);
  ASSERT_TRUE(SignalControlReader::RaiseControl(kControlPause));
  EXPECT_EQ(reader.Wait(1000ms), kControlPause);
  ASSERT_TRUE(SignalControlReader::RaiseControl(kControlParamChange));
  EXPECT_EQ(reader.Wait(1000ms), kControlParamChange);
  ASSERT_TRUE(SignalControlReader::RaiseControl(kControlStop));
  EXPECT_EQ(reader.Wait(1000ms), kControlStop);
  EXPECT_FALSE(SignalControlReader::RaiseControl(99));
}

}  // namespace
}  // namespace vigilo::host
