#pragma once
// The one text form of a socket, timer or name-resolution error, used in log
// lines and exception texts: "(" value ")  " name "." (two spaces after the
// parenthesis), for example "(104)  connection_reset." on Linux.

#include <string>

#include <boost/system/error_code.hpp>

namespace Corvane {
namespace Client {

/// Names the error by matching it, value and category together, against
/// Boost.Asio's named errors (operation_aborted, connection_reset, eof, ...);
/// the number printed is the platform's own value. An error that matches no
/// name (success included) is an "Undefined error". Where two names share a
/// value on this platform (try_again and would_block are both EAGAIN on
/// Linux), the first in the table wins. Pure; callable from any thread.
std::string DescribeError(const boost::system::error_code& error);

}  // namespace Client
}  // namespace Corvane
