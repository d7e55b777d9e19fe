#pragma once
// The engine as the host holds it: what GetConnector hands out. Every
// operation runs the engine's own through ForHost, so a host that calls the
// members on the pointer (rather than through the get_<Method>_method
// addresses) sees the same QuellorException, code and text, as one that uses
// the addresses.

#include <memory>
#include <string>

#include "engine/QuellorExtension.h"
#include "interface/Quellor.h"

namespace Corvane {
namespace Client {

class HostQuellor : public Quellor, public QuellorExtension {
 public:
  /// `engine` offers the extension too.
  explicit HostQuellor(std::unique_ptr<Quellor> engine);
  ~HostQuellor() override;

  std::wstring Register() override;
  void Unregister(const std::wstring& id) override;
  std::wstring GetConnectorType() override;
  void Start(const std::wstring& applicationId, const std::wstring& applicationName,
             const std::wstring& groupAddress, int groupPort, int serverPort, int hailingInterval,
             bool usingHailingServer, int ackTimeout, int healthCheckInterval, int filePort,
             const std::wstring& fileDirectory) override;
  void Stop() override;
  bool IsStarted() override;
  void SetListener(QuellorListener* listener) override;
  void ClearListener() override;
  bool IsHailing() override;
  void SendData(const std::wstring& xml) override;
  std::shared_ptr<ClientApplicationList> GetApplications() override;

  void SetObserver(QuellorObserver* observer) override;
  void ClearObserver() override;
  std::vector<SendOutcome> SendDataEach(const std::wstring& xml) override;
  std::vector<ApplicationHealth> GetApplicationHealth() override;

 private:
  // The engine's extension; throws -999 for an engine without one.
  QuellorExtension& Extension();

  const std::unique_ptr<Quellor> engine_;
};

}  // namespace Client
}  // namespace Corvane
