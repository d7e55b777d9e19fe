// XML round trips through the engine, against two baselines of the same run:
//   1. SendData of a 1 KiB document to one version-1 peer (validate, XMLDATA,
//      XMLACK, return), rate and latency, against
//      - a by-hand loop: a fresh Xerces validation against the same grammar,
//        then a blocking request/acknowledge round trip of the same frame
//        sizes over loopback, the caller waiting on a condition variable that
//        an I/O thread signals;
//      - a ZeroMQ REQ/REP echo over tcp://127.0.0.1 of the same sizes (the
//        XMLDATA frame out, an XMLACK-sized reply back), transport alone.
//      Targets: rate at least 1.0 x the ZeroMQ echo and 1.2 x the by-hand
//      loop, p99 below 1 ms.
//   2. The same with health checks every few milliseconds on the connection
//      at the same time: no frame may wait for Nagle's algorithm.
//   3. Resident memory growth over 200,000 SendData calls after a warm-up
//      (target at most 1 MiB), the validator's share of it, and the cost
//      centres of one call, measured alone.
// Everything runs on 127.0.0.1; every loop is bounded in count and time.
// A "SUMMARY" line gives each figure with its ratio and target; the exit
// status is 0 whenever the run completed (missed targets included), 2 when it
// could not run, so that one benchmark does not keep the others from running.

#include <poll.h>
#include <sys/socket.h>

#include <zmq.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <boost/asio/read.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/EntityResolver.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "engine/Tarnlink.h"
#include "platform/EngineError.h"
#include "logging/Logger.h"
#include "platform/TextConversion.h"
#include "protocol/FieldCodec.h"
#include "protocol/WireFormat.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"
#include "support/BenchEngine.h"
#include "support/BenchSupport.h"
#include "support/PeerPool.h"
#include "support/ReferenceServer.h"
#include "xml/XmlValidator.h"

namespace Corvane {
namespace Bench {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kXmlCharacters = 1024;
// The baselines and the engine take turns in short blocks, so that all see the
// same state of the machine (parse times here drift by a quarter within
// seconds).
constexpr int kRounds = 60;
constexpr int kBlockCalls = 200;           // calls per block at most
constexpr auto kBlockTime = 500ms;         // and time per block at most
constexpr auto kRoundsTime = 45s;          // and for all rounds at most
constexpr int kWarmUpCalls = 300;
constexpr double kZeroMqRateTarget = 1.0;  // engine rate / ZeroMQ echo rate, at least
constexpr double kByHandRateTarget = 1.2;  // engine rate / by-hand rate, at least
constexpr double kP99TargetUs = 1000.0;
// Memory growth is read over this many calls after a warm-up; a run cut
// short by the time bound is scaled up to the full count.
constexpr int kMemoryWarmUpCalls = 5000;
constexpr auto kMemoryWarmUpTime = 10s;
constexpr int kMemoryCalls = 200000;
constexpr auto kMemoryTime = 120s;
constexpr auto kValidatorMemoryTime = 20s;
constexpr double kMemoryGrowthTargetKiB = 1024.0;
constexpr auto kMixedTime = 3s;
constexpr int kMixedCalls = 40000;
constexpr double kDelayedAckMs = 40.0;     // Linux's delayed-ACK timer, what a Nagle stall costs

// --- The reference, by hand ---------------------------------------------------

// Answers the document's one external entity from the grammar directory.
class GrammarResolver : public xercesc::EntityResolver {
 public:
  explicit GrammarResolver(std::u16string directory) : directory_(std::move(directory)) {}
  xercesc::InputSource* resolveEntity(const XMLCh* const, const XMLCh* const systemId) override {
    const std::u16string path = directory_ + u"/" + systemId;
    return new xercesc::LocalFileInputSource(path.c_str());
  }

 private:
  std::u16string directory_;
};

// A validating SAX2 parse of UTF-16 text held in memory, the grammar read
// afresh for every document.
class HandValidator {
 public:
  explicit HandValidator(const std::wstring& grammarDirectory)
      : resolver_(Platform::ToUtf16(grammarDirectory)) {
    xercesc::XMLPlatformUtils::Initialize();
    reader_.reset(xercesc::XMLReaderFactory::createXMLReader());
    using xercesc::XMLUni;
    reader_->setFeature(XMLUni::fgSAX2CoreValidation, true);
    reader_->setFeature(XMLUni::fgXercesDynamic, false);
    reader_->setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
    reader_->setFeature(XMLUni::fgXercesUseCachedGrammarInParse, false);
    reader_->setFeature(XMLUni::fgXercesCacheGrammarFromParse, false);
    reader_->setErrorHandler(&handler_);
    reader_->setEntityResolver(&resolver_);
  }
  ~HandValidator() {
    reader_.reset();
    xercesc::XMLPlatformUtils::Terminate();
  }

