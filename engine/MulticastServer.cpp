#include "engine/MulticastServer.h"

#include <stdexcept>

#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/host_name.hpp>
#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>

#include "engine/EngineSettings.h"
#include "errors/DescribeError.h"
#include "logging/Logger.h"
#include "platform/TextConversion.h"
#include "platform/NetworkInterfaces.h"
#include "protocol/HailMessage.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;
using Platform::FromUtf16;
using Platform::FromUtf8;

namespace {

constexpr int kMulticastTimeToLive = 32;

}  // namespace

MulticastServer::MulticastServer(std::shared_ptr<boost::asio::io_context> ioContext,
                                 const std::wstring& groupAddress, int groupPort, int serverPort,
                                 std::wstring applicationName, std::wstring applicationId,
                                 std::chrono::milliseconds interval, std::string hostAddress, HailInterfaces interfaces)
    : io_context_(std::move(ioContext)),
      group_address_(groupAddress),
      group_port_(groupPort),
      endpoint_(boost::asio::ip::make_address(EngineSettings::DecimalGroupAddress(groupAddress)),
                static_cast<unsigned short>(groupPort)),
      socket_(*io_context_),
      timer_(*io_context_),
      server_port_(serverPort),
      application_name_(std::move(applicationName)),
      application_id_(std::move(applicationId)),
      interval_(interval),
      host_address_(std::move(hostAddress)),
      interfaces_(std::move(interfaces)),
      group_decimal_(EngineSettings::DecimalGroupAddress(groupAddress)),
      logger_(Logging::CreateLogger(L"Corvane::Client::MulticastServer")) {
  if (interfaces_.GetMode() == HailInterfaces::Mode::kListed) {
    std::vector<std::string> missing;
    if (interfaces_
            .Choose(Platform::ListNetworkInterfaces(), host_address_, group_decimal_,
                    static_cast<unsigned short>(group_port_), missing)
            .empty()) {
      std::string names;
      for (const auto& name : missing) names += (names.empty() ? "" : ", ") + name;
      throw std::runtime_error("none of the hail interfaces in engine.ini is up: " + names);
    }
  }
  socket_.open(boost::asio::ip::udp::v4());
  socket_.set_option(boost::asio::ip::multicast::hops(kMulticastTimeToLive));
  socket_.set_option(boost::asio::socket_base::reuse_address(true));
  // A round of hails never waits on the I/O thread.
  socket_.non_blocking(true);
}

MulticastServer::~MulticastServer() = default;

void MulticastServer::Start() { OnHailTimer({}); }

std::string MulticastServer::ResolveHostAddress() {
  boost::asio::io_context io;
  boost::asio::ip::tcp::resolver resolver(io);
  const auto results = resolver.resolve(boost::asio::ip::host_name(), "",
                                        boost::asio::ip::resolver_base::address_configured);
  for (const auto& entry : results) {
    if (entry.endpoint().address().is_v4()) return entry.endpoint().address().to_string();
  }
  return boost::asio::ip::address_v4::any().to_string();
}

const std::u16string& MulticastServer::HailFor(const std::string& address) {
  auto found = hails_.find(address);
  if (found != hails_.end()) return found->second;
  const HailMessage hail(Platform::ToUtf16(FromUtf8(address)), server_port_,
                         Platform::ToUtf16(application_id_));
  logger_->Log(LogLevel::Debug, L"MulticastServer: building hail message for: %ls",
               FromUtf16(hail.GetMessageId()).c_str());
  return hails_.emplace(address, hail.ToString()).first->second;
}

std::vector<HailTarget> MulticastServer::ChooseTargets() {
  std::vector<std::string> missing;
  auto targets = interfaces_.Choose(Platform::ListNetworkInterfaces(), host_address_,
                                    group_decimal_, static_cast<unsigned short>(group_port_),
                                    missing);
  for (const auto& name : missing) {
    if (missing_logged_.insert(name).second) {
      logger_->Log(LogLevel::Warning, L"MulticastServer: hail interface %ls is not up; skipped",
                   FromUtf8(name).c_str());
    }
  }
  if (targets != last_targets_) {
    for (const auto& target : targets) {
      logger_->Log(LogLevel::Info, L"MulticastServer: hailing through %ls with the address %ls",
                   target.outboundInterface.empty()
                       ? L"the system's interface for the group"
                       : FromUtf8(target.outboundInterface).c_str(),
                   FromUtf8(target.announcedAddress).c_str());
    }
    last_targets_ = targets;
  }
  return targets;
}

void MulticastServer::OnHailTimer(const boost::system::error_code& error) {
  if (error == boost::asio::error::operation_aborted || stopped_) return;
  if (error) {
    hailing_ = false;
    logger_->Log(LogLevel::Error, L"MulticastServer::OnHailTimer failed with %ls",
                 FromUtf8(DescribeError(error)).c_str());
    OnHailSent({});
    return;
  }
  hailing_ = true;
  boost::system::error_code failure;
  const auto targets = ChooseTargets();
  for (const auto& target : targets) {
    const std::u16string& text = HailFor(target.announcedAddress);
    if (&target == &targets.front()) hail_text_ = text;
    if (logger_->IsEnabled(LogLevel::Info)) {
      logger_->Log(LogLevel::Info,
                   L"MulticastServer::OnHailTimer: Sending hailing message to %ls port %d [%ls]",
                   group_address_.c_str(), group_port_, FromUtf16(text).c_str());
    }
    boost::system::error_code sendError;
    if (!target.outboundInterface.empty()) {
      socket_.set_option(boost::asio::ip::multicast::outbound_interface(
                             boost::asio::ip::make_address_v4(target.outboundInterface)),
                         sendError);
    }
    // The frame's UTF-16 code units are the datagram, two bytes per character.
    if (!sendError) {
      socket_.send_to(boost::asio::buffer(text.data(), text.size() * sizeof(char16_t)), endpoint_,
                      0, sendError);
    }
    if (sendError && !failure) failure = sendError;
  }
  logger_->Log(LogLevel::Debug, L"OnHailTimer: async_send_to complete");
  OnHailSent(failure);
}

void MulticastServer::OnHailSent(const boost::system::error_code& error) {
  if (error == boost::asio::error::operation_aborted || stopped_) return;
  if (error) {
    hailing_ = false;
    logger_->Log(LogLevel::Error, L"MulticastServer::OnHailSent failed with %ls)",
                 FromUtf8(DescribeError(error)).c_str());
  }
  logger_->Log(LogLevel::Info, L"OnHailSent: Next send in %lld milleseconds.",
               static_cast<long long>(interval_.count()));
  timer_.expires_after(interval_);
  timer_.async_wait([self = shared_from_this()](const boost::system::error_code& waitError) {
    self->OnHailTimer(waitError);
  });
}

void MulticastServer::Stop() {
  hailing_ = false;
  if (stopped_.exchange(true)) return;
  // The socket and the timer belong to the I/O thread.
  boost::asio::post(*io_context_, [self = shared_from_this()] {
    boost::system::error_code ignored;
    self->socket_.close(ignored);
    self->timer_.cancel();
  });
}

}  // namespace Client
}  // namespace Corvane
