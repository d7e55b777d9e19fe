#pragma once
// What the connection fuzz targets share: one engine connection over a
// socket in memory (the tests' MemorySocket), fed what a peer sends and, once
// the engine has done all it will with that, the orderly end of its stream,
// run on the calling thread until it has ended; and the checks of what it
// wrote and left behind.
//
// Whatever the input, a run must end (within kRunLimit), tell the engine of
// its end at most once, let go of the connection, leave nothing in the
// temporary directory and nothing outside the file directory, write only
// frames a vendor application can read, and deliver files only for a
// BINACK 1 (one for each, but for names sent twice). Anything else aborts:
// a finding.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include "connection/Connection.h"
#include "connection/ConnectionListener.h"
#include "connection/FileWorkPool.h"
#include "connection/ListenerSlot.h"
#include "filestore/FileFactoryImpl.h"
#include "logging/LoggerConfiguration.h"
#include "platform/TextConversion.h"
#include "protocol/ConnectResponseMessage.h"
#include "protocol/FrameParser.h"
#include "protocol/ReceivedBinaryAckMessage.h"
#include "support/MemorySocket.h"

namespace CorvaneFuzz {

namespace fs = std::filesystem;
using Corvane::Client::Connection;
using Corvane::Client::ConnectionKind;

[[noreturn]] inline void Finding(const char* what) {
  std::fprintf(stderr, "finding: %s\n", what);
  std::abort();
}

class ConnectionHarness {
 public:
  /// How long one input may take before its run counts as hung.
  static constexpr std::chrono::seconds kRunLimit{10};

  struct Result {
    bool handshake_ok = false;
    std::u16string written;  // every frame the engine wrote, in order
  };