  void Validate(const std::u16string& text) {
    xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(text.data()),
                                      text.size() * sizeof(char16_t), "reference", false);
    source.setEncoding(u"UTF-16LE");
    reader_->parse(source);
    if (reader_->getErrorCount() != 0) throw std::runtime_error("reference document not valid");
  }

 private:
  GrammarResolver resolver_;
  xercesc::HandlerBase handler_;
  std::unique_ptr<xercesc::SAX2XMLReader> reader_;
};

// One request/acknowledge link over a stream of the reference server: the
// caller writes the request itself and waits on a condition variable; the
// server's I/O thread reads each 56-character XMLACK and signals it.
class ReferenceLink {
 public:
  explicit ReferenceLink(ReferenceServer& server) : stream_(server.FirstStream()) {
    if (!stream_) throw std::runtime_error("reference server has no stream");
    ReadAck();
  }

  // Sends `frame` and waits for the acknowledgement of `id`; false after 1 s.
  bool RoundTrip(const std::u16string& frame, const std::u16string& id) {
    const char* data = reinterpret_cast<const char*>(frame.data());
    std::size_t left = frame.size() * 2;
    while (left > 0) {
      const ssize_t n = ::send(stream_->native_handle(), data, left, MSG_NOSIGNAL);
      if (n > 0) {
        data += n;
        left -= static_cast<std::size_t>(n);
      } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        pollfd p{stream_->native_handle(), POLLOUT, 0};
        ::poll(&p, 1, 100);
      } else {
        return false;
      }
    }
    std::unique_lock<std::mutex> lock(mutex_);
    return acked_.wait_for(lock, 1s, [&] { return last_ack_ == id; });
  }

 private:
  void ReadAck() {
    boost::asio::async_read(*stream_, boost::asio::buffer(&ack_[0], ack_.size() * 2),
                            [this](const boost::system::error_code& error, std::size_t) {
                              if (error) return;
                              {
                                std::lock_guard<std::mutex> lock(mutex_);
                                last_ack_ = Client::Wire::ReadText(ack_, Client::Wire::kHeaderLength,
                                                                   Client::Wire::kMessageIdWidth);
                              }
                              acked_.notify_all();
                              ReadAck();
                            });
  }

  std::shared_ptr<boost::asio::ip::tcp::socket> stream_;
  std::u16string ack_ =
      std::u16string(Client::Wire::kHeaderLength + Client::Wire::kXmlAckBodyLength, u'\0');
  std::mutex mutex_;
  std::condition_variable acked_;
  std::u16string last_ack_;
};

// --- The ZeroMQ baseline --------------------------------------------------------

// A REQ/REP echo over tcp://127.0.0.1: a REP socket on a thread of its own
// answers each request with `reply`; the caller sends `request` and waits for
// the reply, blocking. Transport alone, no validation: what a message library
// takes for one exchange of these sizes on this machine.
class ZeroMqEcho {
 public:
  ZeroMqEcho(std::string request, std::string reply)
      : request_(std::move(request)), reply_(std::move(reply)), received_(request_.size() + 1) {
    context_ = zmq_ctx_new();
    if (!context_) throw std::runtime_error("zmq_ctx_new failed");
    try {
      server_ = OpenSocket(ZMQ_REP);
      if (zmq_bind(server_, "tcp://127.0.0.1:*") != 0) Fail("zmq_bind");
      char endpoint[256];
      std::size_t size = sizeof endpoint;
      if (zmq_getsockopt(server_, ZMQ_LAST_ENDPOINT, endpoint, &size) != 0) Fail("endpoint");
      client_ = OpenSocket(ZMQ_REQ);
      // A reply lost to the timeout must not wedge the socket.
      const int one = 1;
      const int timeoutMs = 1000;
      zmq_setsockopt(client_, ZMQ_REQ_RELAXED, &one, sizeof one);
      zmq_setsockopt(client_, ZMQ_REQ_CORRELATE, &one, sizeof one);
      zmq_setsockopt(client_, ZMQ_RCVTIMEO, &timeoutMs, sizeof timeoutMs);
      zmq_setsockopt(client_, ZMQ_SNDTIMEO, &timeoutMs, sizeof timeoutMs);
      if (zmq_connect(client_, endpoint) != 0) Fail("zmq_connect");
    } catch (...) {
      if (client_) zmq_close(client_);
      if (server_) zmq_close(server_);
      zmq_ctx_term(context_);
      throw;
    }
    // From here on the server socket belongs to the thread.
    thread_ = std::thread([this] { Serve(); });
  }
  ~ZeroMqEcho() {
    zmq_close(client_);
    zmq_ctx_shutdown(context_);  // the server's blocking receive returns ETERM
    thread_.join();
    zmq_ctx_term(context_);
  }
  ZeroMqEcho(const ZeroMqEcho&) = delete;
  ZeroMqEcho& operator=(const ZeroMqEcho&) = delete;

