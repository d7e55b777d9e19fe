#include "support/TestPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <cryptopp/sha.h>

#include "platform/EngineError.h"
#include "protocol/BinaryDataAckMessage.h"
#include "protocol/ChecksumText.h"
#include "protocol/ConnectMessage.h"
#include "protocol/FieldCodec.h"
#include "protocol/FrameParser.h"
#include "protocol/HealthCheckAckMessage.h"
#include "protocol/HealthCheckMessage.h"
#include "protocol/MessageFactory.h"
#include "protocol/ReceivedBinaryAckMessage.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"
#include "support/BinaryDataFrame.h"

namespace Corvane {
namespace Testing {

using namespace Client;

TestPeer::TestPeer(int port, std::chrono::milliseconds timeout) : timeout_(timeout) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    const std::string error = std::strerror(errno);
    ::close(fd_);
    throw std::runtime_error("connect to port " + std::to_string(port) + " failed: " + error);
  }
  int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

TestPeer::~TestPeer() { Close(); }

void TestPeer::Close() {
  stopping_ = true;
  if (reader_.joinable()) reader_.join();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

void TestPeer::Reset() {
  stopping_ = true;
  if (reader_.joinable()) reader_.join();
  if (fd_ >= 0) {
    // A zero linger time makes close send RST.
    linger reset{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  }
  Close();
}

std::u16string TestPeer::SendConnect(const std::u16string& applicationId,
                                     const std::u16string& applicationName,
                                     const std::u16string& address) {
  ConnectMessage connect(applicationId, applicationName, address);
  Send(connect);
  return connect.GetMessageId();
}

std::shared_ptr<ConnectResponseMessage> TestPeer::HandShake(const std::u16string& applicationId,
                                                            const std::u16string& applicationName) {
  SendConnect(applicationId, applicationName);
  const std::u16string frame = ReadChars(140);
  std::shared_ptr<ConnectResponseMessage> ack;
  try {
    ack = std::dynamic_pointer_cast<ConnectResponseMessage>(ParseMessage(frame));
  } catch (const EngineError&) {
  }
  if (ack) StartReading();
  return ack;
}

void TestPeer::Send(const IntegrationMessage& message) { SendRaw(message.ToString()); }

void TestPeer::SendRaw(const std::u16string& text) {
  SendBytes(std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
}

bool TestPeer::SendBytes(const std::string& bytes) {
  std::lock_guard<std::mutex> lock(write_mutex_);
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return false;  // the engine has gone; tests notice through what they wait for
    }
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::u16string TestPeer::SendBinaryData(const std::u16string& fileName, const std::string& data) {
  BinaryDataFrame frame{{}, fileName, data, {}};
  SendRaw(frame.ToString());
  return frame.messageId;
}

bool TestPeer::SendPatternFile(const std::u16string& messageId, const std::u16string& fileName,
                               std::size_t size) {
  BinaryDataFrame frame{messageId, fileName, {}, {}};
  const std::u16string head = frame.Head(size);
  if (!SendBytes(std::string(reinterpret_cast<const char*>(head.data()), head.size() * 2))) {
    return false;
  }
  CryptoPP::SHA1 sha;
  constexpr std::size_t kChunk = 256 * 1024;  // even, so characters never straddle chunks
  for (std::size_t offset = 0; offset < size; offset += kChunk) {
    std::string bytes = PatternBytes(offset, std::min(kChunk, size - offset));
    sha.Update(reinterpret_cast<const CryptoPP::byte*>(bytes.data()), bytes.size());
    if (bytes.size() % 2 != 0) bytes.push_back('\0');  // padding of the last character
    if (!SendBytes(bytes)) return false;
  }
  const std::u16string checksum = FinishChecksumText(sha);
  return SendBytes(std::string(reinterpret_cast<const char*>(checksum.data()), checksum.size() * 2));
}

bool TestPeer::ReadExactly(std::u16string& out, std::size_t count,
                           std::chrono::milliseconds timeout) {
  std::string bytes(count * 2, '\0');
  std::size_t received = 0;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (received < bytes.size()) {
    if (stopping_ || std::chrono::steady_clock::now() >= deadline) break;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    const ssize_t n = ::recv(fd_, &bytes[received], bytes.size() - received, 0);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_by_engine_ = true;
      changed_.notify_all();
      break;
    }
    if (n > 0) received += static_cast<std::size_t>(n);
  }
  out.assign(reinterpret_cast<const char16_t*>(bytes.data()), received / 2);
  return received == bytes.size();
}

std::u16string TestPeer::ReadChars(std::size_t count) {
  std::u16string out;
  ReadExactly(out, count, timeout_);
  return out;
}

std::size_t TestPeer::PendingBytes() const {
  int pending = 0;
  return ::ioctl(fd_, FIONREAD, &pending) == 0 ? static_cast<std::size_t>(pending) : 0;
}

void TestPeer::StartReading() {
  if (!reader_.joinable()) reader_ = std::thread([this] { ReadLoop(); });
}

void TestPeer::ReadLoop() {
  // The reader waits as long as the test runs; each read gives up only when
  // the stream ends or the peer is closed. The engine's BINACK frames are
  // read as a vendor application reads them (CreatePeerMessage).
  const auto forever = std::chrono::hours(24);
  FrameParser parser(&CreatePeerMessage);
  std::u16string chunk;
  while (!stopping_) {
    if (!ReadExactly(chunk, parser.Wanted(), forever)) return;
    std::size_t used = 0;
    FrameParser::Result result = parser.Push(chunk, used);
    if (result == FrameParser::Result::kHeader) result = parser.Push(nullptr, 0, used);
    if (result == FrameParser::Result::kNeedMore) continue;
    if (result == FrameParser::Result::kBad) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++parse_failures_;
      changed_.notify_all();
      continue;
    }
    const std::shared_ptr<IntegrationMessage> message = parser.TakeMessage();
    // Recorded before it is answered: whoever waits for the answer may count
    // the message at once.
    {
      std::lock_guard<std::mutex> lock(mutex_);
      unclaimed_.push_back(message);
      all_.push_back(message);
    }
    changed_.notify_all();
    Answer(message);
  }
}

void TestPeer::Answer(const std::shared_ptr<IntegrationMessage>& message) {
  if (auto check = std::dynamic_pointer_cast<HealthCheckMessage>(message)) {
    if (answer_health_checks_) Send(HealthCheckAckMessage(*check));
  } else if (auto xml = std::dynamic_pointer_cast<XmlDataMessage>(message)) {
    if (answer_xml_) Send(XmlDataAckMessage(*xml));
  }
}

bool TestPeer::WaitUntil(const std::function<bool()>& condition,
                         std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, condition);
}

bool TestPeer::WaitForClose(std::chrono::milliseconds timeout) {
  StartReading();
  return WaitUntil([this] { return closed_by_engine_; }, timeout);
}

int TestPeer::ParseFailures() {
  std::lock_guard<std::mutex> lock(mutex_);
  return parse_failures_;
}

}  // namespace Testing
}  // namespace Corvane
