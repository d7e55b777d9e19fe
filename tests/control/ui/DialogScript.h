#pragma once
// What a person does with a modal dialog, step by step, for a test that
// calls into a modal loop it cannot leave: each step waits for its condition,
// then acts. The steps run from GTK's main context, which the modal loop
// iterates. A bound on the whole script closes every window when a condition
// never comes, so the modal call returns and the test fails instead of
// hanging.

#include <glib.h>

#include <functional>
#include <string>
#include <vector>

namespace Corvane {
namespace Testing {

class DialogScript {
 public:
  explicit DialogScript(int timeoutMs = 20000) : timeout_ms_(timeoutMs) {}
  ~DialogScript();
  DialogScript(const DialogScript&) = delete;
  DialogScript& operator=(const DialogScript&) = delete;

  /// Adds a step: when `condition` holds, `action` runs once.
  void Step(std::string name, std::function<bool()> condition, std::function<void()> action);
  /// Starts watching; call just before the modal call.
  void Start();

  bool Finished() const { return next_ == steps_.size(); }
  /// The step that was still waiting when the bound ran out, or empty.
  const std::string& GetFailure() const { return failure_; }

 private:
  struct Entry {
    std::string name;
    std::function<bool()> condition;
    std::function<void()> action;
  };

  static gboolean OnPoll(gpointer data);
  static gboolean OnTimeout(gpointer data);

  int timeout_ms_;
  std::vector<Entry> steps_;
  std::size_t next_ = 0;
  std::string failure_;
  guint poll_source_ = 0;
  guint timeout_source_ = 0;
};

}  // namespace Testing
}  // namespace Corvane
