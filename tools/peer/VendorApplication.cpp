#include "tools/peer/VendorApplication.h"

#include <cryptopp/sha.h>

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "interface/Quellor.h"
#include "platform/TextConversion.h"
#include "protocol/ChecksumText.h"
#include "protocol/ConnectMessage.h"
#include "protocol/ConnectResponseMessage.h"
#include "protocol/DisconnectMessage.h"
#include "protocol/FieldCodec.h"
#include "protocol/HealthCheckAckMessage.h"
#include "protocol/HealthCheckMessage.h"
#include "protocol/VersionMessage.h"
#include "protocol/WireFormat.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"
#include "tools/peer/ProgressBar.h"

namespace Corvane {
namespace Peer {

namespace Wire = Client::Wire;
using Client::MessageType;
using Platform::FromUtf16;
using Platform::ToUtf8;

namespace {

std::string Text(const std::u16string& text) { return ToUtf8(FromUtf16(text)); }

// Bytes of a file read per BINDATA chunk: 5,120 characters.
constexpr std::size_t kChunkBytes = 10240;

}  // namespace

VendorApplication::VendorApplication(EventPrinter& out, Identity identity, Faults faults)
    : out_(out), identity_(std::move(identity)), faults_(faults) {}

VendorApplication::~VendorApplication() { Close(); }

void VendorApplication::Close() {
  // The reader returns once the stream is shut down; only then is the
  // descriptor released.
  if (link_) link_->Shutdown();
  if (reader_.joinable()) reader_.join();
  if (link_) link_->Close();
}

void VendorApplication::Send(const std::u16string& frame) {
  out_.Frame(true, frame);
  std::lock_guard<std::mutex> lock(mutex_);
  if (link_) link_->Send(frame, faults_.framePieces);
}

void VendorApplication::Connect(const std::string& host, int port) {
  host_ = host;
  link_ = std::make_unique<PeerLink>(host, port);
  const Client::ConnectMessage connect(identity_.id, identity_.name, identity_.address);
  Send(connect.ToString());
  ReceivedFrame frame;
  std::string error;
  if (!link_->Receive(frame, error) || !frame.message ||
      frame.message->GetType() != MessageType::kConnectAck) {
    throw std::runtime_error("the engine did not answer the CONNECT" +
                             (error.empty() ? std::string() : ": " + error));
  }
  out_.Frame(false, frame.raw);
  const auto& ack = static_cast<const Client::ConnectResponseMessage&>(*frame.message);
  file_port_ = ack.GetFilePort();
  out_.Event("connected", {{"engine_id", Text(ack.GetClientId())},
                           {"engine_name", Text(ack.GetClientName())},
                           {"language", Text(ack.GetLanguage())},
                           {"file_port", file_port_}});
  connected_ = true;
  if (identity_.version != 1) {
    Send(Client::VersionMessage(identity_.version).ToString());
  }
  if (!faults_.stopReading) reader_ = std::thread([this] { ReadLoop(); });
}

void VendorApplication::ReadLoop() {
  for (;;) {
    ReceivedFrame frame;
    std::string error;
    if (!link_->Receive(frame, error)) break;
    out_.Frame(false, frame.raw);
    if (!frame.message) {
      out_.Event("unreadable_frame", {{"error", error}});
      continue;
    }
    Answer(frame);
    if (frame.message->GetType() == MessageType::kDisconnect) break;
  }
  connected_ = false;
  out_.Event("disconnected", {});
  changed_.notify_all();
}

void VendorApplication::Answer(const ReceivedFrame& frame) {
  const auto& message = *frame.message;
  const auto delay = [&] {
    if (faults_.ackDelayMs > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(faults_.ackDelayMs));
    }
  };
  switch (message.GetType()) {
    case MessageType::kXmlData: {
      const auto& xml = static_cast<const Client::XmlDataMessage&>(message);
      out_.Event("xml", {{"id", Text(xml.GetMessageId())}, {"text", Text(xml.GetData())}});
      if (faults_.noXmlAck || identity_.version != 1) return;
      delay();
      Client::XmlDataAckMessage ack(xml);
      std::u16string text = ack.ToString();
      if (faults_.wrongAckId) text.replace(20, 36, Wire::NewMessageId());
      Send(text);
      return;
    }
    case MessageType::kXmlDataAck: {
      std::lock_guard<std::mutex> lock(mutex_);
      acked_xml_id_ = message.GetMessageId();
      changed_.notify_all();
      return;
    }
    case MessageType::kHealthCheck: {
      out_.Event("health_check", {{"id", Text(message.GetMessageId())}});
      if (faults_.noHealthAck || identity_.version != 1) return;
      delay();
      std::u16string text =
          Client::HealthCheckAckMessage(static_cast<const Client::HealthCheckMessage&>(message))
              .ToString();
      if (faults_.wrongAckId) text.replace(20, 36, Wire::NewMessageId());
      Send(text);
      return;
    }
    case MessageType::kDisconnect:
      out_.Event("disconnect_received", {});
      return;
    default:
      out_.Event("message", {{"type", Text(Wire::ReadText(frame.raw, Wire::kPrefixLength,
                                                         Wire::kTypeNameWidth))}});
      return;
  }
}

bool VendorApplication::SendXml(const std::u16string& xml, int timeoutMs) {
  const Client::XmlDataMessage message(xml);
  Send(message.ToString());
  out_.Event("xml_sent", {{"id", Text(message.GetMessageId())}, {"characters", xml.size()}});
  if (identity_.version != 1) return connected_;
  if (faults_.stopReading) {
    // Nothing reads the stream, so no XMLACK can be seen: not a success.
    out_.Event("xml_not_acknowledged",
               {{"id", Text(message.GetMessageId())},
                {"reason", "not reading the connection (--stop-reading)"}});
    return false;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  const bool acked = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return acked_xml_id_ == message.GetMessageId() || !connected_;
  }) && acked_xml_id_ == message.GetMessageId();
  lock.unlock();
  if (acked) {
    out_.Event("xml_acknowledged", {{"id", Text(message.GetMessageId())}});
  } else {
    out_.Event("xml_not_acknowledged",
               {{"id", Text(message.GetMessageId())},
                {"reason", connected_ ? "no XMLACK within " + std::to_string(timeoutMs) + " ms"
                                      : std::string("the engine closed the connection")}});
  }
  return acked;
}

