#include "connection/BinaryDataAckSendCommand.h"

#include <gtest/gtest.h>

#include <boost/asio/error.hpp>
#include <filesystem>

#include "support/LoggingTestSupport.h"
#include "connection/ListenerSlot.h"
#include "filestore/FileImpl.h"
#include "protocol/BinaryDataMessage.h"
#include "protocol/MessageFactory.h"
#include "support/BinaryDataFrame.h"
#include "support/HeldWriteSocket.h"
#include "support/RecordingListener.h"
#include "support/TempDir.h"

namespace Corvane {
namespace Client {
namespace {

namespace fs = std::filesystem;

class BinaryDataAckSendCommandTest : public ::testing::Test {
 protected:
  BinaryDataAckSendCommandTest() {
    slot_->Set(&listener_);
    const std::u16string frame = Testing::BinaryDataFrame{kId, u"a.txt", "abc", {}}.ToString();
    message_ = std::dynamic_pointer_cast<BinaryDataMessage>(CreateMessage(frame.substr(0, 20)));
    message_->Parse(frame.substr(20, 51));
    file_ = std::make_shared<File::FileImpl>((root_.Path() / "temp").string());
    file_->Open(L"received");
    file_->Append(std::string("abc"));
    file_->Close();
  }

  void Run(const std::wstring& errorText) {
    std::make_shared<BinaryDataAckSendCommand>(socket_, message_, errorText, file_, nullptr, slot_,
                                               L"Vendor")
        ->Run();
  }

  const std::u16string kId = u"9b2c4e6a-1d3f-4a5b-8c7d-0e1f2a3b4c5d";
  Testing::TempDir root_;
  Testing::LogCapture log_;
  Testing::RecordingListener listener_;
  std::shared_ptr<ListenerSlot> slot_ = std::make_shared<ListenerSlot>();
  std::shared_ptr<Testing::HeldWriteSocket> socket_ =
      std::make_shared<Testing::HeldWriteSocket>(/*ioThread=*/true);
  std::shared_ptr<BinaryDataMessage> message_;
  std::shared_ptr<File::FileImpl> file_;
};

TEST_F(BinaryDataAckSendCommandTest, FileIsReportedOnlyOnceTheAckIsWritten) {
  Run(L"");
  EXPECT_EQ(socket_->Written(), u"CVNPBDP002BINACK    " + kId + u"10000");
  EXPECT_TRUE(listener_.Files().empty());
  socket_->Complete();
  EXPECT_EQ(listener_.Files(), std::vector<std::wstring>{file_->GetPath()});
  EXPECT_TRUE(fs::exists(file_->GetNativePath()));
}

TEST_F(BinaryDataAckSendCommandTest, RefusalIsWrittenButNotReported) {
  Run(L"Incorrect Checksum");
  EXPECT_EQ(socket_->Written(), u"CVNPBDP002BINACK    " + kId + u"00018Incorrect Checksum");
  socket_->Complete();
  EXPECT_TRUE(listener_.Files().empty());
}

TEST_F(BinaryDataAckSendCommandTest, FailedOrShortWriteRemovesTheFileUnreported) {
  const std::pair<boost::system::error_code, std::size_t> failures[] = {
      {boost::asio::error::connection_reset, 0}, {{}, 10}};
  for (const auto& [error, bytes] : failures) {
    std::ofstream(file_->GetNativePath()) << "abc";
    Run(L"");
    socket_->Complete(error, bytes);
    EXPECT_FALSE(fs::exists(file_->GetNativePath()));
  }
  EXPECT_TRUE(listener_.Files().empty());
  EXPECT_EQ(log_.Count(L"Failed to send BINDATA acknowledgement."), 2);
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
