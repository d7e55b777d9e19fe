// File transfer through the engine's file port, against the same work done
// by hand in the same run:
//   1. Rate: a 256 MiB file sent by a vendor application (a thread of this
//      process) as one BINDATA to a started engine, timed from its first
//      byte until its BINACK has been read, in MB/s (10^6 bytes). Reference:
//      one thread receives the same bytes over loopback TCP in 10,240-byte
//      reads (the engine's chunk), feeds each into SHA-1 and appends it to a
//      file in a temporary directory (buffered like the file store), then
//      renames the file into another directory and answers with one byte.
//      Engine and reference runs alternate; the best of each counts. The
//      engine receives on its I/O thread while a file work thread hashes and
//      appends, so it must beat the reference by kTargetRatio.
//   2. Durable rate: the same engine transfers against a second one-thread
//      reference that also puts the file on the disk before it answers, as
//      the engine does before its BINACK (fdatasync of the file, rename,
//      fsync of the directory). Target: at least kDurableTargetRatio; the
//      sync's share of that reference's transfer time is printed.
//   3. Memory: the growth of the process's peak resident set (VmHWM, reset
//      before each transfer) while the engine receives a 64 MiB and a
//      256 MiB file: at most kTargetGrowthKiB each, and no more for the
//      larger file than for the smaller (give or take kGrowthSlackKiB). The
//      sender repeats one 1 MiB buffer, so it holds no more than that
//      whatever the size.
// Everything runs on 127.0.0.1; every transfer is bounded in time, and every
// file is removed. "SUMMARY" lines give each figure with its target; the last
// line says whether all were met. The exit status is 0 whenever the run
// completed (missed targets included), 2 when it could not run.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cryptopp/sha.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/Tarnlink.h"
#include "protocol/ChecksumText.h"
#include "support/BenchSupport.h"
#include "support/FreePort.h"
#include "filestore/FileFactoryImpl.h"
#include "logging/LoggerConfiguration.h"
#include "platform/TextConversion.h"
#include "protocol/ConnectMessage.h"
#include "protocol/FieldCodec.h"

namespace Corvane {
namespace Bench {
namespace {

namespace fs = std::filesystem;
using Testing::FreeTcpPort;
using Testing::FreeUdpPort;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::size_t kRateSize = 256 * kMiB;
constexpr std::size_t kMemorySizes[] = {64 * kMiB, 256 * kMiB};
constexpr std::size_t kSendBuffer = kMiB;
constexpr std::size_t kReferenceRead = 10240;
constexpr int kRounds = 5;
constexpr int kSocketTimeoutSeconds = 60;  // bounds every send and receive
constexpr double kTargetRatio = 1.30;
constexpr double kDurableTargetRatio = 1.0;
constexpr long kTargetGrowthKiB = 32 * 1024;
constexpr long kGrowthSlackKiB = 4 * 1024;

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

// --- Process figures ----------------------------------------------------------------

long StatusKiB(const char* key) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key)));
  }
  return -1;
}

// Sets the peak resident set back to the current one; false when the kernel
// does not allow it.
bool ResetPeakResidentSet() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

// --- Sockets ----------------------------------------------------------------------

void SetTimeouts(int fd) {
  timeval timeout{kSocketTimeoutSeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

class Stream {
 public:
  explicit Stream(int fd) : fd_(fd) { SetTimeouts(fd_); }
  static Stream Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd);
      Fail("connect failed");
    }
    return Stream(fd);
  }
  Stream(Stream&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Stream& operator=(Stream&&) = delete;
  ~Stream() {
    if (fd_ >= 0) ::close(fd_);
  }

  void Send(const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t n = ::send(fd_, bytes, size, MSG_NOSIGNAL);
      if (n <= 0) Fail("send failed: " + std::string(std::strerror(errno)));
      bytes += n;
      size -= static_cast<std::size_t>(n);
    }
  }
  void Send(const std::u16string& text) { Send(text.data(), text.size() * 2); }

  // Fills `size` bytes; false when the stream ended first.
  bool Receive(void* data, std::size_t size) {
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
      const ssize_t n = ::recv(fd_, bytes, size, 0);
      if (n <= 0) return false;
      bytes += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }
  std::u16string ReceiveText(std::size_t characters) {
    std::u16string text(characters, u'\0');
    if (!Receive(&text[0], characters * 2)) Fail("stream ended");
    return text;
  }

 private:
  int fd_;
};

// --- What the sender sends ------------------------------------------------------------

