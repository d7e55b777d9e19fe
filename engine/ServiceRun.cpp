#include "engine/ServiceRun.h"

#include <utility>

#include "engine/MulticastServer.h"

namespace Corvane {
namespace Client {

ServiceRun::ServiceRun(EngineSettings settings, std::shared_ptr<BodyBudget> bodyBudget)
    : settings_(std::move(settings)),
      body_budget_(std::move(bodyBudget)),
      io_context_(std::make_shared<boost::asio::io_context>(1)),
      exited_future_(exited_.get_future().share()) {
  // Keeps the I/O context running until Shutdown, whatever the servers do.
  work_guard_.emplace(io_context_->get_executor());
}

ServiceRun::~ServiceRun() { Join(); }

void ServiceRun::Launch(std::function<void()> body) {
  thread_ = std::thread([this, body = std::move(body)] {
    body();
    exited_.set_value();
  });
}

bool ServiceRun::IsServiceThread() const { return thread_.get_id() == std::this_thread::get_id(); }

bool ServiceRun::RunUnlessShutDown(const std::function<void()>& step) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (shut_down_) return false;
  step();
  return true;
}

void ServiceRun::OnShutdown(std::function<void()> action) {
  shutdown_actions_.push_back(std::move(action));
}

void ServiceRun::Shutdown() {
  std::vector<std::function<void()>> actions;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shut_down_) return;
    shut_down_ = true;
    work_guard_.reset();
    actions.swap(shutdown_actions_);
  }
  for (auto& action : actions) action();
}

bool ServiceRun::IsShutDown() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shut_down_;
}

void ServiceRun::SetMulticastServer(std::shared_ptr<MulticastServer> server) {
  multicast_server_ = std::move(server);
}

bool ServiceRun::IsHailing() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !shut_down_ && multicast_server_ && multicast_server_->IsHailing();
}

void ServiceRun::MarkSetUp() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    set_up_ = true;
  }
  set_up_changed_.notify_all();
}

bool ServiceRun::WaitForSetUp(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return set_up_changed_.wait_for(lock, timeout, [this] { return set_up_; });
}

bool ServiceRun::WaitForExit(std::chrono::milliseconds timeout) {
  if (!thread_.joinable()) return true;
  return exited_future_.wait_for(timeout) == std::future_status::ready;
}

bool ServiceRun::HasExited() { return WaitForExit(std::chrono::milliseconds(0)); }

void ServiceRun::Join() {
  if (!thread_.joinable()) return;
  if (IsServiceThread()) {
    // The last reference was dropped on the service thread itself: it is
    // about to leave, and nothing can wait for it here.
    thread_.detach();
    return;
  }
  thread_.join();
}

}  // namespace Client
}  // namespace Corvane
