#include "platform/EventSink.h"

#include <mutex>
#include <utility>

#include "platform/SyslogEventSink.h"

namespace Corvane {
namespace Platform {

namespace {

std::mutex& SinkMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<EventSink>& SinkSlot() {
  static std::shared_ptr<EventSink> sink;
  return sink;
}

}  // namespace

EventSink::~EventSink() = default;

std::shared_ptr<EventSink> CurrentEventSink() {
  std::lock_guard<std::mutex> lock(SinkMutex());
  auto& sink = SinkSlot();
  if (!sink) sink = std::make_shared<SyslogEventSink>();
  return sink;
}

std::shared_ptr<EventSink> InstallEventSink(std::shared_ptr<EventSink> sink) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  auto previous = std::move(SinkSlot());
  SinkSlot() = std::move(sink);
  return previous;
}

}  // namespace Platform
}  // namespace Corvane
