#include "connection/BoostSocket.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <gtest/gtest.h>

#include "protocol/ConnectMessage.h"
#include "protocol/MessageFactory.h"
#include "protocol/XmlDataMessage.h"

namespace Corvane {
namespace Client {
namespace {

using boost::asio::ip::tcp;
using boost::system::error_code;

// How long a test waits for something that should happen at once.
constexpr std::chrono::seconds kWait{20};

struct IoResult {
  error_code error;
  std::size_t bytes = 0;
};

// A BoostSocket over the accepted end of a loopback connection, whose other
// end (the peer) the test drives directly. The io_context runs on its own thread.
class BoostSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    acceptor_.open(tcp::v4());
    acceptor_.bind(tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
    acceptor_.listen();
    peer_.connect(acceptor_.local_endpoint());
    peer_.set_option(tcp::no_delay(true));
    stream_ = std::make_shared<tcp::socket>(io_);
    acceptor_.accept(*stream_);
    socket_ = std::make_shared<BoostSocket>(stream_);
    io_thread_ = std::thread([this] { io_.run(); });
  }

  void TearDown() override {
    work_.reset();
    io_.stop();
    io_thread_.join();
  }

  void PeerWrite(const std::u16string& text, std::size_t fromByte, std::size_t byteCount) {
    boost::asio::write(peer_, boost::asio::buffer(reinterpret_cast<const char*>(text.data()) + fromByte,
                                                  byteCount));
  }

  // Starts reading `characters` from the peer's end; the future is ready once
  // they have arrived.
  std::future<std::u16string> PeerReadAsync(std::size_t characters) {
    auto buffer = std::make_shared<std::u16string>(characters, u'\0');
    auto done = std::make_shared<std::promise<std::u16string>>();
    auto result = done->get_future();
    boost::asio::async_read(peer_, boost::asio::buffer(&(*buffer)[0], characters * 2),
                            [buffer, done](const error_code& error, std::size_t) {
                              if (error) buffer->clear();
                              done->set_value(*buffer);
                            });
    return result;
  }

  // An IoHandler and the future of its one call.
  static std::pair<IoHandler, std::future<IoResult>> Completion() {
    auto done = std::make_shared<std::promise<IoResult>>();
    auto future = done->get_future();
    IoHandler handler = [done](const error_code& error, std::size_t bytes) {
      done->set_value(IoResult{error, bytes});
    };
    return {handler, std::move(future)};
  }

  // Reads `characters` with AsyncRead and waits for the outcome.
  std::pair<IoResult, std::u16string> ReadNow(std::size_t characters) {
    std::u16string buffer(characters, u'\0');
    auto [handler, completion] = Completion();
    socket_->AsyncRead(buffer, handler);
    if (completion.wait_for(kWait) != std::future_status::ready) return {};
    return {completion.get(), buffer};
  }

  // Writes `text` with AsyncWrite and waits for the outcome.
  IoResult WriteNow(const std::u16string& text) {
    auto [handler, completion] = Completion();
    socket_->AsyncWrite(text, handler);
    if (completion.wait_for(kWait) != std::future_status::ready) return {};
    return completion.get();
  }

