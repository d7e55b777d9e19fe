#pragma once
// Constants of the LAN protocol, shared by every writer and reader of frames.
//
// A frame is a run of 16-bit characters (UTF-16LE code units on the wire): a
// 20-character header followed by a body whose layout depends on the message
// type. Every length, width and offset below counts characters, never bytes.
//
//   header:  +---------+-----+------------+
//            | CVNPBDP | 001 | TYPE______ |   protocol id, version, type name
//            +---------+-----+------------+
//             0         7     10         20

#include <cstddef>

namespace Corvane {
namespace Client {
namespace Wire {

// Header.
constexpr int kHeaderLength = 20;
constexpr int kProtocolIdLength = 7;
constexpr int kVersionTextLength = 3;
constexpr int kPrefixLength = kProtocolIdLength + kVersionTextLength;
constexpr int kTypeNameWidth = kHeaderLength - kPrefixLength;
constexpr char16_t kProtocolId[] = u"CVNPBDP";
constexpr char16_t kPrefixVersion1[] = u"CVNPBDP001";
constexpr char16_t kPrefixVersion2[] = u"CVNPBDP002";

// Type names as they stand in the header (before padding).
constexpr char16_t kTypeHail[] = u"HAIL";
constexpr char16_t kTypeConnect[] = u"CONNECT";
constexpr char16_t kTypeConnectAck[] = u"CONNECTACK";
constexpr char16_t kTypeDisconnect[] = u"DISCONNECT";
constexpr char16_t kTypeXmlData[] = u"XMLDATA";
constexpr char16_t kTypeXmlAck[] = u"XMLACK";
constexpr char16_t kTypeHealthCheck[] = u"HLTHCHK";
constexpr char16_t kTypeHealthCheckAck[] = u"HLTHACK";
constexpr char16_t kTypeVersion[] = u"VERSION";
constexpr char16_t kTypeVersionAck[] = u"VERSIONACK";
constexpr char16_t kTypeBinaryData[] = u"BINDATA";
constexpr char16_t kTypeBinaryAck[] = u"BINACK";

// Every message id is the 36-character text of a UUID.
constexpr int kMessageIdWidth = 36;

// HAIL body.
constexpr int kHailAddressWidth = 15;
constexpr int kHailPortWidth = 5;
constexpr int kHailBodyLength = kHailAddressWidth + kHailPortWidth + kMessageIdWidth;  // 56

// CONNECT body.
constexpr int kConnectApplicationIdWidth = 36;
constexpr int kConnectApplicationNameWidth = 30;
constexpr int kConnectApplicationAddressWidth = 15;
constexpr int kConnectBodyLength = kMessageIdWidth + kConnectApplicationIdWidth +
                                   kConnectApplicationNameWidth +
                                   kConnectApplicationAddressWidth;  // 117
constexpr int kConnectFrameLength = kHeaderLength + kConnectBodyLength;  // 137

// CONNECTACK body: fixed part, then a variable part of announced length.
constexpr int kConnectAckApplicationIdWidth = 36;
constexpr int kConnectAckApplicationNameWidth = 30;
constexpr int kConnectAckLanguageWidth = 2;
constexpr int kConnectAckErrorCodeWidth = 4;
constexpr int kConnectAckDataLengthWidth = 4;
constexpr int kConnectAckVersionWidth = 3;
constexpr int kConnectAckFilePortWidth = 5;
constexpr int kConnectAckFixedLength =
    kMessageIdWidth + kConnectAckApplicationIdWidth + kConnectAckApplicationNameWidth +
    kConnectAckLanguageWidth + kConnectAckErrorCodeWidth + kConnectAckDataLengthWidth;  // 112
constexpr int kConnectAckSuccessDataLength =
    kConnectAckVersionWidth + kConnectAckFilePortWidth;  // 8

// XMLDATA body: fixed part, then the XML text of announced length.
constexpr int kXmlDataLengthWidth = 10;
constexpr int kXmlDataFixedLength = kMessageIdWidth + kXmlDataLengthWidth;  // 46
// Largest XML text, in characters, that a reader accepts. The length field
// could announce up to 2147483647 characters; anything above this limit is
// rejected before a buffer is sized for it.
constexpr int kMaxXmlDataLength = 64 * 1024 * 1024;

// XMLACK and HLTHCHK bodies: the message id alone.
constexpr int kXmlAckBodyLength = kMessageIdWidth;      // 36
constexpr int kHealthCheckBodyLength = kMessageIdWidth;  // 36

// HLTHACK body.
constexpr int kHealthCheckAckStatusWidth = 5;
constexpr char16_t kHealthCheckAckStatus[] = u"OK   ";
constexpr int kHealthCheckAckBodyLength = kMessageIdWidth + kHealthCheckAckStatusWidth;  // 41

// VERSION body.
constexpr int kVersionVersionWidth = 3;
constexpr int kVersionReservedWidth = 4;
constexpr int kVersionBodyLength =
    kMessageIdWidth + kVersionVersionWidth + kVersionReservedWidth;  // 43

// VERSIONACK body.
constexpr int kVersionAckStatusWidth = 4;
constexpr int kVersionAckBodyLength = kMessageIdWidth + kVersionAckStatusWidth;  // 40

// BINDATA body: fixed part, then the file name, the file's bytes two per
// character (low half first; an odd length pads the last character) in chunks,
// then the SHA-1 digest of the bytes as 40 lower-case hexadecimal digits.
constexpr int kBinaryDataFileNameLengthWidth = 5;
constexpr int kBinaryDataLengthWidth = 10;
constexpr int kBinaryDataFixedLength =
    kMessageIdWidth + kBinaryDataFileNameLengthWidth + kBinaryDataLengthWidth;  // 51
// Largest data chunk a reader asks for, in characters (twice as many bytes).
constexpr int kBinaryDataChunkLength = 5120;
constexpr int kBinaryDataChecksumLength = 40;
// Shortest accepted file name length, in characters. There is no upper
// bound beyond the field's own (99999): the name is read whole, and one that
// cannot be stored is refused when the file is delivered.
constexpr int kMinFileNameLength = 1;

// BINACK body: message id, success flag, error text length, error text.
constexpr int kBinaryAckSuccessWidth = 1;
constexpr int kBinaryAckErrorLengthWidth = 4;
constexpr int kBinaryAckFixedLength =
    kMessageIdWidth + kBinaryAckSuccessWidth + kBinaryAckErrorLengthWidth;  // 41
// Longest error text the 4-digit length field can announce.
constexpr int kMaxBinaryAckErrorLength = 9999;

// The protocol version this engine speaks, announced in CONNECTACK.
constexpr int kEngineProtocolVersion = 2;
// From this protocol version on, peers send and expect no XMLACK and no
// HLTHACK.
constexpr int kFirstVersionWithoutAcks = 2;

/// Whether a peer speaking `version` acknowledges XMLDATA and HLTHCHK (and
/// expects the engine to acknowledge its own).
constexpr bool UsesAcknowledgements(int version) { return version < kFirstVersionWithoutAcks; }

}  // namespace Wire
}  // namespace Client
}  // namespace Corvane