bool VendorApplication::SendFile(const std::string& path, int timeoutMs) {
  // What cannot be read is refused before anything goes to the engine.
  const std::string name = path.substr(path.find_last_of('/') + 1);
  std::string problem;
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    problem = std::strerror(errno);
  } else if (S_ISDIR(status.st_mode)) {
    problem = "it is a directory";
  } else if (!S_ISREG(status.st_mode)) {
    problem = "it is not a regular file";
  }
  std::ifstream file;
  if (problem.empty()) {
    file.open(path, std::ios::binary);
    if (!file) problem = std::strerror(errno);
  }
  if (!problem.empty()) {
    out_.Event("file_failed",
               {{"name", name}, {"path", path}, {"error", "cannot read " + path + ": " + problem}});
    return false;
  }
  const auto size = static_cast<std::uint64_t>(status.st_size);
  const std::u16string wideName = Platform::ToUtf16(Platform::FromUtf8(name));

  PeerLink files(host_, file_port_);
  const Client::ConnectMessage connect(identity_.id, identity_.name, identity_.address);
  out_.Frame(true, connect.ToString());
  files.Send(connect.ToString(), faults_.framePieces);
  ReceivedFrame frame;
  std::string error;
  if (!files.Receive(frame, error) || !frame.message) {
    throw std::runtime_error("the engine's file port did not answer the CONNECT");
  }
  out_.Frame(false, frame.raw);

  const std::u16string id = Wire::NewMessageId();
  const std::u16string head = Wire::FormatHeader(Wire::kPrefixVersion2, Wire::kTypeBinaryData) +
                              Wire::FormatText(id, Wire::kMessageIdWidth) +
                              Wire::FormatNumber(static_cast<long long>(wideName.size()), 5) +
                              Wire::FormatNumber(static_cast<long long>(size), 10) + wideName;
  out_.Frame(true, head);
  files.Send(head, faults_.framePieces);
  CryptoPP::SHA1 digest;
  ProgressBar progress(name, size);
  std::string chunk(kChunkBytes, '\0');
  std::uint64_t sent = 0;
  while (sent < size) {
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(kChunkBytes, size - sent));
    file.read(&chunk[0], static_cast<std::streamsize>(count));
    if (static_cast<std::size_t>(file.gcount()) != count) {
      progress.Finish();
      files.Reset();  // the engine sees the file cut short, never a wrong one
      out_.Event("file_failed", {{"name", name}, {"path", path},
                                 {"error", "cannot read " + path + " past byte " +
                                               std::to_string(sent)}});
      return false;
    }
    digest.Update(reinterpret_cast<const CryptoPP::byte*>(chunk.data()), count);
    std::string bytes = chunk.substr(0, count);
    if (bytes.size() % 2 != 0) bytes += '\0';  // the last character's high half
    if (!files.SendBytes(bytes.data(), bytes.size())) {
      progress.Finish();
      out_.Event("file_failed", {{"name", name},
                                 {"path", path},
                                 {"error", "the engine closed the connection"}});
      return false;
    }
    sent += count;
    progress.Update(sent);
    if (faults_.resetMidFile && sent >= size / 2) {
      progress.Finish();
      files.Reset();
      out_.Event("file_reset", {{"name", name}, {"bytes_sent", sent}});
      return false;
    }
  }
  progress.Finish();
  std::u16string checksum = Client::FinishChecksumText(digest);
  if (faults_.badChecksum) checksum[0] = checksum[0] == u'0' ? u'1' : u'0';
  files.Send(checksum);

  out_.Event("file_sent", {{"id", Text(id)}, {"name", name}, {"bytes", size}});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!files.Receive(frame, error)) break;
    out_.Frame(false, frame.raw);
    if (!frame.isBinaryAck) continue;
    out_.Event("binack", {{"id", Text(frame.ackId)},
                          {"flag", frame.ackFlag},
                          {"text", Text(frame.ackText)}});
    return frame.ackFlag == 1;
  }
  out_.Event("binack_missing", {{"id", Text(id)}, {"name", name}});
  return false;
}

void VendorApplication::Disconnect() {
  if (!link_) return;
  Send(Client::DisconnectMessage().ToString());
  Close();
  connected_ = false;
}

}  // namespace Peer
}  // namespace Corvane
