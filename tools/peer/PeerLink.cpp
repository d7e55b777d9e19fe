#include "tools/peer/PeerLink.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/TextConversion.h"
#include "protocol/FieldCodec.h"
#include "protocol/FrameParser.h"
#include "protocol/IntegrationMessage.h"
#include "protocol/ReceivedBinaryAckMessage.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Peer {

namespace Wire = Client::Wire;

PeerLink::PeerLink(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int error = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); error != 0) {
    throw std::runtime_error("cannot find " + host + ": " + ::gai_strerror(error));
  }
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int connected = fd_ < 0 ? -1 : ::connect(fd_, found->ai_addr, found->ai_addrlen);
  const int error = errno;
  ::freeaddrinfo(found);
  if (connected != 0) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    throw std::runtime_error("cannot connect to " + host + ":" + service + ": " +
                             std::strerror(error));
  }
  const int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

PeerLink::~PeerLink() { Close(); }

bool PeerLink::SendBytes(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd_, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool PeerLink::Send(const std::u16string& frame, int pieces) {
  const char* data = reinterpret_cast<const char*>(frame.data());
  const std::size_t size = frame.size() * sizeof(char16_t);
  if (pieces <= 1) return SendBytes(data, size);
  const std::size_t step = size / static_cast<std::size_t>(pieces) + 1;
  for (std::size_t offset = 0; offset < size; offset += step) {
    if (!SendBytes(data + offset, std::min(step, size - offset))) return false;
    ::usleep(2000);  // each piece its own segment
  }
  return true;
}

bool PeerLink::ReadCharacters(std::u16string& out, std::size_t count) {
  out.assign(count, u'\0');
  char* data = reinterpret_cast<char*>(&out[0]);
  std::size_t have = 0;
  const std::size_t want = count * sizeof(char16_t);
  while (have < want) {
    const ssize_t got = ::recv(fd_, data + have, want - have, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    have += static_cast<std::size_t>(got);
  }
  return true;
}

bool PeerLink::Receive(ReceivedFrame& frame, std::string& error) {
  frame = ReceivedFrame{};
  error.clear();
  std::u16string header;
  if (fd_ < 0 || !ReadCharacters(header, Wire::kHeaderLength)) {
    error = "the engine closed the connection";
    return false;
  }
  frame.raw = header;
  // Every frame is read with the engine's parser; a BINACK, which only a
  // vendor application reads, with the peer's factory.
  Client::FrameParser parser(&Client::CreatePeerMessage);
  std::size_t used = 0;
  Client::FrameParser::Result result = parser.Push(header, used);
  std::u16string chunk;
  while (result == Client::FrameParser::Result::kHeader ||
         result == Client::FrameParser::Result::kNeedMore) {
    if (parser.Wanted() == 0) {
      result = parser.Push(nullptr, 0, used);
      continue;
    }
    if (!ReadCharacters(chunk, parser.Wanted())) return false;
    frame.raw += chunk;
    result = parser.Push(chunk, used);
  }
  if (result == Client::FrameParser::Result::kBad) {
    error = Platform::ToUtf8(parser.ErrorText());
    return true;
  }
  frame.message = parser.TakeMessage();
  if (const auto ack =
          std::dynamic_pointer_cast<Client::ReceivedBinaryAckMessage>(frame.message)) {
    frame.message.reset();
    frame.isBinaryAck = true;
    frame.ackId = ack->GetMessageId();
    frame.ackFlag = ack->GetReceivedFlag() == 1 ? 1 : 0;
    frame.ackText = ack->GetErrorText();
  }
  return true;
}

void PeerLink::Reset() {
  if (fd_ < 0) return;
  linger reset{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  Close();
}

void PeerLink::Shutdown() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void PeerLink::Close() {
  if (fd_ < 0) return;
  ::shutdown(fd_, SHUT_RDWR);
  ::close(fd_);
  fd_ = -1;
}

}  // namespace Peer
}  // namespace Corvane
