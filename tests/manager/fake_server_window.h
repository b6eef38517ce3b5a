// The main window as the in-process server sees it, for tests without a
// display: it records the status window, panes and timers (which the test
// fires itself) and keeps what the worker posts until RunPosted.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "manager/server_control.h"

namespace vigilo::testing {

class FakeServerWindow : public ServerWindow {
 public:
  bool IsMinimized() const override { return minimized; }
  bool ShowStatusWindow(const std::string& text) override {
    status = text;
    status_history.push_back(text);
    return true;
  }
  void DestroyStatusWindow() override { status.reset(); }
  void SetPaneText(int pane, const std::string& text) override { panes[pane] = text; }
  void SetServerRunning(bool is_running) override { running = is_running; }
  void RepaintMainWindow() override {}
  void CloseMainWindow() override { ++close_requests; }
  void StartTimer(int id, std::chrono::milliseconds interval) override { timers[id] = interval; }
  void KillTimer(int id) override { timers.erase(id); }
  void PostToUi(std::function<void()> task) override {
    std::lock_guard<std::mutex> lock(mutex);
    posted.push_back(std::move(task));
  }
  // Runs what the worker posted, as the event loop would.
  void RunPosted() {
    std::deque<std::function<void()>> tasks;
    {
      std::lock_guard<std::mutex> lock(mutex);
      tasks.swap(posted);
    }
    for (auto& task : tasks) task();
  }
  size_t PostedCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return posted.size();
  }

  bool minimized = false;
  std::optional<std::string> status;
  std::vector<std::string> status_history;
  std::map<int, std::string> panes;
  std::map<int, std::chrono::milliseconds> timers;
  bool running = false;
  int close_requests = 0;
  std::mutex mutex;
  std::deque<std::function<void()>> posted;
};

}  // namespace vigilo::testing
