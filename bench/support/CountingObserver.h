#pragma once
// An observer that only counts what it hears: what a host that watches the
// engine costs it, with nothing of the host's own work added.

#include <atomic>
#include <cstdint>

#include "interface/QuellorObserver.h"

namespace Corvane {
namespace Bench {

class CountingObserver : public Client::QuellorObserver {
 public:
  void OnApplicationAdded(const Client::ApplicationInfo&) override { ++calls_; }
  void OnApplicationRemoved(const Client::ApplicationInfo&, Client::DepartureReason) override {
    ++calls_;
  }
  void OnFileProgress(const Client::FileProgress&) override { ++calls_; }
  void OnConnectionRefused(const std::wstring&, const std::wstring&, std::uint64_t) override {
    ++calls_;
  }
  long Calls() const { return calls_; }

 private:
  std::atomic<long> calls_{0};
};

}  // namespace Bench
}  // namespace Corvane
