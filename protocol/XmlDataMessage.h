#pragma once
// XMLDATA: carries one XML text.
// Fixed part 46 characters: message id (text 36), data length n in characters
// (numeric 10); then the n characters of the XML text as they are.

#include <memory>
#include <string>

#include "protocol/IntegrationMessage.h"

namespace Corvane {
namespace Client {

class XmlDataMessage : public IntegrationMessage {
 public:
  /// Reading constructor: empty id, data length 0, empty data, remaining
  /// length 46.
  XmlDataMessage();
  /// Sending constructor: a fresh message id and the XML text.
  explicit XmlDataMessage(std::u16string xml);

  int GetRemainingLength() const override;
  /// Two calls: the fixed part (46 characters), then, when the announced length
  /// is above 0, the data. A length of 0 or below completes the message with
  /// empty data. Throws EngineError -112 when the message id is blank, the
  /// length field is incomplete or holds no number, the length exceeds
  /// Wire::kMaxXmlDataLength, or the data is not of the announced length.
  void Parse(const std::u16string& chunk) override;
  std::u16string ToString() const override;
  std::u16string GetMessageId() const override;
  int GetProtocolVersion() const override;
  bool SupportsProtocolVersion(int version) const override;
  MessageType GetType() const override;

  /// The XML text.
  std::u16string GetData() const;
  /// The data length, as announced by the fixed part or set by the sender.
  int GetDataLength() const;

 private:
  void ParseFixedPart(const std::u16string& chunk);
  void ParseData(const std::u16string& chunk);

  std::u16string message_id_;
  int data_length_;
  std::u16string data_;
  int remaining_length_;
  // Which Parse step comes next; decided by state, never by the fields read.
  bool fixed_part_read_;
};

}  // namespace Client
}  // namespace Corvane