  boost::asio::io_context io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_ =
      boost::asio::make_work_guard(io_);
  tcp::acceptor acceptor_{io_};
  tcp::socket peer_{io_};
  std::shared_ptr<tcp::socket> stream_;
  std::shared_ptr<BoostSocket> socket_;
  std::thread io_thread_;
};

TEST_F(BoostSocketTest, ReadAssemblesCharactersArrivingInPieces) {
  const std::u16string frame = ConnectMessage(u"app-id", u"Vendor", u"127.0.0.1").ToString();
  ASSERT_EQ(137u, frame.size());
  auto reader = std::async(std::launch::async, [this] { return ReadNow(137); });
  PeerWrite(frame, 0, 1);
  PeerWrite(frame, 1, 3);
  PeerWrite(frame, 4, frame.size() * 2 - 4);

  ASSERT_EQ(std::future_status::ready, reader.wait_for(kWait));
  const auto [result, out] = reader.get();
  EXPECT_EQ(274u, result.bytes);
  EXPECT_FALSE(result.error);
  EXPECT_EQ(frame, out);
}

// A stream that ends part-way reports eof with the bytes that did arrive,
// half a character included.
TEST_F(BoostSocketTest, ReadReportsWhatArrivedBeforeThePeerClosed) {
  const std::u16string sent = u"CVNPBDP001";
  PeerWrite(sent, 0, 20);
  PeerWrite(u"x", 0, 1);  // half a character
  peer_.close();

  const auto [result, out] = ReadNow(137);
  EXPECT_EQ(21u, result.bytes);
  EXPECT_EQ(boost::asio::error::eof, result.error);
  EXPECT_EQ(sent, out.substr(0, 10));
}

TEST_F(BoostSocketTest, WriteOfAnEmptyTextSendsNothing) {
  IoResult empty = WriteNow(u"");
  EXPECT_FALSE(empty.error);
  EXPECT_EQ(0u, empty.bytes);

  auto received = PeerReadAsync(2);
  IoResult written = WriteNow(u"ok");
  EXPECT_FALSE(written.error);
  EXPECT_EQ(4u, written.bytes);
  ASSERT_EQ(std::future_status::ready, received.wait_for(kWait));
  EXPECT_EQ(u"ok", received.get());
}

TEST_F(BoostSocketTest, AsyncReadFillsTheWholeBuffer) {
  std::u16string buffer(20, u'\0');
  auto [handler, completion] = Completion();
  socket_->AsyncRead(buffer, handler);
  const std::u16string header = u"CVNPBDP001HLTHCHK   ";
  PeerWrite(header, 0, 7);
  PeerWrite(header, 7, 33);

  ASSERT_EQ(std::future_status::ready, completion.wait_for(kWait));
  const IoResult result = completion.get();
  EXPECT_FALSE(result.error);
  EXPECT_EQ(40u, result.bytes);
  EXPECT_EQ(header, buffer);
}

// What one receive brings beyond the buffer is kept for the reads after it,
// in order, whatever their sizes; a stream that ends leaves the reads that
// follow with what was still ahead.
TEST_F(BoostSocketTest, BytesReadAheadAreHandedToTheNextReadsInOrder) {
  std::u16string stream;
  for (int i = 0; i < 400; ++i) stream += static_cast<char16_t>(u'A' + i % 26);
  PeerWrite(stream, 0, stream.size() * 2);

  std::u16string received;
  for (const std::size_t size : {20u, 1u, 36u, 200u, 3u, 140u}) {
    std::u16string buffer(size, u'\0');
    auto [handler, completion] = Completion();
    socket_->AsyncRead(buffer, handler);
    ASSERT_EQ(std::future_status::ready, completion.wait_for(kWait));
    const IoResult result = completion.get();
    ASSERT_FALSE(result.error) << size;
    EXPECT_EQ(size * 2, result.bytes);
    received += buffer;
  }
  EXPECT_EQ(stream, received);

  // Ahead of a stream's end: the last characters, then eof.
  const std::u16string tail = u"0123456789";
  PeerWrite(tail, 0, tail.size() * 2);
  peer_.shutdown(tcp::socket::shutdown_send);
  std::u16string first(4, u'\0');
  auto [firstHandler, firstDone] = Completion();
  socket_->AsyncRead(first, firstHandler);
  ASSERT_EQ(std::future_status::ready, firstDone.wait_for(kWait));
  EXPECT_FALSE(firstDone.get().error);
  EXPECT_EQ(u"0123", first);
  const auto [rest, restText] = ReadNow(10);
  EXPECT_EQ(12u, rest.bytes);
  EXPECT_EQ(u"456789", restText.substr(0, 6));
  EXPECT_EQ(boost::asio::error::eof, rest.error);
}

// A body that came with its header is taken at once from what was received;
// asking for more than came takes nothing, and once all is taken the next
// read waits for the stream.
TEST_F(BoostSocketTest, ReadReceivedTakesOnlyWhatHasArrivedWhole) {
  const std::u16string header = u"CVNPBDP001XMLACK    ";
  const std::u16string body(36, u'b');
  PeerWrite(header + body, 0, (header.size() + body.size()) * 2);

  std::u16string headerBuffer(header.size(), u'\0');
  std::u16string bodyBuffer(body.size(), u'\0');
  std::u16string tooLong(body.size() + 1, u'\0');
  std::promise<std::array<bool, 3>> taken;
  socket_->AsyncRead(headerBuffer, [&](const error_code&, std::size_t) {
    const bool more = socket_->ReadReceived(tooLong);
    const bool whole = socket_->ReadReceived(bodyBuffer);
    std::u16string one(1, u'\0');
    taken.set_value({more, whole, socket_->ReadReceived(one)});
  });
  auto answers = taken.get_future();
  ASSERT_EQ(std::future_status::ready, answers.wait_for(kWait));
  EXPECT_EQ((std::array<bool, 3>{false, true, false}), answers.get());
  EXPECT_EQ(header, headerBuffer);
  EXPECT_EQ(body, bodyBuffer);

  std::u16string next(4, u'\0');
  auto [handler, completion] = Completion();
  socket_->AsyncRead(next, handler);
  PeerWrite(u"NEXT", 0, 8);
  ASSERT_EQ(std::future_status::ready, completion.wait_for(kWait));
  EXPECT_FALSE(completion.get().error);
  EXPECT_EQ(u"NEXT", next);
}

// A long run of data (a file's) is read in steps: with a larger read-ahead
// one receive serves several steps, each step gets its own characters in
// order, and back at the default the read-ahead is small again.
TEST_F(BoostSocketTest, ALargerReadAheadServesManyStepsInOrderThenShrinksBack) {
  constexpr std::size_t kStep = 5120;
  constexpr std::size_t kSteps = 6;
  std::u16string data(kStep * kSteps, u'\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char16_t>(0x100 + i % 0xE000);
  PeerWrite(data, 0, data.size() * 2);

  std::vector<std::u16string> steps(kSteps, std::u16string(kStep, u'\0'));
  std::promise<std::vector<bool>> taken;
  boost::asio::post(io_, [&] {
    socket_->SetReadAhead(64 * 1024);
    socket_->AsyncRead(steps[0], [&](const error_code&, std::size_t) {
      std::vector<bool> received;
      for (std::size_t i = 1; i < kSteps; ++i) received.push_back(socket_->ReadReceived(steps[i]));
      socket_->SetReadAhead(0);
      taken.set_value(received);
    });
  });
  auto answers = taken.get_future();
  ASSERT_EQ(std::future_status::ready, answers.wait_for(kWait));
  EXPECT_EQ(std::vector<bool>(kSteps - 1, true), answers.get());
  for (std::size_t i = 0; i < kSteps; ++i) {
    EXPECT_TRUE(steps[i] == data.substr(i * kStep, kStep)) << "step " << i;
  }

  // Everything ahead was taken: the next receive is made with the default.
  const std::u16string more(2048, u'm');
  PeerWrite(more, 0, more.size() * 2);
  std::u16string first(8, u'\0');
  std::u16string rest(more.size() - first.size(), u'\0');
  std::promise<bool> restTaken;
  socket_->AsyncRead(first, [&](const error_code&, std::size_t) {
    restTaken.set_value(socket_->ReadReceived(rest));
  });
  auto restAnswer = restTaken.get_future();
  ASSERT_EQ(std::future_status::ready, restAnswer.wait_for(kWait));
  EXPECT_FALSE(restAnswer.get());
  const auto [tail, tailText] = ReadNow(rest.size());
  EXPECT_FALSE(tail.error);
  EXPECT_EQ(more.substr(first.size()), tailText);
}

TEST_F(BoostSocketTest, CloseAbortsAPendingReadAndLaterOperations) {
  EXPECT_TRUE(socket_->IsOpen());
  std::u16string buffer(20, u'\0');
  auto [handler, completion] = Completion();
  socket_->AsyncRead(buffer, handler);
  socket_->Close();
  EXPECT_FALSE(socket_->IsOpen());

  ASSERT_EQ(std::future_status::ready, completion.wait_for(kWait));
  EXPECT_EQ(boost::asio::error::operation_aborted, completion.get().error);

  auto [readHandler, readCompletion] = Completion();
  socket_->AsyncRead(buffer, readHandler);
  auto [writeHandler, writeCompletion] = Completion();
  socket_->AsyncWrite(u"late", writeHandler);
  ASSERT_EQ(std::future_status::ready, readCompletion.wait_for(kWait));
  ASSERT_EQ(std::future_status::ready, writeCompletion.wait_for(kWait));
  EXPECT_EQ(boost::asio::error::operation_aborted, readCompletion.get().error);
  EXPECT_EQ(boost::asio::error::operation_aborted, writeCompletion.get().error);

  // The peer sees the end of the stream.
  char byte;
  error_code error;
  peer_.read_some(boost::asio::buffer(&byte, 1), error);
  EXPECT_EQ(boost::asio::error::eof, error);
}

TEST_F(BoostSocketTest, CloseAfterWritesSendsWhatWasQueuedFirst) {
  const std::u16string frame = u"CVNPBDP001DISCONNECT";
  auto received = PeerReadAsync(frame.size());
  auto [handler, completion] = Completion();
  socket_->AsyncWrite(frame, handler);
  socket_->CloseAfterWrites(std::chrono::milliseconds(60000));
  EXPECT_FALSE(socket_->IsOpen());

  auto [lateHandler, lateCompletion] = Completion();
  socket_->AsyncWrite(u"late", lateHandler);
  ASSERT_EQ(std::future_status::ready, lateCompletion.wait_for(kWait));
  EXPECT_EQ(boost::asio::error::operation_aborted, lateCompletion.get().error);

  ASSERT_EQ(std::future_status::ready, completion.wait_for(kWait));
  EXPECT_FALSE(completion.get().error);
  ASSERT_EQ(std::future_status::ready, received.wait_for(kWait));
  EXPECT_EQ(frame, received.get());
  char byte;
  error_code error;
  peer_.read_some(boost::asio::buffer(&byte, 1), error);
  EXPECT_EQ(boost::asio::error::eof, error);
}

TEST_F(BoostSocketTest, CloseAfterWritesGivesUpOnAStuckWrite) {
  // The peer reads nothing, so a write this large cannot complete.
  auto [handler, completion] = Completion();
  socket_->AsyncWrite(std::u16string(16 * 1024 * 1024, u'x'), handler);
  socket_->CloseAfterWrites(std::chrono::milliseconds(50));
  ASSERT_EQ(std::future_status::ready, completion.wait_for(kWait));
  EXPECT_EQ(boost::asio::error::operation_aborted, completion.get().error);
}

TEST_F(BoostSocketTest, KnowsItsIoThread) {
  EXPECT_FALSE(socket_->IsIoThread());
  std::promise<bool> onIoThread;
  boost::asio::post(io_, [&] { onIoThread.set_value(socket_->IsIoThread()); });
  auto result = onIoThread.get_future();
  ASSERT_EQ(std::future_status::ready, result.wait_for(kWait));
  EXPECT_TRUE(result.get());
}

TEST_F(BoostSocketTest, IsOpenAndCloseMayRaceFromAnyThread) {
  std::vector<std::future<void>> pollers;
  for (int t = 0; t < 4; ++t) {
    pollers.push_back(std::async(std::launch::async, [this] {
      for (int i = 0; i < 10000 && socket_->IsOpen(); ++i) {
      }
    }));
  }
  socket_->Close();
  socket_->Close();
  for (auto& poller : pollers) ASSERT_EQ(std::future_status::ready, poller.wait_for(kWait));
  EXPECT_FALSE(socket_->IsOpen());
}

// Two threads write 200 frames each at once, one with Write and one with
// AsyncWrite: the peer receives 400 whole frames, each thread's in order.
TEST_F(BoostSocketTest, FramesOfConcurrentWritersNeverInterleave) {
  constexpr int kFrames = 200;
  // Large frames, so that the kernel takes them in several partial writes.
  auto makeFrame = [](char16_t letter, int index, int size) {
    std::u16string text(static_cast<std::size_t>(size), letter);
    const std::string number = std::to_string(index);
    std::copy(number.begin(), number.end(), text.begin());
    return XmlDataMessage(text).ToString();
  };
  constexpr int kSizeA = 3000;
  constexpr int kSizeB = 1700;
  const std::size_t total = kFrames * (makeFrame(u'A', 0, kSizeA).size() + makeFrame(u'B', 0, kSizeB).size());
  auto received = PeerReadAsync(total);

  auto waitingWriter = std::async(std::launch::async, [&] {
    int failures = 0;
    for (int i = 0; i < kFrames; ++i) {
      const std::u16string frame = makeFrame(u'A', i, kSizeA);
      const IoResult written = WriteNow(frame);
      if (written.bytes != frame.size() * 2 || written.error) ++failures;
    }
    return failures;
  });
  auto asyncWriter = std::async(std::launch::async, [&] {
    std::vector<std::future<IoResult>> completions;
    for (int i = 0; i < kFrames; ++i) {
      auto [handler, completion] = Completion();
      socket_->AsyncWrite(makeFrame(u'B', i, kSizeB), handler);
      completions.push_back(std::move(completion));
    }
    int failures = 0;
    for (auto& completion : completions) {
      if (completion.wait_for(kWait) != std::future_status::ready || completion.get().error) ++failures;
    }
    return failures;
  });

  ASSERT_EQ(std::future_status::ready, waitingWriter.wait_for(kWait));
  ASSERT_EQ(std::future_status::ready, asyncWriter.wait_for(kWait));
  EXPECT_EQ(0, waitingWriter.get());
  EXPECT_EQ(0, asyncWriter.get());
  ASSERT_EQ(std::future_status::ready, received.wait_for(kWait));
  const std::u16string stream = received.get();
  ASSERT_EQ(total, stream.size());

  int nextA = 0;
  int nextB = 0;
  std::size_t position = 0;
  while (position < stream.size()) {
    const auto frameSize = [&](std::size_t dataSize) { return 20 + 46 + dataSize; };
    // The data length tells which writer the frame came from.
    const bool isA = stream.compare(position + 56, 10, u"0000003000") == 0;
    const std::size_t size = frameSize(isA ? kSizeA : kSizeB);
    auto message = std::static_pointer_cast<XmlDataMessage>(ParseMessage(stream.substr(position, size)));
    ASSERT_EQ(isA ? makeFrame(u'A', nextA, kSizeA).substr(56) : makeFrame(u'B', nextB, kSizeB).substr(56),
              message->ToString().substr(56))
        << "frame " << nextA + nextB << " is not whole or out of order";
    (isA ? nextA : nextB)++;
    position += size;
  }
  EXPECT_EQ(kFrames, nextA);
  EXPECT_EQ(kFrames, nextB);
}

// A write from a client thread that finds nothing queued goes out from that
// thread at once; its handler still runs on the I/O thread, after the call.
TEST_F(BoostSocketTest, ClientThreadWriteCompletesOnTheIoThread) {
  auto received = PeerReadAsync(5);
  auto done = std::make_shared<std::promise<std::pair<IoResult, std::thread::id>>>();
  auto completion = done->get_future();
  socket_->AsyncWrite(u"hello", [done](const error_code& error, std::size_t bytes) {
    done->set_value({IoResult{error, bytes}, std::this_thread::get_id()});
  });
  ASSERT_EQ(std::future_status::ready, received.wait_for(kWait));
  EXPECT_EQ(u"hello", received.get());
  ASSERT_EQ(std::future_status::ready, completion.wait_for(kWait));
  const auto result = completion.get();
  EXPECT_FALSE(result.first.error);
  EXPECT_EQ(10u, result.first.bytes);
  EXPECT_EQ(io_thread_.get_id(), result.second);
}

// A writer that allows it has a write taken whole completed on its own thread,
// inside the call; one that cannot go out at once still completes on the I/O
// thread, after the frames queued before it.
TEST_F(BoostSocketTest, WriteMayCompleteOnTheWritersThreadWhenTakenWhole) {
  auto received = PeerReadAsync(5);
  std::thread::id ranOn;
  IoResult result;
  socket_->AsyncWriteMayCompleteHere(u"hello", [&](const error_code& error, std::size_t bytes) {
    result = IoResult{error, bytes};
    ranOn = std::this_thread::get_id();
  });
  EXPECT_EQ(std::this_thread::get_id(), ranOn);
  EXPECT_FALSE(result.error);
  EXPECT_EQ(10u, result.bytes);
  ASSERT_EQ(std::future_status::ready, received.wait_for(kWait));
  EXPECT_EQ(u"hello", received.get());

  // Behind a frame too large to go at once, it waits its turn.
  const std::u16string large(8 * 1024 * 1024, u'L');
  auto [largeHandler, largeCompletion] = Completion();
  auto [smallHandler, smallCompletion] = Completion();
  socket_->AsyncWrite(large, largeHandler);
  socket_->AsyncWriteMayCompleteHere(u"small", smallHandler);
  auto all = PeerReadAsync(large.size() + 5);
  ASSERT_EQ(std::future_status::ready, all.wait_for(kWait));
  const std::u16string wire = all.get();
  EXPECT_EQ(u"small", wire.substr(large.size()));
  ASSERT_EQ(std::future_status::ready, smallCompletion.wait_for(kWait));
  EXPECT_EQ(10u, smallCompletion.get().bytes);
  ASSERT_EQ(std::future_status::ready, largeCompletion.wait_for(kWait));
}

// A frame too large for the kernel to take at once is finished, and counted
// whole, before the next frame goes out.
TEST_F(BoostSocketTest, FrameTakenInPartIsFinishedBeforeTheNext) {
  const std::u16string large(8 * 1024 * 1024, u'L');
  auto [largeHandler, largeCompletion] = Completion();
  auto [tailHandler, tailCompletion] = Completion();
  socket_->AsyncWrite(large, largeHandler);
  socket_->AsyncWrite(u"tail", tailHandler);
  auto received = PeerReadAsync(large.size() + 4);
  ASSERT_EQ(std::future_status::ready, received.wait_for(kWait));
  const std::u16string stream = received.get();
  ASSERT_EQ(large.size() + 4, stream.size());
  EXPECT_EQ(0, stream.compare(0, large.size(), large));
  EXPECT_EQ(u"tail", stream.substr(large.size()));
  ASSERT_EQ(std::future_status::ready, largeCompletion.wait_for(kWait));
  EXPECT_EQ(large.size() * 2, largeCompletion.get().bytes);
  ASSERT_EQ(std::future_status::ready, tailCompletion.wait_for(kWait));
  EXPECT_EQ(8u, tailCompletion.get().bytes);
}

// Frames the I/O thread writes go out at once when nothing is in flight; one
// the socket cannot take whole is finished by a waiting write before the
// next, and its stall deadline still holds for a peer that stops reading.
TEST_F(BoostSocketTest, IoThreadWritesKeepTheirOrderAndTheirStallDeadline) {
  const std::u16string large(8 * 1024 * 1024, u'L');
  auto [smallHandler, smallCompletion] = Completion();
  auto [largeHandler, largeCompletion] = Completion();
  auto [tailHandler, tailCompletion] = Completion();
  boost::asio::post(io_, [&, small = smallHandler, big = largeHandler, tail = tailHandler] {
    socket_->AsyncWrite(u"head", small);
    socket_->AsyncWrite(large, big);
    socket_->AsyncWrite(u"tail", tail);
  });
  auto received = PeerReadAsync(4 + large.size() + 4);
  ASSERT_EQ(std::future_status::ready, received.wait_for(kWait));
  const std::u16string stream = received.get();
  ASSERT_EQ(large.size() + 8, stream.size());
  EXPECT_EQ(u"head", stream.substr(0, 4));
  EXPECT_EQ(0, stream.compare(4, large.size(), large));
  EXPECT_EQ(u"tail", stream.substr(4 + large.size()));
  for (auto* completion : {&smallCompletion, &largeCompletion, &tailCompletion}) {
    ASSERT_EQ(std::future_status::ready, completion->wait_for(kWait));
  }
  EXPECT_EQ(8u, smallCompletion.get().bytes);
  EXPECT_EQ(large.size() * 2, largeCompletion.get().bytes);
  EXPECT_EQ(8u, tailCompletion.get().bytes);

  // The peer reads no more: a frame too large for the buffers fails once
  // its deadline has passed, and the stream is shut down.
  socket_->LimitWrites(0, std::chrono::milliseconds(50));
  auto [stuckHandler, stuckCompletion] = Completion();
  boost::asio::post(io_, [&, stuck = stuckHandler] {
    socket_->AsyncWrite(std::u16string(16 * 1024 * 1024, u'x'), stuck);
  });
  ASSERT_EQ(std::future_status::ready, stuckCompletion.wait_for(kWait));
  EXPECT_TRUE(stuckCompletion.get().error);
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
