// The run controller against a scripted window: a window thread of the
// test's own (its queue of posted calls), a file dialog that holds the run
// until the test lets it go.
#include "app/core/run_controller.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "base/interrupt.h"

namespace kvr {
namespace {

class ScriptedWindow : public RunWindow {
 public:
  // Calls from the worker wait here until the test runs the window's queue.
  void OnWindowThread(const std::function<void()>& f) override {
    std::unique_lock lock(mutex_);
    bool done = false;
    queue_.push_back([&] {
      f();
      std::lock_guard inner(mutex_);
      done = true;
      changed_.notify_all();
    });
    changed_.notify_all();
    changed_.wait(lock, [&] { return done; });
  }
  void PostToWindow(std::function<void()> f) override {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(f));
    changed_.notify_all();
  }
  std::string ChooseFile(const std::string&, const std::string&, int) override {
    ++asked_for_files;
    return "";  // cancelled: the run ends at once
  }
  bool AskYesNo(const std::string&, const std::string&) override { return false; }
  bool PreviewChanges(const ChangeList&, const std::map<std::string, ChangeCount>&) override {
    return false;
  }
  void ShowStatus(const std::string& text) override { statuses.push_back(text); }
  void RunFinished(RunRecord record) override {
    finished.push_back(std::move(record));
    closing_when_drawn = controller->closing();
  }

  // Runs the window's queue until `until` holds.
  void RunUntil(const std::function<bool()>& until) {
    while (!until()) {
      std::function<void()> call;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !queue_.empty(); });
        call = std::move(queue_.front());
        queue_.pop_front();
      }
      call();
    }
  }
  // The run is waiting for the file dialog.
  void RunUntilAskedForAFile() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !queue_.empty(); });
  }

  RunController* controller = nullptr;
  int asked_for_files = 0;
  std::vector<std::string> statuses;
  std::vector<RunRecord> finished;
  bool closing_when_drawn = false;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> queue_;
};

class RunControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearInterrupt();
    window_.controller = &runs_;
  }
  void TearDown() override {
    window_.RunUntil([&] { return !runs_.busy(); });
    ClearInterrupt();
  }
  RunRequest Convert() { return RunRequest{"convert", false, false, {}, "test"}; }

  ScriptedWindow window_;
  RunController runs_{window_};
};

TEST_F(RunControllerTest, OneRunAtATimeAndItsRecordOnTheWindowThread) {
  ASSERT_TRUE(runs_.Start(Convert()));
  EXPECT_TRUE(runs_.busy());
  EXPECT_FALSE(runs_.Start(Convert()));
  EXPECT_FALSE(runs_.Start(RunRequest{"no-such-command", false, false, {}, "test"}));
  window_.RunUntil([&] { return !runs_.busy(); });
  ASSERT_EQ(window_.finished.size(), 1u);
  EXPECT_EQ(window_.asked_for_files, 1);
  EXPECT_EQ(window_.finished[0].result.outcome, RunResult::Outcome::kCancelled);
  EXPECT_EQ(window_.finished[0].inputs.version, "test");
  EXPECT_EQ(runs_.Close([] { return true; }), RunController::CloseStep::kCloseNow);
}

// Closing during a run: No lets it go on; Yes stops it and the window closes
// once its record is drawn; a second close while that happens asks nothing.
TEST_F(RunControllerTest, ClosingDuringARunAsksOnceAndClosesAfterIt) {
  ASSERT_TRUE(runs_.Start(Convert()));
  window_.RunUntilAskedForAFile();
  int asked = 0;
  EXPECT_EQ(runs_.Close([&] {
              ++asked;  // closed again while asked: the open question decides
              EXPECT_EQ(runs_.Close([&] { return ++asked, true; }), RunController::CloseStep::kStay);
              return false;
            }),
            RunController::CloseStep::kStay);
  EXPECT_FALSE(runs_.closing());
  EXPECT_FALSE(InterruptRequested());
  EXPECT_EQ(runs_.Close([&] { return ++asked, true; }), RunController::CloseStep::kStay);
  EXPECT_TRUE(runs_.closing());
  EXPECT_TRUE(InterruptRequested());
  EXPECT_EQ(runs_.Close([&] { return ++asked, true; }), RunController::CloseStep::kStay);
  EXPECT_EQ(asked, 2);
  window_.RunUntil([&] { return !runs_.busy(); });
  EXPECT_TRUE(window_.closing_when_drawn);
}

// The run ends while the question is open: Yes closes at once, and nothing
// is left to close the window after a later run.
TEST_F(RunControllerTest, ARunThatEndsWhileTheQuestionIsOpenClosesNow) {
  ASSERT_TRUE(runs_.Start(Convert()));
  const auto step = runs_.Close([&] {
    window_.RunUntil([&] { return !runs_.busy(); });
    // Closed again from within the question (a second click on the close box).
    EXPECT_EQ(runs_.Close([] { return true; }), RunController::CloseStep::kCloseNow);
    return true;
  });
  EXPECT_EQ(step, RunController::CloseStep::kCloseNow);
  EXPECT_FALSE(runs_.closing());
  EXPECT_FALSE(window_.closing_when_drawn);
  ASSERT_TRUE(runs_.Start(Convert()));
  window_.RunUntil([&] { return !runs_.busy(); });
  EXPECT_FALSE(window_.closing_when_drawn);
}

}  // namespace
}  // namespace kvr
