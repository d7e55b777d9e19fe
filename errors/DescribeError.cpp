#include "errors/DescribeError.h"

#include <vector>

#include <boost/asio/error.hpp>

namespace Corvane {
namespace Client {

namespace {

struct NamedError {
  boost::system::error_code code;
  const char* name;
};

// In table order; the first match wins.
const std::vector<NamedError>& NamedErrors() {
  namespace error = boost::asio::error;
  using boost::asio::error::make_error_code;
  static const std::vector<NamedError> table = {
      {make_error_code(error::access_denied), "access_denied"},
      {make_error_code(error::address_family_not_supported), "address_family_not_supported"},
      {make_error_code(error::address_in_use), "address_in_use"},
      {make_error_code(error::already_connected), "already_connected"},
      {make_error_code(error::already_started), "already_started"},
      {make_error_code(error::broken_pipe), "broken_pipe"},
      {make_error_code(error::connection_aborted), "connection_aborted"},
      {make_error_code(error::connection_refused), "connection_refused"},
      {make_error_code(error::connection_reset), "connection_reset"},
      {make_error_code(error::bad_descriptor), "bad_descriptor"},
      {make_error_code(error::fault), "fault"},
      {make_error_code(error::host_unreachable), "host_unreachable"},
      {make_error_code(error::in_progress), "in_progress"},
      {make_error_code(error::interrupted), "interrupted"},
      {make_error_code(error::invalid_argument), "invalid_argument"},
      {make_error_code(error::message_size), "message_size"},
      {make_error_code(error::network_down), "network_down"},
      {make_error_code(error::network_reset), "network_reset"},
      {make_error_code(error::network_unreachable), "network_unreachable"},
      {make_error_code(error::no_descriptors), "no_descriptors"},
      {make_error_code(error::no_buffer_space), "no_buffer_space"},
      {make_error_code(error::no_memory), "no_memory"},
      {make_error_code(error::no_permission), "no_permission"},
      {make_error_code(error::no_protocol_option), "no_protocol_option"},
      {make_error_code(error::not_connected), "not_connected"},
      {make_error_code(error::not_socket), "not_socket"},
      {make_error_code(error::operation_aborted), "operation_aborted"},
      {make_error_code(error::operation_not_supported), "operation_not_supported"},
      {make_error_code(error::shut_down), "shut_down"},
      {make_error_code(error::timed_out), "timed_out"},
      {make_error_code(error::try_again), "try_again"},
      {make_error_code(error::would_block), "would_block"},
      {make_error_code(error::host_not_found), "host_not_found"},
      {make_error_code(error::host_not_found_try_again), "host_not_found_try_again"},
      {make_error_code(error::no_data), "no_data"},
      {make_error_code(error::no_recovery), "no_recovery"},
      {make_error_code(error::service_not_found), "service_not_found"},
      {make_error_code(error::socket_type_not_supported), "socket_type_not_supported"},
      {make_error_code(error::already_open), "already_open"},
      {make_error_code(error::eof), "eof"},
      {make_error_code(error::not_found), "not_found"},
      {make_error_code(error::fd_set_failure), "fd_set_failure"},
  };
  return table;
}

}  // namespace

std::string DescribeError(const boost::system::error_code& error) {
  const char* name = "Undefined error";
  for (const NamedError& row : NamedErrors()) {
    // error_code equality compares the value and the category.
    if (error == row.code) {
      name = row.name;
      break;
    }
  }
  return "(" + std::to_string(error.value()) + ")  " + name + ".";
}

}  // namespace Client
}  // namespace Corvane
