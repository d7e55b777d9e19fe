// A vendor application that a script drives line by line on standard input,
// so that script tests of the control can exchange real frames with it. Each
// command answers with one line on standard output:
//
//   connect PORT ID NAME        hand-shake on the server port    -> connected | failed
//   xml TEXT                    send XMLDATA, wait for its XMLACK -> acked | no-ack
//   expect-xml                  wait for the client's XMLDATA     -> xml TEXT | no-xml
//   file PORT NAME CONTENT      send a file on the file port      -> binack FLAG | no-binack
//   junk PORT                   a first frame that is no CONNECT  -> junk-sent
//   close                       close the standard connection     -> closed
//   quit                        end                               -> bye

#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "platform/TextConversion.h"
#include "protocol/BinaryDataAckMessage.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"
#include "support/TestPeer.h"

namespace {

using namespace Corvane;
using Testing::TestPeer;

std::u16string Wide(const std::string& text) {
  return Platform::ToUtf16(Platform::FromUtf8(text));
}

std::string Narrow(const std::u16string& text) {
  return Platform::ToUtf8(Platform::FromUtf16(text));
}

// The rest of the line after the words already read, without its first space.
std::string Rest(std::istringstream& words) {
  std::string rest;
  std::getline(words, rest);
  if (!rest.empty() && rest.front() == ' ') rest.erase(0, 1);
  return rest;
}

std::string Run(const std::string& line, std::unique_ptr<TestPeer>& peer) {
  std::istringstream words(line);
  std::string command;
  words >> command;
  if (command == "connect") {
    int port = 0;
    std::string id, name;
    words >> port >> id;
    name = Rest(words);
    peer = std::make_unique<TestPeer>(port);
    return peer->HandShake(Wide(id), Wide(name)) ? "connected" : "failed";
  }
  if (command == "xml") {
    if (!peer) return "no-ack";
    Client::XmlDataMessage message(Wide(Rest(words)));
    peer->Send(message);
    auto ack = peer->WaitFor<Client::XmlDataAckMessage>();
    return ack && ack->GetMessageId() == message.GetMessageId() ? "acked" : "no-ack";
  }
  if (command == "expect-xml") {
    auto xml = peer ? peer->WaitFor<Client::XmlDataMessage>() : nullptr;
    return xml ? "xml " + Narrow(xml->GetData()) : "no-xml";
  }
  if (command == "file") {
    int port = 0;
    std::string name;
    words >> port >> name;
    TestPeer sender(port);
    if (!sender.HandShake(u"file-sender", u"Vendor")) return "no-binack";
    const std::u16string id = sender.SendBinaryData(Wide(name), Rest(words));
    auto ack = sender.WaitFor<Client::BinaryDataAckMessage>();
    if (!ack || ack->GetMessageId() != id) return "no-binack";
    return "binack " + std::to_string(ack->GetSuccessFlag());
  }
  if (command == "junk") {
    int port = 0;
    words >> port;
    TestPeer junk(port);
    junk.SendRaw(std::u16string(137, u'#'));
    return "junk-sent";
  }
  if (command == "close") {
    peer.reset();
    return "closed";
  }
  return "unknown command: " + command;
}

}  // namespace

int main() {
  std::unique_ptr<TestPeer> peer;
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line == "quit") {
      std::cout << "bye" << std::endl;
      return 0;
    }
    try {
      std::cout << Run(line, peer) << std::endl;
    } catch (const std::exception& e) {
      std::cout << "error " << e.what() << std::endl;
    }
  }
  return 0;
}
