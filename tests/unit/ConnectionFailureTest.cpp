// Each exchange a connection takes part in, with its stream broken at every
// socket operation in turn until the exchange runs through: every run must end
// in a state the engine hears of, with nothing left behind (no live
// connection, no file in the temporary or the file directory that should not
// be there, no file work left on the pool).

#include <algorithm>
#include <filesystem>
#include <future>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <gtest/gtest.h>

#include "connection/Connection.h"
#include "connection/ChunkWriter.h"
#include "connection/FileWorkPool.h"
#include "connection/ListenerSlot.h"
#include "filestore/FileFactoryImpl.h"
#include "platform/TextConversion.h"
#include "protocol/ConnectMessage.h"
#include "protocol/FieldCodec.h"
#include "protocol/HealthCheckAckMessage.h"
#include "protocol/HealthCheckMessage.h"
#include "protocol/MessageFactory.h"
#include "protocol/WireFormat.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"
#include "support/BinaryDataFrame.h"
#include "support/CountingConnectionListener.h"
#include "support/Eventually.h"
#include "support/LoggingTestSupport.h"
#include "support/MemorySocket.h"
#include "support/RecordingListener.h"
#include "support/TempDir.h"
#include "support/TestTiming.h"

namespace Corvane {
namespace Client {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Testing::Eventually;
using Testing::MemorySocket;

// More operations than any exchange here takes.
constexpr int kMaxOperations = 40;
constexpr auto kSettle = 10s;

// A vendor application that answers what a well-behaved one answers, and
// keeps the type of every frame it was sent.
class ScriptedPeer {
 public:
  void OnFrame(MemorySocket& socket, const std::u16string& frame) {
    const std::u16string type = Wire::ReadText(frame, Wire::kPrefixLength, Wire::kTypeNameWidth);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      types_.push_back(type);
      if (type == Wire::kTypeBinaryAck) binack_flags_.push_back(frame.substr(56, 1));
    }
    if (type == Wire::kTypeXmlData) {
      socket.Deliver(XmlDataAckMessage(static_cast<XmlDataMessage&>(*ParseMessage(frame))).ToString());
    } else if (type == Wire::kTypeHealthCheck) {
      socket.Deliver(
          HealthCheckAckMessage(static_cast<HealthCheckMessage&>(*ParseMessage(frame))).ToString());
    }
  }
  int Count(const std::u16string& type) {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count(types_.begin(), types_.end(), type));
  }
  std::vector<std::u16string> BinaryAckFlags() {
    std::lock_guard<std::mutex> lock(mutex_);
    return binack_flags_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::u16string> types_;
  std::vector<std::u16string> binack_flags_;
};

// What one run of an exchange ends with.
struct Outcome {
  bool completed = false;  // the exchange ran through
};

class ConnectionFailureTest : public ::testing::Test {
 protected:
  ConnectionFailureTest() : guard_(io_.get_executor()) {
    thread_ = std::thread([this] { io_.run(); });
  }
  ~ConnectionFailureTest() override {
    threads_->JoinAll();
    guard_.reset();
    thread_.join();
  }

