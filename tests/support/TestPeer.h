#pragma once
// A vendor application for tests: connects to a port on 127.0.0.1, hand-shakes,
// sends any frame and reads the engine's frames with time limits.
//
// After StartReading (HandShake calls it), a reader thread turns the stream
// into messages, answers health checks and XML data the way a version-1 peer
// does (each answer can be switched off), and keeps every message it read for
// the test to wait for. Before that, ReadChars reads the raw stream. Frames
// are read with the engine's frame parser; the engine's BINACK frames, which
// the engine's factory does not read, arrive as BinaryDataAckMessage objects
// (ReceivedBinaryAckMessage).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/ConnectResponseMessage.h"
#include "protocol/IntegrationMessage.h"

namespace Corvane {
namespace Testing {

using namespace std::chrono_literals;

class TestPeer {
 public:
  /// Connects at once; throws std::runtime_error when it cannot.
  explicit TestPeer(int port, std::chrono::milliseconds timeout = 5s);
  ~TestPeer();
  TestPeer(const TestPeer&) = delete;
  TestPeer& operator=(const TestPeer&) = delete;

  /// Sends a CONNECT and returns its message id.
  std::u16string SendConnect(const std::u16string& applicationId = u"vendor-app",
                             const std::u16string& applicationName = u"Vendor",
                             const std::u16string& address = u"127.0.0.1");
  /// Sends a CONNECT, reads the 140-character CONNECTACK and starts reading.
  /// Returns the CONNECTACK, or null when none came in time.
  std::shared_ptr<Client::ConnectResponseMessage> HandShake(
      const std::u16string& applicationId = u"vendor-app",
      const std::u16string& applicationName = u"Vendor");

  void Send(const Client::IntegrationMessage& message);
  void SendRaw(const std::u16string& text);
  /// Sends the bytes; false when the stream broke before all were sent.
  bool SendBytes(const std::string& bytes);

  /// Sends a BINDATA carrying `data` under `fileName` and returns its id.
  std::u16string SendBinaryData(const std::u16string& fileName, const std::string& data);
  /// Sends a BINDATA of `size` bytes of PatternBytes, generated a chunk at a
  /// time, with the correct checksum. False when the stream broke.
  bool SendPatternFile(const std::u16string& messageId, const std::u16string& fileName,
                       std::size_t size);

  /// Reads exactly `count` raw characters; fewer when the stream ends or the
  /// time is up. Only before StartReading.
  std::u16string ReadChars(std::size_t count);

  /// Bytes that arrived and are not read yet.
  std::size_t PendingBytes() const;

  void StartReading();
  void AnswerHealthChecks(bool answer) { answer_health_checks_ = answer; }
  void AnswerXml(bool answer) { answer_xml_ = answer; }

  /// Waits for the first unclaimed message of type T and claims it; null
  /// after the time limit.
  template <typename T>
  std::shared_ptr<T> WaitFor() {
    return WaitFor<T>(timeout_);
  }
  template <typename T>
  std::shared_ptr<T> WaitFor(std::chrono::milliseconds timeout) {
    std::shared_ptr<T> found;
    WaitUntil(
        [&] {
          for (auto it = unclaimed_.begin(); it != unclaimed_.end(); ++it) {
            if ((found = std::dynamic_pointer_cast<T>(*it))) {
              unclaimed_.erase(it);
              return true;
            }
          }
          return false;
        },
        timeout);
    return found;
  }

  /// How many messages of type T the reader has seen in all.
  template <typename T>
  int Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    int count = 0;
    for (const auto& message : all_) count += std::dynamic_pointer_cast<T>(message) != nullptr;
    return count;
  }

  /// Waits until the engine closes the stream; false after the time limit.
  bool WaitForClose() { return WaitForClose(timeout_); }
  bool WaitForClose(std::chrono::milliseconds timeout);
  /// Frames the reader could not parse.
  int ParseFailures();

  void Close();
  /// Closes the stream with a reset instead of an orderly end.
  void Reset();

 private:
  bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
  // Reads exactly `count` characters; false when the stream ended or the
  // reader was asked to stop.
  bool ReadExactly(std::u16string& out, std::size_t count, std::chrono::milliseconds timeout);
  void ReadLoop();
  void Answer(const std::shared_ptr<Client::IntegrationMessage>& message);

  int fd_ = -1;
  const std::chrono::milliseconds timeout_;
  std::atomic<bool> answer_health_checks_{true};
  std::atomic<bool> answer_xml_{true};
  std::atomic<bool> stopping_{false};
  std::mutex write_mutex_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<Client::IntegrationMessage>> unclaimed_;
  std::vector<std::shared_ptr<Client::IntegrationMessage>> all_;
  bool closed_by_engine_ = false;
  int parse_failures_ = 0;
  std::thread reader_;
};

}  // namespace Testing
}  // namespace Corvane