  // One request and its reply; false after 1 s or on a reply of another size.
  bool RoundTrip() {
    if (zmq_send(client_, request_.data(), request_.size(), 0) !=
        static_cast<int>(request_.size())) {
      return false;
    }
    return zmq_recv(client_, received_.data(), received_.size(), 0) ==
           static_cast<int>(reply_.size());
  }

 private:
  void* OpenSocket(int type) {
    void* socket = zmq_socket(context_, type);
    if (!socket) Fail("zmq_socket");
    const int zero = 0;
    zmq_setsockopt(socket, ZMQ_LINGER, &zero, sizeof zero);
    return socket;
  }
  [[noreturn]] static void Fail(const char* what) {
    throw std::runtime_error(std::string("ZeroMQ: ") + what + ": " + zmq_strerror(zmq_errno()));
  }
  void Serve() {
    std::vector<char> buffer(request_.size() + 1);
    for (;;) {
      if (zmq_recv(server_, buffer.data(), buffer.size(), 0) < 0) {
        if (zmq_errno() == EINTR) continue;
        break;  // ETERM: the context is shutting down
      }
      if (zmq_send(server_, reply_.data(), reply_.size(), 0) < 0 && zmq_errno() == ETERM) break;
    }
    zmq_close(server_);
  }

  const std::string request_;
  const std::string reply_;
  std::vector<char> received_;
  void* context_ = nullptr;
  void* server_ = nullptr;  // the thread's
  void* client_ = nullptr;  // the caller's
  std::thread thread_;
};

std::string Bytes(const std::u16string& frame) {
  return std::string(reinterpret_cast<const char*>(frame.data()), frame.size() * sizeof(char16_t));
}

std::u16string ReferenceMessageId() {
  thread_local boost::uuids::random_generator generator;
  const std::string text = boost::uuids::to_string(generator());
  return std::u16string(text.begin(), text.end());
}

// --- Measuring ------------------------------------------------------------------

template <typename Call>
std::vector<double> TimeCalls(int calls, std::chrono::milliseconds limit, Call&& call,
                              int* failures) {
  std::vector<double> micros;
  micros.reserve(static_cast<std::size_t>(calls));
  const auto end = Clock::now() + limit;
  for (int i = 0; i < calls && Clock::now() < end; ++i) {
    const auto start = Clock::now();
    if (!call()) ++*failures;
    micros.push_back(MicrosSince(start));
  }
  return micros;
}

// Like TimeCalls, keeping no times (nothing allocated while memory is read);
// returns the number of calls made.
template <typename Call>
int CountCalls(int calls, std::chrono::milliseconds limit, Call&& call, int* failures) {
  const auto end = Clock::now() + limit;
  int done = 0;
  for (; done < calls && Clock::now() < end; ++done) {
    if (!call()) ++*failures;
  }
  return done;
}

