#pragma once
// The operations the engine offers beside its interface: the host's
// observer, the send with an outcome per application, and link health.
// Tarnlink implements them, and so does the engine GetConnector hands out;
// their exports reach them from the engine pointer.

#include <string>
#include <vector>

#include "interface/QuellorObserver.h"

namespace Corvane {
namespace Client {

class QuellorExtension {
 public:
  virtual ~QuellorExtension() = default;
  /// Stores a non-owning observer beside the listener.
  virtual void SetObserver(QuellorObserver* observer) = 0;
  /// Forgets the observer, after the callbacks in progress have returned.
  virtual void ClearObserver() = 0;
  /// Sends like SendData, and gives the outcome for each application that
  /// was connected at the call, in the order they registered (see
  /// QuellorExtensionMethods::SendDataEach).
  virtual std::vector<SendOutcome> SendDataEach(const std::wstring& xml) = 0;
  /// The connected applications with their link health.
  virtual std::vector<ApplicationHealth> GetApplicationHealth() = 0;
};

}  // namespace Client
}  // namespace Corvane
