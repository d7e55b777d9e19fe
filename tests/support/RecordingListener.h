#pragma once
// A host listener that records every callback and lets tests wait for them.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "interface/Quellor.h"

namespace Corvane {
namespace Testing {

class RecordingListener : public Client::QuellorListener {
 public:
  void OnError(int code, const std::wstring& description) override {
    Record([&] { errors_.emplace_back(code, description); });
  }
  void OnMessageReceived(const std::wstring& xml) override {
    Record([&] { messages_.push_back(xml); });
  }
  void OnFileReceived(const std::wstring& path) override { Record([&] { files_.push_back(path); }); }

  std::vector<std::pair<int, std::wstring>> Errors() { return Locked(errors_); }
  std::vector<std::wstring> Messages() { return Locked(messages_); }
  std::vector<std::wstring> Files() { return Locked(files_); }

  /// Waits until at least `count` callbacks of a kind have come; false after
  /// `timeout`.
  bool WaitForErrors(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    return WaitFor([&] { return errors_.size() >= count; }, timeout);
  }
  bool WaitForMessages(std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    return WaitFor([&] { return messages_.size() >= count; }, timeout);
  }
  bool WaitForFiles(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    return WaitFor([&] { return files_.size() >= count; }, timeout);
  }

 private:
  template <typename F>
  void Record(F&& f) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      f();
    }
    changed_.notify_all();
  }
  template <typename T>
  T Locked(const T& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    return value;
  }
  template <typename F>
  bool WaitFor(F&& condition, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, condition);
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::pair<int, std::wstring>> errors_;
  std::vector<std::wstring> messages_;
  std::vector<std::wstring> files_;
};

}  // namespace Testing
}  // namespace Corvane
