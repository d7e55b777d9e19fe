#include "control/ui/DialogScript.h"

#include <gtk/gtk.h>

namespace Corvane {
namespace Testing {

namespace {

const guint kPollMs = 10;

void CloseEveryWindow() {
  GListModel* toplevels = gtk_window_get_toplevels();
  while (g_list_model_get_n_items(toplevels) > 0) {
    auto* window = GTK_WINDOW(g_list_model_get_item(toplevels, 0));
    gtk_window_destroy(window);
    g_object_unref(window);
  }
}

}  // namespace

DialogScript::~DialogScript() {
  if (poll_source_) g_source_remove(poll_source_);
  if (timeout_source_) g_source_remove(timeout_source_);
}

void DialogScript::Step(std::string name, std::function<bool()> condition,
                        std::function<void()> action) {
  steps_.push_back({std::move(name), std::move(condition), std::move(action)});
}

void DialogScript::Start() {
  poll_source_ = g_timeout_add(kPollMs, &DialogScript::OnPoll, this);
  timeout_source_ = g_timeout_add(static_cast<guint>(timeout_ms_), &DialogScript::OnTimeout, this);
}

gboolean DialogScript::OnPoll(gpointer data) {
  auto* self = static_cast<DialogScript*>(data);
  // One step per poll: an action's effects are laid out before the next
  // condition is asked.
  if (self->next_ < self->steps_.size() && self->steps_[self->next_].condition()) {
    self->steps_[self->next_++].action();
  }
  if (self->Finished()) {
    self->poll_source_ = 0;
    if (self->timeout_source_) g_source_remove(self->timeout_source_);
    self->timeout_source_ = 0;
    return G_SOURCE_REMOVE;
  }
  return G_SOURCE_CONTINUE;
}

gboolean DialogScript::OnTimeout(gpointer data) {
  auto* self = static_cast<DialogScript*>(data);
  self->timeout_source_ = 0;
  if (!self->Finished()) {
    self->failure_ = "timed out waiting for: " + self->steps_[self->next_].name;
    if (self->poll_source_) g_source_remove(self->poll_source_);
    self->poll_source_ = 0;
    CloseEveryWindow();
  }
  return G_SOURCE_REMOVE;
}

}  // namespace Testing
}  // namespace Corvane