  ConnectionHarness() {
    char pattern[] = "/tmp/corvane-fuzz-XXXXXX";
    if (!::mkdtemp(pattern)) Finding("no scratch directory");
    root_ = pattern;
    fs::create_directories(temp_ = root_ / "temp");
    fs::create_directories(files_ = root_ / "files");
    fs::create_directories(root_ / "log");
    // Errors only, to a file of the scratch directory (cleared now and then).
    std::ofstream(root_ / "logger.ini")
        << "[Log]\ntype=FILE\nname=fuzz\npath=" << (root_ / "log").string()
        << "\ndefaultLogLevel=ERROR\n";
    Corvane::Logging::LoggerConfiguration::Install(
        std::make_shared<const Corvane::Logging::LoggerConfiguration>(
            Corvane::Platform::FromUtf8(root_.string())));
    slot_->Set(&host_);
  }
  ~ConnectionHarness() {
    pool_->JoinAll();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  /// One connection of `kind` that reads `input`, then the end of the stream.
  Result Run(ConnectionKind kind, const std::u16string& input) {
    using Corvane::Testing::MemorySocket;
    boost::asio::io_context io;
    auto work = boost::asio::make_work_guard(io);
    Result result;
    auto socket = std::make_shared<MemorySocket>(
        io, [&result](MemorySocket&, const std::u16string& frame) { result.written += frame; });
    Corvane::Client::ConnectionSettings settings;
    settings.engineApplicationId = L"fuzz-engine";
    settings.engineApplicationName = L"Fuzz Engine";
    settings.language = L"en";
    settings.ackTimeout = std::chrono::milliseconds(100);
    settings.healthCheckInterval = std::chrono::milliseconds(60000);
    settings.fileDirectory = Corvane::Platform::FromUtf8(files_.string());
    settings.fileFactory = std::make_shared<Corvane::File::FileFactoryImpl>(temp_.string());
    Ends ends;
    auto connection = std::make_shared<Connection>(socket, slot_, &ends, settings, kind, pool_);
    const std::weak_ptr<Connection> watch = connection;

    bool done = false;
    socket->Deliver(input);
    connection->Start([&](const std::shared_ptr<Connection>&, const std::exception_ptr& failure) {
      done = true;
      result.handshake_ok = !failure;
    });
    const auto deadline = std::chrono::steady_clock::now() + kRunLimit;
    // The peer ends its stream once the engine has nothing more to do with
    // what it sent (as a peer waits for its BINACK before it goes).
    int quiet = 0;
    Drive(
        io,
        [&] {
          const bool idle = pool_->RunningCount() == 0 && io.poll() == 0;
          quiet = idle ? quiet + 1 : 0;
          return quiet >= 3;
        },
        deadline, "the connection never went quiet");
    socket->EndStream();
    Drive(io, [&] { return done; }, deadline, "the handshake never ended");
    // A running connection ends by itself at the end of the stream; a failed
    // handshake leaves the ending to the engine.
    if (result.handshake_ok) {
      Drive(
          io, [&] { return ends.count > 0; }, deadline,
          "the connection did not end at the end of its stream");
    }
    connection->End(Corvane::Client::Farewell::kDisconnect);
    connection.reset();
    Drive(
        io, [&] { return watch.expired() && pool_->RunningCount() == 0; }, deadline,
        "the connection was not let go of, or its file work never ended");
    if (ends.count > 1) Finding("the end was reported more than once");
    Check(result);
    if (++runs_ % 2000 == 0) ClearLog();
    return result;
  }

 private:
  struct Ends : Corvane::Client::ConnectionListener {
    void ConnectionClosed(std::shared_ptr<Connection>) override { ++count; }
    int count = 0;  // the I/O thread is the caller's
  };
  struct Host : Corvane::Client::QuellorListener {
    void OnError(int, const std::wstring&) override {}
    void OnMessageReceived(const std::wstring&) override {}
    void OnFileReceived(const std::wstring&) override {}
  };

  template <typename Condition>
  void Drive(boost::asio::io_context& io, Condition condition,
             std::chrono::steady_clock::time_point deadline, const char* what) {
    while (!condition()) {
      if (io.poll() == 0) std::this_thread::sleep_for(std::chrono::microseconds(50));
      if (std::chrono::steady_clock::now() > deadline) Finding(what);
    }
    io.poll();
  }

  // What the engine wrote reads as frames; what it delivered is what it
  // acknowledged; nothing is left in temp/ or outside the file directory.
  void Check(const Result& result) {
    Corvane::Client::FrameParser parser(&Corvane::Client::CreatePeerMessage);
    std::size_t offset = 0;
    int delivered = 0;
    bool first = true;
    while (offset < result.written.size()) {
      std::size_t used = 0;
      auto outcome =
          parser.Push(result.written.data() + offset, result.written.size() - offset, used);
      offset += used;
      using Read = Corvane::Client::FrameParser::Result;
      if (outcome == Read::kHeader) {
        if (parser.Wanted() != 0) continue;
        outcome = parser.Push(nullptr, 0, used);
      }
      if (outcome == Read::kBad) Finding("the engine wrote a frame a peer cannot read");
      if (outcome == Read::kNeedMore) {
        if (offset >= result.written.size()) Finding("the engine wrote part of a frame");
        continue;
      }
      const auto message = parser.TakeMessage();
      if (!message) continue;
      if (first && result.handshake_ok &&
          !std::dynamic_pointer_cast<Corvane::Client::ConnectResponseMessage>(message)) {
        Finding("a handshake succeeded without a CONNECTACK first");
      }
      first = false;
      if (auto ack =
              std::dynamic_pointer_cast<Corvane::Client::ReceivedBinaryAckMessage>(message)) {
        delivered += ack->GetReceivedFlag() == 1;
      }
    }
    // CORVANE_FUZZ_TRACE=1 says what each run did (to replay an input).
    static const bool trace = std::getenv("CORVANE_FUZZ_TRACE") != nullptr;
    if (trace) {
      std::fprintf(stderr, "run: handshake %s, %zu characters written, %d files delivered\n",
                   result.handshake_ok ? "ok" : "failed", result.written.size(), delivered);
    }
    if (Count(temp_, true) != 0) Finding("a temporary file was left behind");
    // A file of a name delivered before replaces it, so several BINACK 1 may
    // leave one file; none may leave a file.
    const int files = Count(files_, false);
    if (files > delivered || (delivered > 0 && files == 0)) {
      Finding("the files delivered are not those acknowledged with BINACK 1");
    }
    for (const auto& entry : fs::directory_iterator(root_)) {
      const auto name = entry.path().filename();
      if (name != "temp" && name != "files" && name != "log" && name != "logger.ini") {
        Finding("a file landed outside the file directory");
      }
    }
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(files_)) fs::remove_all(entry.path(), ignored);
  }

  // Entries under `directory` (the run directories' locks and, when
  // `filesOnly`, directories aside).
  static int Count(const fs::path& directory, bool filesOnly) {
    int count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(directory)) {
      if (entry.path().extension() == ".lock") continue;
      if (filesOnly && entry.is_directory()) continue;
      ++count;
    }
    return count;
  }

  void ClearLog() {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(root_ / "log"))
      fs::remove(entry.path(), ignored);
  }

  fs::path root_;
  fs::path temp_;
  fs::path files_;
  Host host_;
  const std::shared_ptr<Corvane::Client::ListenerSlot> slot_ =
      std::make_shared<Corvane::Client::ListenerSlot>();
  const std::shared_ptr<Corvane::Client::FileWorkPool> pool_ =
      std::make_shared<Corvane::Client::FileWorkPool>();
  long runs_ = 0;
};

/// The input's bytes paired into little-endian characters; an odd last byte
/// is dropped.
inline std::u16string Characters(const std::uint8_t* data, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return text;
}

}  // namespace CorvaneFuzz