  // One run: a connection of `kind` whose stream breaks at operation
  // `breakAt`, hand-shaken, then `exchange` on it. Checks that the run ends
  // reported and clean, and returns whether the stream broke before the
  // exchange was over.
  bool RunBrokenAt(int breakAt, ConnectionKind kind,
                   const std::function<Outcome(MemorySocket&, Connection&, ScriptedPeer&)>& exchange,
                   const std::function<void(const Outcome&, ScriptedPeer&)>& check) {
    SCOPED_TRACE("stream broken at operation " + std::to_string(breakAt));
    ScriptedPeer peer;
    Testing::RecordingListener host;
    Testing::CountingConnectionListener ends;
    auto slot = std::make_shared<ListenerSlot>();
    slot->Set(&host);
    auto socket = std::make_shared<MemorySocket>(
        io_, [&peer](MemorySocket& s, const std::u16string& frame) { peer.OnFrame(s, frame); });
    socket->BreakAt(breakAt);
    ConnectionSettings settings;
    settings.engineApplicationId = L"engine-id";
    settings.engineApplicationName = L"Engine";
    settings.language = L"en";
    settings.ackTimeout = std::chrono::milliseconds(Testing::Scaled(ack_timeout_));
    settings.healthCheckInterval = std::chrono::milliseconds(Testing::Scaled(10));
    settings.fileDirectory = Platform::FromUtf8(files_.string());
    settings.fileFactory = std::make_shared<File::FileFactoryImpl>(temp_.string());
    auto connection = std::make_shared<Connection>(socket, slot, &ends, settings, kind, threads_);
    const std::weak_ptr<Connection> watch = connection;

    std::promise<bool> handshake;
    socket->Deliver(ConnectMessage(u"vendor-id", u"Vendor", u"127.0.0.1").ToString());
    boost::asio::post(io_, [&] {
      connection->Start([&](const std::shared_ptr<Connection>&, const std::exception_ptr& failure) {
        handshake.set_value(!failure);
      });
    });
    auto handshakeDone = handshake.get_future();
    EXPECT_EQ(handshakeDone.wait_for(kSettle), std::future_status::ready);
    Outcome outcome;
    bool broke = true;
    if (handshakeDone.get()) {
      outcome = exchange(*socket, *connection, peer);
      broke = socket->Broken();
      // A broken stream is noticed by the read that is always waiting, and
      // the connection reports its end to the engine.
      if (broke) {
        EXPECT_TRUE(ends.WaitFor(1, kSettle));
        EXPECT_TRUE(connection->IsClosed());
      }
    } else {
      EXPECT_TRUE(socket->Broken()) << "a handshake failed on a sound stream";
    }
    // The engine ends the connection and lets go of it (it lets go of a
    // reported one too, whose second end does nothing).
    connection->End(Farewell::kDisconnect);
    connection.reset();
    EXPECT_TRUE(Eventually([&] { return watch.expired(); })) << "the connection is still alive";
    // The peer's turn for the last frames written may still be queued, and it
    // refers to this run's peer: let it run before the peer goes.
    DrainIo();
    EXPECT_TRUE(Eventually([&] { return threads_->RunningCount() == 0; }));
    EXPECT_EQ(ends.Count(), 1) << "the end is reported once";
    EXPECT_TRUE(Empty(temp_)) << "a temporary file was left behind";
    check(outcome, peer);
    slot->Clear();
    return broke;
  }

  // Runs the exchange with the stream broken at every operation in turn,
  // until a run in which it never broke; that run must have completed.
  void BreakEveryOperation(
      ConnectionKind kind,
      const std::function<Outcome(MemorySocket&, Connection&, ScriptedPeer&)>& exchange,
      const std::function<void(const Outcome&, ScriptedPeer&)>& check) {
    for (int breakAt = 1; breakAt <= kMaxOperations; ++breakAt) {
      Outcome last;
      const bool broke = RunBrokenAt(breakAt, kind, exchange, [&](const Outcome& o, ScriptedPeer& p) {
        last = o;
        check(o, p);
      });
      if (HasFatalFailure()) return;
      if (!broke) {
        EXPECT_TRUE(last.completed) << "the exchange did not complete on a sound stream";
        EXPECT_GT(breakAt, 2) << "no exchange can run without a handshake";
        return;
      }
    }
    ADD_FAILURE() << "the exchange still broke after " << kMaxOperations << " operations";
  }

  // Sends `data` as one file, the stream broken at every operation in turn.
  void BreakFileTransfer(const std::string& data);

  // Returns once everything queued on the I/O thread so far has run.
  void DrainIo() {
    std::promise<void> drained;
    boost::asio::post(io_, [&drained] { drained.set_value(); });
    drained.get_future().wait();
  }

  static bool Empty(const fs::path& directory) {
    return !fs::exists(directory) || fs::directory_iterator(directory) == fs::directory_iterator();
  }

