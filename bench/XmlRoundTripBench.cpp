// XML round trips through the engine, against the same work done by hand in
// the same run:
//   1. SendData of a 1 KiB document to one version-1 peer (validate, XMLDATA,
//      XMLACK, return), rate and latency, against a by-hand reference: a fresh
//      Xerces validation against the same grammar, then a blocking
//      request/acknowledge round trip of the same frame sizes over loopback,
//      the caller waiting on a condition variable that an I/O thread signals.
//   2. The same with health checks every few milliseconds on the connection
//      at the same time: no frame may wait for Nagle's algorithm.
//   3. What one SendData costs in memory over many calls (the parser's
//      grammar loads), and the cost centres of one call, measured alone.
// Everything runs on 127.0.0.1; every loop is bounded in count and time.
// A "SUMMARY" line gives each figure with its ratio and target; the exit
// status is 0 whenever the run completed (missed targets included), 2 when it
// could not run, so that one benchmark does not keep the others from running.

#include <poll.h>
#include <sys/socket.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>

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
#include "logging/Logger.h"
#include "platform/TextConversion.h"
#include "protocol/FieldCodec.h"
#include "protocol/WireFormat.h"
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
// Reference and engine take turns in short blocks, so that both see the same
// state of the machine (parse times here drift by a quarter within seconds).
constexpr int kRounds = 60;
constexpr int kBlockCalls = 200;           // calls per block at most
constexpr auto kBlockTime = 500ms;         // and time per block at most
constexpr int kWarmUpCalls = 300;
constexpr int kLeakCalls = 20000;
constexpr auto kLeakTime = 30s;
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
  } catch (const Client::QuellorException& e) {
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
  LatencySummary reference;
  LatencySummary engine;
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

  TimeCalls(kWarmUpCalls, 5s, reference, failures);
  TimeCalls(kWarmUpCalls, 5s, engine, failures);
  std::vector<double> referenceMicros;
  std::vector<double> engineMicros;
  for (int round = 0; round < kRounds; ++round) {
    auto r = TimeCalls(kBlockCalls, kBlockTime, reference, failures);
    referenceMicros.insert(referenceMicros.end(), r.begin(), r.end());
    auto e = TimeCalls(kBlockCalls, kBlockTime, engine, failures);
    engineMicros.insert(engineMicros.end(), e.begin(), e.end());
  }
  return {Summarise(referenceMicros), Summarise(engineMicros)};
}

int Run() {
  const std::wstring xml = MakeXml(kXmlCharacters);
  std::printf("XML round trips: %zu-character document, one version-1 peer, loopback\n",
              xml.size());
  int failures = 0;
  bool allMet = true;

  // 1. Round trips, engine against the reference.
  double plainWorstUs = 0;
  double referenceMedianUs = 0;
  {
    BenchEngine bench(EngineOptions{2000, 60000});
    const RoundTripResult result = MeasureRoundTrips(bench, xml, &failures);
    PrintLatency("reference (by hand)", result.reference);
    PrintLatency("engine SendData", result.engine);
    const double ratio = result.engine.Rate() / result.reference.Rate();
    const bool met = ratio >= 0.80 && result.engine.p99_us < 1000.0;
    std::printf("  ratio engine/reference: rate %.2f, median %.2f, p99 %.2f\n", ratio,
                result.engine.median_us / result.reference.median_us,
                result.engine.p99_us / result.reference.p99_us);
    char text[256];
    std::snprintf(text, sizeof text,
                  "engine %.0f/s = %.2f x reference %.0f/s (target >= 0.80); median %.1f us, "
                  "p99 %.1f us (target < 1000)",
                  result.engine.Rate(), ratio, result.reference.Rate(), result.engine.median_us,
                  result.engine.p99_us);
    PrintSummary("xml-round-trip", text, met);
    allMet = allMet && met;
    plainWorstUs = result.engine.max_us;
    referenceMedianUs = result.reference.median_us;

    // 3a. Memory over many calls: each validation reads the grammar afresh.
    PeerPool peer(bench.ServerPort());
    ConnectOnePeer(bench, peer);
    const long before = ResidentKiB();
    int leakFailures = 0;
    const auto calls = TimeCalls(kLeakCalls, kLeakTime,
                                 [&] { return EngineSend(bench.Engine(), xml); }, &leakFailures);
    const long after = ResidentKiB();
    failures += leakFailures;
    const double perCall = (after - before) * 1024.0 / static_cast<double>(calls.size());
    std::printf("  RSS over %zu SendData calls: %ld KiB -> %ld KiB, %.0f bytes per call\n",
                calls.size(), before, after, perCall);
    char leak[160];
    std::snprintf(leak, sizeof leak, "%.0f bytes of RSS per SendData over %zu calls (%ld KiB; no target)",
                  perCall, calls.size(), after - before);
    PrintSummary("xml-rss-growth", leak, true);
  }
  {
    // 3b. The same for the validator alone, to tell the parser's share.
    Client::XmlValidator validator(Platform::FromUtf8(CORVANE_SOURCE_DTD_DIR));
    for (int i = 0; i < 200; ++i) validator.Validate(xml);
    const long before = ResidentKiB();
    int done = 0;
    const auto end = Clock::now() + kLeakTime;
    for (; done < kLeakCalls && Clock::now() < end; ++done) validator.Validate(xml);
    const long after = ResidentKiB();
    std::printf("  RSS over %d validations alone: %ld KiB -> %ld KiB, %.0f bytes per validation\n",
                done, before, after, (after - before) * 1024.0 / done);
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
    share("CreateLogger (per send command)",
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
