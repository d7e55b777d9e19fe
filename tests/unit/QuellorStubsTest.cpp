#include "engine/QuellorStubs.h"
#include "platform/EngineError.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

namespace Corvane {
namespace Client {
namespace {

using ::testing::Return;

class MockQuellor : public Quellor {
 public:
  MOCK_METHOD(std::wstring, Register, (), (override));
  MOCK_METHOD(void, Unregister, (const std::wstring&), (override));
  MOCK_METHOD(std::wstring, GetConnectorType, (), (override));
  MOCK_METHOD(void, Start,
              (const std::wstring&, const std::wstring&, const std::wstring&, int, int, int, bool,
               int, int, int, const std::wstring&),
              (override));
  MOCK_METHOD(void, Stop, (), (override));
  MOCK_METHOD(bool, IsStarted, (), (override));
  MOCK_METHOD(void, SetListener, (QuellorListener*), (override));
  MOCK_METHOD(void, ClearListener, (), (override));
  MOCK_METHOD(bool, IsHailing, (), (override));
  MOCK_METHOD(void, SendData, (const std::wstring&), (override));
  MOCK_METHOD(std::shared_ptr<ClientApplicationList>, GetApplications, (), (override));
};

// Each stub reaches its own operation with its own arguments, through the
// engine's virtual table.
TEST(QuellorStubsTest, EachStubCallsItsOperation) {
  ::testing::StrictMock<MockQuellor> engine;
  Quellor* q = &engine;
  auto list = std::make_shared<ClientApplicationList>();
  auto* listener = reinterpret_cast<QuellorListener*>(0x1234);

  EXPECT_CALL(engine, Register()).WillOnce(Return(L"uuid"));
  EXPECT_CALL(engine, Unregister(std::wstring(L"gone")));
  EXPECT_CALL(engine, GetConnectorType()).WillOnce(Return(L"type"));
  EXPECT_CALL(engine, Start(std::wstring(L"id"), std::wstring(L"name"), std::wstring(L"239.0.0.1"),
                            1, 2, 3, true, 4, 5, 6, std::wstring(L"/dir")));
  EXPECT_CALL(engine, Stop());
  EXPECT_CALL(engine, IsStarted()).WillOnce(Return(true));
  EXPECT_CALL(engine, SetListener(listener));
  EXPECT_CALL(engine, ClearListener());
  EXPECT_CALL(engine, IsHailing()).WillOnce(Return(true));
  EXPECT_CALL(engine, SendData(std::wstring(L"<a/>")));
  EXPECT_CALL(engine, GetApplications()).WillOnce(Return(list));

  EXPECT_EQ(QuellorStubs::Register(q), L"uuid");
  QuellorStubs::Unregister(q, L"gone");
  EXPECT_EQ(QuellorStubs::GetConnectorType(q), L"type");
  QuellorStubs::Start(q, L"id", L"name", L"239.0.0.1", 1, 2, 3, true, 4, 5, 6, L"/dir");
  QuellorStubs::Stop(q);
  EXPECT_TRUE(QuellorStubs::IsStarted(q));
  QuellorStubs::SetListener(q, listener);
  QuellorStubs::ClearListener(q);
  EXPECT_TRUE(QuellorStubs::IsHailing(q));
  QuellorStubs::SendData(q, L"<a/>");
  EXPECT_EQ(QuellorStubs::GetApplications(q), list);
}

TEST(QuellorStubsTest, ExceptionsPassThroughUnchanged) {
  MockQuellor engine;
  EXPECT_CALL(engine, SendData(::testing::_))
      .WillOnce(::testing::Throw(QuellorException(L"No applications currently connected", -110)));
  try {
    QuellorStubs::SendData(&engine, L"<a/>");
    FAIL() << "no exception";
  } catch (const QuellorException& e) {
    EXPECT_EQ(e.GetCode(), -110);
    EXPECT_EQ(e.GetMessage(), L"No applications currently connected");
    EXPECT_STREQ(e.what(), "No applications currently connected");
  }
}

// The engine's own failures reach a host as QuellorException with their
// code and text unchanged, and the wide text's UTF-8 as what().
TEST(QuellorStubsTest, EngineErrorsArriveWithTheirCodeAndText) {
  MockQuellor engine;
  EXPECT_CALL(engine, SendData(::testing::_))
      .WillOnce(::testing::Throw(EngineError(L"Ung\u00fcltig", Errc::kInvalidXml)));
  EXPECT_CALL(engine, Start(::testing::_, ::testing::_, ::testing::_, ::testing::_, ::testing::_,
                            ::testing::_, ::testing::_, ::testing::_, ::testing::_, ::testing::_,
                            ::testing::_))
      .WillOnce(::testing::Throw(
          EngineError(L"Group port must be between 1 and 65535", Errc::kInvalidGroupPort)));
  try {
    QuellorStubs::SendData(&engine, L"<a/>");
    FAIL() << "no exception";
  } catch (const QuellorException& e) {
    EXPECT_EQ(e.GetCode(), -200);
    EXPECT_EQ(e.GetMessage(), L"Ung\u00fcltig");
    EXPECT_STREQ(e.what(), "Ung\xc3\xbcltig");
  }
  try {
    QuellorStubs::Start(&engine, L"id", L"name", L"239.1.1.1", 0, 1, 1, false, 1, 1, 2, L"/tmp");
    FAIL() << "no exception";
  } catch (const QuellorException& e) {
    EXPECT_EQ(e.GetCode(), -119);
    EXPECT_EQ(e.GetMessage(), L"Group port must be between 1 and 65535");
  }
}

// Only QuellorException reaches a host: anything else thrown inside the
// engine arrives as one, code -132, with its text.
TEST(QuellorStubsTest, OtherExceptionsArriveAsQuellorExceptions) {
  MockQuellor engine;
  EXPECT_CALL(engine, Stop()).WillOnce(::testing::Throw(std::runtime_error("disk on fire")));
  EXPECT_CALL(engine, IsStarted()).WillOnce(::testing::Throw(42));
  try {
    QuellorStubs::Stop(&engine);
    FAIL() << "no exception";
  } catch (const QuellorException& e) {
    EXPECT_EQ(e.GetCode(), -132);
    EXPECT_EQ(e.GetMessage(), L"Internal error: disk on fire");
  }
  try {
    QuellorStubs::IsStarted(&engine);
    FAIL() << "no exception";
  } catch (const QuellorException& e) {
    EXPECT_EQ(e.GetCode(), -132);
  }
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
