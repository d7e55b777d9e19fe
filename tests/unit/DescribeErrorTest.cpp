#include "errors/DescribeError.h"

#include <cerrno>
#include <string>

#include <boost/asio/error.hpp>
#include <gtest/gtest.h>

namespace Corvane {
namespace Client {
namespace {

namespace error = boost::asio::error;
using boost::system::error_code;

std::string Expected(int value, const std::string& name) {
  return "(" + std::to_string(value) + ")  " + name + ".";
}

TEST(DescribeErrorTest, NamesSocketErrorsWithThePlatformsValue) {
  EXPECT_EQ("(104)  connection_reset.", DescribeError(error::connection_reset));
  EXPECT_EQ(Expected(ECANCELED, "operation_aborted"), DescribeError(error::operation_aborted));
  EXPECT_EQ(Expected(ECONNABORTED, "connection_aborted"), DescribeError(error::connection_aborted));
  EXPECT_EQ(Expected(EBADF, "bad_descriptor"), DescribeError(error::bad_descriptor));
  EXPECT_EQ(Expected(EADDRINUSE, "address_in_use"), DescribeError(error::address_in_use));
}

TEST(DescribeErrorTest, ValueMatchesOnlyWithinItsCategory) {
  EXPECT_EQ("(2)  eof.", DescribeError(error::eof));
  EXPECT_EQ("(2)  Undefined error.", DescribeError(error_code(ENOENT, boost::system::system_category())));
  // Value 1 in three categories.
  EXPECT_EQ("(1)  already_open.", DescribeError(error::already_open));
  EXPECT_EQ("(1)  host_not_found.", DescribeError(error::host_not_found));
  EXPECT_EQ(Expected(EPERM, "no_permission"), DescribeError(error_code(EPERM, boost::system::system_category())));
  // The generic category is not the system one.
  EXPECT_EQ(Expected(ECONNRESET, "Undefined error"),
            DescribeError(error_code(ECONNRESET, boost::system::generic_category())));
}

TEST(DescribeErrorTest, ResolverErrorsHaveTheirNames) {
  EXPECT_EQ("(2)  host_not_found_try_again.", DescribeError(error::host_not_found_try_again));
  EXPECT_EQ(Expected(error::service_not_found, "service_not_found"), DescribeError(error::service_not_found));
  EXPECT_EQ(Expected(error::socket_type_not_supported, "socket_type_not_supported"),
            DescribeError(error::socket_type_not_supported));
}

TEST(DescribeErrorTest, SharedValueTakesTheFirstName) {
  // try_again and would_block are both EAGAIN here.
  EXPECT_EQ(Expected(EAGAIN, "try_again"), DescribeError(error::would_block));
}

TEST(DescribeErrorTest, SuccessAndUnknownErrorsAreUndefined) {
  EXPECT_EQ("(0)  Undefined error.", DescribeError(error_code()));
  EXPECT_EQ("(-7)  Undefined error.", DescribeError(error_code(-7, boost::system::system_category())));
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
