#include "connection/MessageDispatcher.h"

#include <algorithm>
#include <utility>

#include "connection/Connection.h"
#include "connection/FileReception.h"
#include "connection/HealthCheckAckSendCommand.h"
#include "connection/HealthCheckSendCommand.h"
#include "connection/LinkHealth.h"
#include "connection/VersionAckSendCommand.h"
#include "connection/XmlDataAckSendCommand.h"
#include "connection/XmlDataSendCommand.h"
#include "protocol/BinaryDataMessage.h"
#include "protocol/HealthCheckMessage.h"
#include "protocol/VersionMessage.h"
#include "protocol/WireFormat.h"
#include "protocol/XmlDataMessage.h"

namespace Corvane {
namespace Client {

MessageDispatcher::MessageDispatcher(std::shared_ptr<const ConnectionSettings> settings,
                                     std::shared_ptr<FileWorkPool> threads)
    : settings_(std::move(settings)),
      threads_(std::move(threads)) {}

MessageDispatcher::~MessageDispatcher() = default;

void MessageDispatcher::OnHeader(IntegrationMessage& message) {
  reception_.reset();
  // Without a file factory (a connection that takes no files) a BINDATA is
  // read in step and dropped.
  if (message.GetType() != MessageType::kBinaryData || !settings_->fileFactory) return;
  reception_ = std::make_shared<FileReception>(settings_, threads_);
  if (progress_listener_) reception_->ReportProgressTo(progress_listener_, progress_connection_);
  static_cast<BinaryDataMessage&>(message).SetSink(reception_.get());
}

void MessageDispatcher::ReportProgressTo(std::shared_ptr<ListenerSlot> listener,
                                         std::weak_ptr<Connection> connection) {
  progress_listener_ = std::move(listener);
  progress_connection_ = std::move(connection);
}

void MessageDispatcher::Reset() { reception_.reset(); }

bool MessageDispatcher::IsStreamingFile() const { return reception_ && reception_->HasWriter(); }

bool MessageDispatcher::MayReadBody(std::function<void()> resume) {
  return !reception_ || reception_->MayReadMore(std::move(resume));
}

bool MessageDispatcher::Dispatch(const std::shared_ptr<IntegrationMessage>& message,
                                 const std::shared_ptr<Connection>& connection) {
  // Peers of the version that sends no acknowledgements expect none either.
  const bool acknowledged = Wire::UsesAcknowledgements(connection->GetVersion());
  switch (message->GetType()) {
    case MessageType::kXmlData: {
      connection->GetHealth()->OnXmlReceived();
      auto command = std::make_shared<XmlDataAckSendCommand>(
          connection->GetSocket(), std::static_pointer_cast<XmlDataMessage>(message),
          connection->GetListener(), connection->GetName());
      if (acknowledged) {
        command->Run();  // delivers the text once the XMLACK is written
      } else {
        command->NotifyListener();
      }
      return true;
    }
    case MessageType::kXmlDataAck:
      if (acknowledged) {
        if (auto command = connection->GetXmlDataSendCommand()) command->OnAckReceived(message);
      }
      return true;
    case MessageType::kHealthCheck:
      if (acknowledged) {
        HealthCheckAckSendCommand(connection->GetSocket(),
                                  static_cast<const HealthCheckMessage&>(*message))
            .Run();
      }
      return true;
    case MessageType::kHealthCheckAck:
      if (acknowledged) {
        if (auto command = connection->GetHealthCheckCommand()) command->OnAckReceived(message);
      }
      return true;
    case MessageType::kVersion: {
      const auto& version = static_cast<const VersionMessage&>(*message);
      // Versions above the engine's own count as the engine's.
      connection->SetVersion(std::min(version.GetVersion(), Wire::kEngineProtocolVersion));
      VersionAckSendCommand(connection->GetSocket(), version).Run();
      return true;
    }
    case MessageType::kDisconnect:
      // The peer has gone: end without answering, and read no more.
      connection->End(Farewell::kNone, DepartureReason::kDisconnected);
      return false;
    case MessageType::kBinaryData: {
      auto reception = std::move(reception_);
      if (!reception) return true;
      return reception->Deliver(std::static_pointer_cast<const BinaryDataMessage>(message),
                                connection);
    }
    case MessageType::kConnect:
    case MessageType::kConnectAck:
    case MessageType::kHail:
    case MessageType::kVersionAck:
    case MessageType::kBinaryDataAck:
      return true;
  }
  return true;
}

}  // namespace Client
}  // namespace Corvane