// One buffer of pseudo-random bytes, repeated to make a file of any size.
class Payload {
 public:
  Payload() : buffer_(kSendBuffer) {
    std::uint32_t state = 0x9E3779B9u;
    for (char& byte : buffer_) {
      state = state * 1664525u + 1013904223u;
      byte = static_cast<char>(state >> 24);
    }
  }

  // Calls `send(data, size)` for consecutive pieces of a file of `size` bytes.
  template <typename F>
  void ForEachPiece(std::size_t size, F&& send) const {
    for (std::size_t offset = 0; offset < size; offset += buffer_.size()) {
      send(buffer_.data(), std::min(buffer_.size(), size - offset));
    }
  }

  // The lower-case SHA-1 of a file of `size` bytes.
  std::u16string Checksum(std::size_t size) const {
    CryptoPP::SHA1 sha;
    ForEachPiece(size, [&](const char* data, std::size_t n) {
      sha.Update(reinterpret_cast<const CryptoPP::byte*>(data), n);
    });
    return Client::FinishChecksumText(sha);
  }

 private:
  std::vector<char> buffer_;
};

// --- The engine -------------------------------------------------------------------------

class FileListener : public Client::QuellorListener {
 public:
  void OnError(int code, const std::wstring& description) override {
    std::fprintf(stderr, "engine error %d: %ls\n", code, description.c_str());
  }
  void OnMessageReceived(const std::wstring&) override {}
  void OnFileReceived(const std::wstring&) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++files_;
    changed_.notify_all();
  }
  bool WaitForFiles(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 30s, [&] { return files_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int files_ = 0;
};

class Workspace {
 public:
  Workspace() {
    std::string pattern = (fs::temp_directory_path() / "corvane-file-bench-XXXXXX").string();
    if (!::mkdtemp(&pattern[0])) Fail("mkdtemp failed");
    root_ = pattern;
  }
  ~Workspace() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  const fs::path& Root() const { return root_; }

 private:
  fs::path root_;
};

// Sends one BINDATA of `size` bytes to the file port and returns the seconds
// from its first byte to its BINACK.
double SendThroughEngine(int filePort, const Payload& payload, std::size_t size,
                         const std::u16string& checksum) {
  Stream stream = Stream::Connect(filePort);
  stream.Send(Client::ConnectMessage(u"bench-sender", u"Bench", u"127.0.0.1").ToString());
  stream.ReceiveText(140);  // CONNECTACK

  const std::u16string id = Client::Wire::NewMessageId();
  const std::u16string head = Client::Wire::FormatHeader(u"CVNPBDP002", u"BINDATA") +
                              Client::Wire::FormatText(id, 36) +
                              Client::Wire::FormatNumber(8, 5) +
                              Client::Wire::FormatNumber(static_cast<long long>(size), 10) +
                              u"bench.in";
  const auto start = Clock::now();
  stream.Send(head);
  payload.ForEachPiece(size, [&](const char* data, std::size_t n) { stream.Send(data, n); });
  if (size % 2 != 0) stream.Send("", 1);  // padding of the last character
  stream.Send(checksum);
  const std::u16string ack = stream.ReceiveText(61);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (ack.compare(0, 20, u"CVNPBDP002BINACK    ") != 0 || ack.compare(56, 5, u"10000") != 0) {
    Fail("the engine refused the file");
  }
  return seconds;
}

// --- The reference ----------------------------------------------------------------------

// Receives `size` bytes on a loopback connection in 10,240-byte reads, hashes
// and appends them, renames the file into `target` and answers one byte.
// When `durable`, the file's data is synced before the rename and the
// directory after it, before the answer.
class ReferenceReceiver {
 public:
  ReferenceReceiver(fs::path tempDirectory, fs::path target, std::size_t size, bool durable)
      : temp_(std::move(tempDirectory)), target_(std::move(target)), size_(size),
        durable_(durable) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      Fail("reference listen failed");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~ReferenceReceiver() {
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
  }
  int Port() const { return port_; }
  const std::string& Checksum() {
    if (thread_.joinable()) thread_.join();
    return checksum_;
  }
  // Seconds spent syncing (after Checksum).
  double SyncSeconds() const { return sync_seconds_; }

 private:
  void Run() {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    Stream stream(fd);
    const fs::path path = temp_ / "reference.part";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::vector<char> fileBuffer(256 * 1024);
    std::setvbuf(file, fileBuffer.data(), _IOFBF, fileBuffer.size());
    CryptoPP::SHA1 sha;
    std::vector<char> chunk(kReferenceRead);
    for (std::size_t left = size_; left > 0;) {
      const std::size_t n = std::min(left, chunk.size());
      if (!stream.Receive(chunk.data(), n)) break;
      sha.Update(reinterpret_cast<const CryptoPP::byte*>(chunk.data()), n);
      std::fwrite(chunk.data(), 1, n, file);
      left -= n;
    }
    std::fflush(file);
    const auto syncStart = Clock::now();
    if (durable_ && ::fdatasync(::fileno(file)) != 0) Fail("reference fdatasync failed");
    sync_seconds_ = std::chrono::duration<double>(Clock::now() - syncStart).count();
    std::fclose(file);
    CryptoPP::byte digest[CryptoPP::SHA1::DIGESTSIZE];
    sha.Final(digest);
    char hex[3];
    for (CryptoPP::byte b : digest) {
      std::snprintf(hex, sizeof hex, "%02x", b);
      checksum_ += hex;
    }
    fs::rename(path, target_ / "reference.bin");
    if (durable_) {
      const auto directorySyncStart = Clock::now();
      const int directory = ::open(target_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (directory < 0 || ::fsync(directory) != 0) Fail("reference directory fsync failed");
      ::close(directory);
      sync_seconds_ += std::chrono::duration<double>(Clock::now() - directorySyncStart).count();
    }
    stream.Send("!", 1);
  }

  fs::path temp_;
  fs::path target_;
  std::size_t size_;
  bool durable_;
  double sync_seconds_ = 0;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::string checksum_;
};

// The seconds from the first byte to the answer; `syncSeconds`, when given,
// receives the time the durable reference spent syncing.
double SendThroughReference(const fs::path& temp, const fs::path& target, const Payload& payload,
                            std::size_t size, const std::u16string& checksum, bool durable = false,
                            double* syncSeconds = nullptr) {
  ReferenceReceiver receiver(temp, target, size, durable);
  Stream stream = Stream::Connect(receiver.Port());
  const auto start = Clock::now();
  payload.ForEachPiece(size, [&](const char* data, std::size_t n) { stream.Send(data, n); });
  char answer = 0;
  if (!stream.Receive(&answer, 1)) Fail("the reference did not answer");
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (Platform::ToUtf16(Platform::FromUtf8(receiver.Checksum())) != checksum) {
    Fail("the reference computed another checksum");
  }
  if (syncSeconds) *syncSeconds = receiver.SyncSeconds();
  return seconds;
}

double MegabytesPerSecond(std::size_t size, double seconds) {
  return static_cast<double>(size) / 1e6 / seconds;
}

int Main() {
  Workspace workspace;
  const fs::path module = workspace.Root() / "module";
  const fs::path files = workspace.Root() / "files";
  const fs::path referenceTemp = workspace.Root() / "reference-temp";
  const fs::path referenceTarget = workspace.Root() / "reference-files";
  for (const auto& directory : {module, files, referenceTemp, referenceTarget}) {
    fs::create_directories(directory);
  }
  std::ofstream(module / "logger.ini") << "[Log]\ntype=FILE\nname=Bench\ndefaultLogLevel=ERROR\n";
  Logging::LoggerConfiguration::Install(
      std::make_shared<Logging::LoggerConfiguration>(module.wstring()));

  FileListener listener;
  auto engine = std::make_unique<Client::Tarnlink>(module.wstring());
  engine->SetListener(&listener);
  const int filePort = FreeTcpPort();
  engine->Start(L"bench-client", L"Bench Client", L"239.255.1.2", FreeUdpPort(), FreeTcpPort(),
                15000, false, 5000, 60000, filePort, files.wstring());

  const Payload payload;
  int received = 0;
  auto engineTransfer = [&](std::size_t size, const std::u16string& checksum) {
    const double seconds = SendThroughEngine(filePort, payload, size, checksum);
    if (!listener.WaitForFiles(++received)) Fail("the engine did not report the file");
    if (fs::file_size(files / "bench.in") != size) Fail("the engine stored another size");
    fs::remove(files / "bench.in");
    return seconds;
  };

  // Memory first, while nothing of a transfer has been allocated yet: the
  // smaller file shows what receiving a file costs at all, the larger one
  // that it does not grow with the size.
  std::printf("File transfer: one BINDATA over loopback to the engine's file port\n");
  std::vector<long> growths;
  bool peakReset = true;
  for (const std::size_t size : kMemorySizes) {
    const std::u16string sizeChecksum = payload.Checksum(size);
    const bool reset = ResetPeakResidentSet();
    peakReset = peakReset && reset;
    const long before = StatusKiB(reset ? "VmRSS:" : "VmHWM:");
    engineTransfer(size, sizeChecksum);
    growths.push_back(StatusKiB("VmHWM:") - before);
    std::printf("  engine memory: peak resident set grew by %ld KiB (to %ld KiB) receiving a "
                "%zu MiB file%s\n",
                growths.back(), StatusKiB("VmHWM:"), size / kMiB,
                reset ? "" : " (peak could not be reset: growth over the whole run so far)");
  }
  const long largest = *std::max_element(growths.begin(), growths.end());
  const bool memoryMet =
      largest <= kTargetGrowthKiB && growths.back() <= growths.front() + kGrowthSlackKiB;

  const std::u16string checksum = payload.Checksum(kRateSize);
  double bestEngine = 1e9;
  double bestReference = 1e9;
  double bestDurable = 1e9;
  double bestDurableSync = 0;
  for (int round = 0; round < kRounds; ++round) {
    const double reference =
        SendThroughReference(referenceTemp, referenceTarget, payload, kRateSize, checksum);
    fs::remove(referenceTarget / "reference.bin");
    double syncSeconds = 0;
    const double durable = SendThroughReference(referenceTemp, referenceTarget, payload,
                                                kRateSize, checksum, true, &syncSeconds);
    fs::remove(referenceTarget / "reference.bin");
    const double viaEngine = engineTransfer(kRateSize, checksum);
    std::printf("  round %d: reference %.0f MB/s, durable reference %.0f MB/s (sync %.0f ms, "
                "%.0f %%), engine %.0f MB/s\n",
                round + 1, MegabytesPerSecond(kRateSize, reference),
                MegabytesPerSecond(kRateSize, durable), syncSeconds * 1e3,
                100.0 * syncSeconds / durable, MegabytesPerSecond(kRateSize, viaEngine));
    bestReference = std::min(bestReference, reference);
    if (durable < bestDurable) {
      bestDurable = durable;
      bestDurableSync = syncSeconds;
    }
    bestEngine = std::min(bestEngine, viaEngine);
  }
  const double referenceRate = MegabytesPerSecond(kRateSize, bestReference);
  const double engineRate = MegabytesPerSecond(kRateSize, bestEngine);
  const double ratio = engineRate / referenceRate;
  const bool rateMet = ratio >= kTargetRatio;
  const double durableRate = MegabytesPerSecond(kRateSize, bestDurable);
  const double durableRatio = engineRate / durableRate;
  const bool durableMet = durableRatio >= kDurableTargetRatio;

  engine->Stop();
  engine->ClearListener();
  engine.reset();

  char text[256];
  std::snprintf(text, sizeof text,
                "engine %.0f MB/s until the BINACK, reference %.0f MB/s (best of %d each): "
                "%.2f x (target >= %.2f x)",
                engineRate, referenceRate, kRounds, ratio, kTargetRatio);
  PrintSummary("file-rate-256MiB", text, rateMet);
  std::snprintf(text, sizeof text,
                "engine %.0f MB/s until the BINACK, durable reference %.0f MB/s (best of %d "
                "each; its sync %.0f ms = %.1f %% of its transfer): %.2f x (target >= %.2f x)",
                engineRate, durableRate, kRounds, bestDurableSync * 1e3,
                100.0 * bestDurableSync / bestDurable, durableRatio, kDurableTargetRatio);
  PrintSummary("file-durable-rate-256MiB", text, durableMet);
  std::snprintf(text, sizeof text,
                "peak resident set grew by %ld KiB (64 MiB file) and %ld KiB (256 MiB file)%s "
                "(target <= %ld KiB each, and no more for the larger give or take %ld KiB)",
                growths.front(), growths.back(), peakReset ? "" : " (peak not reset)",
                kTargetGrowthKiB, kGrowthSlackKiB);
  PrintSummary("file-memory", text, memoryMet);
  const bool allMet = rateMet && durableMet && memoryMet;
  std::printf("file_transfer_bench: %s\n", allMet ? "all targets met" : "target missed");
  return 0;
}

}  // namespace
}  // namespace Bench
}  // namespace Corvane

int main() {
  try {
    return Corvane::Bench::Main();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "file transfer bench failed: %s\n", e.what());
    return 2;
  }
}
