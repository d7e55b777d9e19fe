#pragma once
// The kinds of message the wire carries, one per type name.

namespace Corvane {
namespace Client {

enum class MessageType {
  kConnect,         // CONNECT
  kConnectAck,      // CONNECTACK
  kDisconnect,      // DISCONNECT
  kHail,            // HAIL
  kXmlData,         // XMLDATA
  kXmlDataAck,      // XMLACK
  kHealthCheck,     // HLTHCHK
  kHealthCheckAck,  // HLTHACK
  kVersion,         // VERSION
  kVersionAck,      // VERSIONACK
  kBinaryData,      // BINDATA
  kBinaryDataAck,   // BINACK
};

}  // namespace Client
}  // namespace Corvane