  // Long enough for a peer that answers at once; a health check waits this
  // long for every answer, so its test shortens it.
  int ack_timeout_ = 2000;
  Testing::LogCapture log_;
  Testing::TempDir root_;
  const fs::path temp_ = root_.Path() / "temp";
  const fs::path files_ = root_.Path() / "files";
  std::shared_ptr<FileWorkPool> threads_ = std::make_shared<FileWorkPool>();
  boost::asio::io_context io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard_;
  std::thread thread_;
};

TEST_F(ConnectionFailureTest, Handshake) {
  BreakEveryOperation(
      ConnectionKind::kStandard,
      [](MemorySocket&, Connection& connection, ScriptedPeer&) {
        return Outcome{!connection.IsClosed()};
      },
      [](const Outcome& outcome, ScriptedPeer& peer) {
        // A CONNECTACK went out exactly when the handshake completed.
        if (outcome.completed) {
          EXPECT_EQ(peer.Count(Wire::kTypeConnectAck), 1);
        }
      });
}

TEST_F(ConnectionFailureTest, XmlTransaction) {
  BreakEveryOperation(
      ConnectionKind::kStandard,
      [](MemorySocket&, Connection& connection, ScriptedPeer&) {
        return Outcome{connection.SendData(L"<a/>")};
      },
      [](const Outcome& outcome, ScriptedPeer& peer) {
        // Success is only ever reported for text the peer has received.
        if (outcome.completed) {
          EXPECT_EQ(peer.Count(Wire::kTypeXmlData), 1);
        }
      });
}

TEST_F(ConnectionFailureTest, HealthCheckCycle) {
  ack_timeout_ = 100;
  BreakEveryOperation(
      ConnectionKind::kStandard,
      [](MemorySocket& socket, Connection& connection, ScriptedPeer& peer) {
        // Two checks, both answered: one whole cycle and the start of the next.
        Eventually([&] { return peer.Count(Wire::kTypeHealthCheck) >= 2 || socket.Broken(); });
        return Outcome{!socket.Broken() && !connection.IsClosed()};
      },
      [](const Outcome&, ScriptedPeer&) {});
}

TEST_F(ConnectionFailureTest, FileTransfer) {
  BreakFileTransfer(Testing::PatternBytes(0, 3 * 10240 + 7));  // four data reads
}

// A file larger than one chunk, hashed and written on a thread of its own.
TEST_F(ConnectionFailureTest, LargeFileTransfer) {
  BreakFileTransfer(Testing::PatternBytes(0, ChunkWriter::kChunkBytes + 7));
}

// A peer that ends its stream in an orderly way part way through a file:
// the connection ends, reported once, and neither a partial file nor a
// temporary one is left, wherever the stream ended.
TEST_F(ConnectionFailureTest, PeerEndsStreamPartWayThroughFile) {
  const std::string data = Testing::PatternBytes(0, ChunkWriter::kChunkBytes + 7);
  const std::u16string frame = Testing::BinaryDataFrame{{}, u"a.bin", data, {}}.ToString();
  for (const std::size_t cut : {std::size_t{0}, std::size_t{10}, std::size_t{60}, std::size_t{76},
                                frame.size() / 2, frame.size() - 40, frame.size() - 1}) {
    SCOPED_TRACE("stream ended after " + std::to_string(cut) + " characters of the BINDATA");
    RunBrokenAt(
        0, ConnectionKind::kFile,
        [&](MemorySocket& socket, Connection& connection, ScriptedPeer&) {
          socket.Deliver(frame.substr(0, cut));
          socket.EndStream();
          EXPECT_TRUE(Eventually([&] { return connection.IsClosed(); }));
          return Outcome{false};
        },
        [&](const Outcome&, ScriptedPeer& peer) {
          EXPECT_TRUE(peer.BinaryAckFlags().empty());
          EXPECT_FALSE(fs::exists(files_ / "a.bin"));
        });
  }
}

void ConnectionFailureTest::BreakFileTransfer(const std::string& data) {
  BreakEveryOperation(
      ConnectionKind::kFile,
      [&](MemorySocket& socket, Connection&, ScriptedPeer& peer) {
        socket.Deliver(Testing::BinaryDataFrame{{}, u"a.bin", data, {}}.ToString());
        Eventually([&] { return !peer.BinaryAckFlags().empty() || socket.Broken(); });
        const auto flags = peer.BinaryAckFlags();
        return Outcome{flags == std::vector<std::u16string>{u"1"}};
      },
      [&](const Outcome&, ScriptedPeer& peer) {
        // The file is there exactly when the sender was told so; a transfer
        // that broke before leaves no file, whole or partial. Either side may
        // learn its part a moment after the rest has settled (the peer reads
        // its BINACK, the I/O thread takes back an unanswered delivery).
        const auto told = [&] {
          return peer.BinaryAckFlags() == std::vector<std::u16string>{u"1"};
        };
        EXPECT_TRUE(Eventually([&] { return told() == fs::exists(files_ / "a.bin"); }));
        if (told()) {
          EXPECT_EQ(Testing::ReadFile(files_ / "a.bin"), data);
          fs::remove(files_ / "a.bin");
        }
      });
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
