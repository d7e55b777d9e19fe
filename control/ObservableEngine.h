#pragma once
// The engine operations that go with the host's observer, as the control
// reaches them: QuellorProxy binds them from the engine library's extension
// exports, and a test engine implements them itself. An engine object that
// is not an ObservableEngine lacks them all.

#include <vector>

#include "interface/QuellorObserver.h"

namespace Corvane {
namespace Control {

class ObservableEngine {
 public:
  virtual ~ObservableEngine() = default;
  /// Each throws QuellorException -999 when the engine library lacks its
  /// export, and whatever the engine throws otherwise.
  virtual void SetObserver(Client::QuellorObserver* observer) = 0;
  virtual void ClearObserver() = 0;
  virtual std::vector<Client::SendOutcome> SendDataEach(const std::wstring& xml) = 0;
  virtual std::vector<Client::ApplicationHealth> GetApplicationHealth() = 0;
};

}  // namespace Control
}  // namespace Corvane