// Waits until the engine lists exactly `count` applications; false after 5 s.
bool WaitForApplications(BenchEngine& bench, std::size_t count) {
  const auto end = Clock::now() + 5s;
  while (bench.Applications() != count) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Connects one peer and waits until the engine lists it alone.
void ConnectOnePeer(BenchEngine& bench, PeerPool& peer) {
  if (!WaitForApplications(bench, 0) || peer.Connect(1, 1, 5s) != 1 ||
      !WaitForApplications(bench, 1)) {
    throw std::runtime_error("the peer could not connect to the engine");
  }
}

bool EngineSend(Client::Tarnlink& engine, const std::wstring& xml) {
  try {
    engine.SendData(xml);
    return true;
  } catch (const Client::EngineError& e) {
    std::fprintf(stderr, "SendData failed: %ls (%d)\n", e.GetMessage().c_str(), e.GetCode());
    return false;
  }
}

void PrintLatency(const std::string& name, const LatencySummary& s) {
  std::printf("  %-22s %8zu calls %9.0f /s  median %7.1f us  p99 %7.1f us  max %8.1f us\n",
              name.c_str(), s.count, s.Rate(), s.median_us, s.p99_us, s.max_us);
}

// Per-call cost of `call`, in microseconds, over at most `calls` calls or 1 s.
template <typename Call>
double CostOf(int calls, Call&& call) {
  const auto start = Clock::now();
  int done = 0;
  for (; done < calls && Clock::now() - start < 1s; ++done) call();
  return MicrosSince(start) / done;
}

struct RoundTripResult {
  LatencySummary reference;  // by hand
  LatencySummary zeromq;
  LatencySummary engine;
  std::size_t request_bytes = 0;
  std::size_t reply_bytes = 0;
};

RoundTripResult MeasureRoundTrips(BenchEngine& bench, const std::wstring& xml, int* failures) {
  ReferenceServer server;
  PeerPool referencePeer(server.Port());
  if (referencePeer.Connect(1, 1, 5s) != 1) throw std::runtime_error("reference peer failed");
  ReferenceLink link(server);
  HandValidator validator(Platform::FromUtf8(CORVANE_SOURCE_DTD_DIR));

  PeerPool enginePeer(bench.ServerPort());
  ConnectOnePeer(bench, enginePeer);

  auto reference = [&] {
    const std::u16string units = Platform::ToUtf16(xml);
    validator.Validate(units);
    const std::u16string id = ReferenceMessageId();
    const std::u16string frame =
        Client::Wire::FormatHeader(Client::Wire::kPrefixVersion1, Client::Wire::kTypeXmlData) + id +
        Client::Wire::FormatNumber(static_cast<long long>(units.size()),
                                   Client::Wire::kXmlDataLengthWidth) +
        units;
    return link.RoundTrip(frame, id);
  };
  auto engine = [&] { return EngineSend(bench.Engine(), xml); };

  // The ZeroMQ echo carries the engine's own frames for this document.
  const Client::XmlDataMessage request(Platform::ToUtf16(xml));
  const std::string requestFrame = Bytes(request.ToString());
  const std::string replyFrame = Bytes(Client::XmlDataAckMessage(request).ToString());
  ZeroMqEcho zeromq(requestFrame, replyFrame);
  auto echo = [&] { return zeromq.RoundTrip(); };

  TimeCalls(kWarmUpCalls, 5s, reference, failures);
  TimeCalls(kWarmUpCalls, 5s, echo, failures);
  TimeCalls(kWarmUpCalls, 5s, engine, failures);
  std::vector<double> referenceMicros;
  std::vector<double> zeromqMicros;
  std::vector<double> engineMicros;
  auto block = [&](auto& call, std::vector<double>& all) {
    const std::vector<double> micros = TimeCalls(kBlockCalls, kBlockTime, call, failures);
    all.insert(all.end(), micros.begin(), micros.end());
  };
  const auto end = Clock::now() + kRoundsTime;
  for (int round = 0; round < kRounds && Clock::now() < end; ++round) {
    // Each round starts with another of the three, so that none always
    // follows the same one.
    for (int turn = 0; turn < 3; ++turn) {
      switch ((round + turn) % 3) {
        case 0: block(reference, referenceMicros); break;
        case 1: block(echo, zeromqMicros); break;
        default: block(engine, engineMicros); break;
      }
    }
  }
  RoundTripResult result;
  result.reference = Summarise(std::move(referenceMicros));
  result.zeromq = Summarise(std::move(zeromqMicros));
  result.engine = Summarise(std::move(engineMicros));
  result.request_bytes = requestFrame.size();
  result.reply_bytes = replyFrame.size();
  return result;
}

int Run() {
  const std::wstring xml = MakeXml(kXmlCharacters);
  std::printf("XML round trips: %zu-character document, one version-1 peer, loopback\n",
              xml.size());
  int failures = 0;
  bool allMet = true;

  // 1. Round trips, engine against both baselines.
  double plainWorstUs = 0;
  double referenceMedianUs = 0;
  {
    BenchEngine bench(EngineOptions{2000, 60000});
    const RoundTripResult result = MeasureRoundTrips(bench, xml, &failures);
    std::printf("  ZeroMQ echo: %zu-byte request (the XMLDATA frame), %zu-byte reply (XMLACK)\n",
                result.request_bytes, result.reply_bytes);
    PrintLatency("by hand (validates)", result.reference);
    PrintLatency("ZeroMQ REQ/REP echo", result.zeromq);
    PrintLatency("engine SendData", result.engine);
    const double byHand = result.engine.Rate() / result.reference.Rate();
    const double zeromq = result.engine.Rate() / result.zeromq.Rate();
    std::printf("  ratio engine/by hand:  rate %.2f, median %.2f, p99 %.2f\n", byHand,
                result.engine.median_us / result.reference.median_us,
                result.engine.p99_us / result.reference.p99_us);
    std::printf("  ratio engine/ZeroMQ:   rate %.2f, median %.2f, p99 %.2f\n", zeromq,
                result.engine.median_us / result.zeromq.median_us,
                result.engine.p99_us / result.zeromq.p99_us);
    char text[256];
    std::snprintf(text, sizeof text, "engine %.0f/s = %.2f x ZeroMQ echo %.0f/s (target >= %.1f)",
                  result.engine.Rate(), zeromq, result.zeromq.Rate(), kZeroMqRateTarget);
    const bool zeromqMet = zeromq >= kZeroMqRateTarget;
    PrintSummary("xml-rate-vs-zeromq", text, zeromqMet);
    std::snprintf(text, sizeof text, "engine %.0f/s = %.2f x by-hand loop %.0f/s (target >= %.1f)",
                  result.engine.Rate(), byHand, result.reference.Rate(), kByHandRateTarget);
    const bool byHandMet = byHand >= kByHandRateTarget;
    PrintSummary("xml-rate-vs-by-hand", text, byHandMet);
    std::snprintf(text, sizeof text,
                  "engine p99 %.1f us (target < %.0f, %.2f x), median %.1f us; ZeroMQ p99 %.1f us, "
                  "by hand p99 %.1f us",
                  result.engine.p99_us, kP99TargetUs, result.engine.p99_us / kP99TargetUs,
                  result.engine.median_us, result.zeromq.p99_us, result.reference.p99_us);
    const bool p99Met = result.engine.p99_us < kP99TargetUs;
    PrintSummary("xml-p99", text, p99Met);
    allMet = allMet && zeromqMet && byHandMet && p99Met;
    plainWorstUs = result.engine.max_us;
    referenceMedianUs = result.reference.median_us;

    // 3a. Memory over many calls, once the engine and the allocator have
    // reached their working sizes.
    PeerPool peer(bench.ServerPort());
    ConnectOnePeer(bench, peer);
    auto send = [&] { return EngineSend(bench.Engine(), xml); };
    int memoryFailures = 0;
    const int warmUp = CountCalls(kMemoryWarmUpCalls, kMemoryWarmUpTime, send, &memoryFailures);
    const long before = ResidentKiB();
    const long heapBefore = HeapInUseKiB();
    const auto start = Clock::now();
    const int calls = CountCalls(kMemoryCalls, kMemoryTime, send, &memoryFailures);
    const double seconds = MicrosSince(start) / 1e6;
    const long after = ResidentKiB();
    const long heapAfter = HeapInUseKiB();
    failures += memoryFailures;
    if (calls == 0) throw std::runtime_error("no SendData call completed in the memory run");
    const double scale = static_cast<double>(kMemoryCalls) / calls;
    const double growthKiB = static_cast<double>(after - before) * scale;
    std::printf("  RSS over %d SendData calls (%.1f s, after %d warm-up calls): %ld KiB -> %ld KiB "
                "(%+ld KiB), heap in use %+ld KiB, %.0f bytes per call\n",
                calls, seconds, warmUp, before, after, after - before, heapAfter - heapBefore,
                (after - before) * 1024.0 / calls);
    if (calls < kMemoryCalls) {
      std::printf("  stopped by the %lld s bound; growth scaled to %d calls: %.0f KiB\n",
                  static_cast<long long>(std::chrono::seconds(kMemoryTime).count()), kMemoryCalls,
                  growthKiB);
    }
    std::snprintf(text, sizeof text,
                  "%.0f KiB of RSS growth over %d SendData calls (target <= %.0f KiB, %.2f x); "
                  "%.0f bytes per call",
                  growthKiB, kMemoryCalls, kMemoryGrowthTargetKiB,
                  growthKiB / kMemoryGrowthTargetKiB,
                  growthKiB * 1024.0 / kMemoryCalls);
    const bool memoryMet = growthKiB <= kMemoryGrowthTargetKiB;
    PrintSummary("xml-rss-growth", text, memoryMet);
    allMet = allMet && memoryMet;
  }
  {
    // 3b. The same for the validator alone, to tell the parser's share.
    Client::XmlValidator validator(Platform::FromUtf8(CORVANE_SOURCE_DTD_DIR));
    for (int i = 0; i < 200; ++i) validator.Validate(xml);
    const long before = ResidentKiB();
    int ignored = 0;
    const int done = CountCalls(kMemoryCalls, kValidatorMemoryTime,
                                [&] {
                                  validator.Validate(xml);
                                  return true;
                                },
                                &ignored);
    const long after = ResidentKiB();
    std::printf("  RSS over %d validations alone: %ld KiB -> %ld KiB, %.0f bytes per validation "
                "(%.0f KiB scaled to %d)\n",
                done, before, after, (after - before) * 1024.0 / done,
                static_cast<double>(after - before) * kMemoryCalls / done, kMemoryCalls);
  }

  // 2. Health checks every 5 ms on the same connection while XML goes out.
  {
    BenchEngine bench(EngineOptions{30, 5});
    PeerPool peer(bench.ServerPort());
    ConnectOnePeer(bench, peer);
    int mixedFailures = 0;
    const auto micros = TimeCalls(kMixedCalls, kMixedTime,
                                  [&] { return EngineSend(bench.Engine(), xml); }, &mixedFailures);
    const LatencySummary mixed = Summarise(micros);
    const long checks = peer.GetCounters().checks_answered;
    PrintLatency("engine mixed", mixed);
    std::printf("  health checks answered meanwhile: %ld (interval 5 ms, ack timeout 30 ms)\n",
                checks);
    const double worstMs = mixed.max_us / 1000.0;
    const bool met = mixedFailures == 0 && worstMs < kDelayedAckMs / 4 && checks > 0 &&
                     bench.Applications() == 1;
    char text[256];
    std::snprintf(text, sizeof text,
                  "worst round trip %.2f ms = %.3f x a 40 ms delayed-ACK stall, %.2f x the "
                  "plain run's worst; %ld health checks, %d failures",
                  worstMs, worstMs / kDelayedAckMs, mixed.max_us / plainWorstUs, checks,
                  mixedFailures);
    PrintSummary("nagle-mixed", text, met);
    allMet = allMet && met;
    failures += mixedFailures;
  }

  // Cost centres of one SendData, each measured alone.
  {
    std::printf("Cost centres, per call (share of the reference median %.1f us):\n",
                referenceMedianUs);
    Client::XmlValidator validator(Platform::FromUtf8(CORVANE_SOURCE_DTD_DIR));
    auto share = [&](const char* name, double us) {
      std::printf("  %-46s %8.2f us  %5.1f %%\n", name, us, 100.0 * us / referenceMedianUs);
    };
    share("XmlValidator::Validate (1 KiB)", CostOf(2000, [&] { validator.Validate(xml); }));
    share("CreateLogger (once per connection)",
          CostOf(20000, [] { Logging::CreateLogger(L"Corvane::Client::XmlDataSendCommand"); }));
    share("message id (UUID)", CostOf(20000, [] { Client::Wire::NewMessageId(); }));
    share("XmlDataMessage + ToString (1 KiB)", CostOf(20000, [&] {
            Client::XmlDataMessage message(Platform::ToUtf16(xml));
            return message.ToString();
          }));
    auto logger = Logging::CreateLogger(L"Corvane::Client::XmlDataSendCommand");
    share("debug Log skipped by threshold", CostOf(200000, [&] {
            logger->Log(Logging::LogLevel::Debug, L"Run -> send_finished = %ls", L"false");
          }));
  }

  if (failures > 0) std::printf("%d calls failed\n", failures);
  std::printf("xml_round_trip_bench: %s\n", allMet && failures == 0 ? "all targets met" : "target missed");
  return 0;
}

}  // namespace
}  // namespace Bench
}  // namespace Corvane

int main() {
  try {
    return Corvane::Bench::Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark failed: %s\n", e.what());
    return 2;
  }
}
