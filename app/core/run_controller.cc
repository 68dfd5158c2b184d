#include "app/core/run_controller.h"

#include <utility>

#include "app/core/run_context.h"
#include "app/core/variables.h"
#include "base/interrupt.h"

namespace kvr {

// The run's chooser, question, status and preview: each waits for the
// window's thread, where the user answers; status texts are posted.
class RunController::Bridge : public FileChooser, public OverwriteQuestion, public StatusSink, public ChangePreview {
 public:
  explicit Bridge(RunWindow& window) : window_(window) {}

  std::string GetFileName(const std::string& name, const std::string& extension, int type) override {
    std::string chosen;
    window_.OnWindowThread([&] { chosen = window_.ChooseFile(name, extension, type); });
    return chosen;
  }
  bool Ask(const std::string& text, const std::string& title) override {
    bool yes = false;
    window_.OnWindowThread([&] { yes = window_.AskYesNo(text, title); });
    return yes;
  }
  bool Apply(const ChangeList& changes, const std::map<std::string, ChangeCount>& counts) override {
    bool apply = false;
    window_.OnWindowThread([&] { apply = window_.PreviewChanges(changes, counts); });
    return apply;
  }
  void SetStatus(const std::string& text) override {
    window_.PostToWindow([&window = window_, text] { window.ShowStatus(text); });
  }

 private:
  RunWindow& window_;
};

RunController::RunController(RunWindow& window)
    : window_(window), bridge_(std::make_unique<Bridge>(window)), vars_(std::make_unique<Variables>()) {}

RunController::~RunController() {
  if (worker_.joinable()) {
    RequestInterrupt();
    worker_.join();
  }
}

bool RunController::Start(const RunRequest& request) {
  if (busy_) return false;
  const RunCommand* run = FindRunCommand(request.command);
  if (run == nullptr) return false;
  busy_ = true;
  ClearInterrupt();
  progress_.Start();
  worker_ = std::thread([this, run, request = RunRequest(request)] {
    RunContext ctx{*bridge_, *bridge_, *bridge_, request.big_switch, request.folder.path};
    ctx.preview = request.preview ? bridge_.get() : nullptr;  // the details show the changes: they are counted
    ctx.progress = &progress_;
    RunInputs given;
    given.version = request.version;
    auto record = std::make_shared<RunRecord>(RunAndRecord(*run, *vars_, ctx, std::move(given)));
    record->output_fell_back = request.folder.fell_back;
    window_.PostToWindow([this, record] { Finish(std::move(*record)); });
  });
  return true;
}

void RunController::Finish(RunRecord record) {
  worker_.join();
  busy_ = false;
  window_.RunFinished(std::move(record));
}

RunController::CloseStep RunController::Close(const std::function<bool()>& ask_stop) {
  if (!busy_) return CloseStep::kCloseNow;
  // Asked already (the question is open, or the answer was to stop): the
  // run's end closes the window, or the open question decides.
  if (close_after_run_ || asking_stop_) return CloseStep::kStay;
  asking_stop_ = true;
  const bool stop = ask_stop();
  asking_stop_ = false;
  if (!stop) return CloseStep::kStay;
  // The run ended while the question was open: nothing is left to stop.
  if (!busy_) return CloseStep::kCloseNow;
  close_after_run_ = true;
  RequestInterrupt();
  return CloseStep::kStay;
}

}  // namespace kvr
