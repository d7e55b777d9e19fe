// Which interfaces a round of hails goes through and what each HAIL
// announces, and whom the site's access lists let in, on made-up machines.
#include "engine/HailInterfaces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "connection/AccessPolicy.h"
#include "engine/ConnectionRegistry.h"
#include "logging/ReportLimiter.h"
#include "support/LoggingTestSupport.h"

namespace Corvane {
namespace Client {
namespace {

using Platform::NetworkInterface;

const NetworkInterface kLoopback{"lo", "127.0.0.1", true, false, true};
const NetworkInterface kWired{"eth0", "192.168.10.5", true, true, false};
const NetworkInterface kWifi{"wlan0", "10.1.2.3", true, true, false};
const NetworkInterface kDown{"eth1", "172.16.0.9", false, true, false};

std::vector<HailTarget> Choose(const std::string& setting,
                               const std::vector<NetworkInterface>& interfaces,
                               std::vector<std::string>* missing = nullptr) {
  std::vector<std::string> ignored;
  return HailInterfaces::Parse(setting).Choose(interfaces, "127.0.1.1", "228.11.11.11", 45599,
                                               missing ? *missing : ignored);
}

TEST(HailInterfacesTest, AnnouncedAddressIsNeverLoopbackWhileAnotherExists) {
  const std::vector<NetworkInterface> machine{kLoopback, kDown, kWired};
  // The host name's own address wins when peers can reach it.
  EXPECT_EQ("10.9.9.9", HailInterfaces::AnnouncedAddress(machine, "10.9.9.9", "192.168.10.5"));
  // A loopback host name (Debian's 127.0.1.1): the group's source address.
  EXPECT_EQ("192.168.10.5", HailInterfaces::AnnouncedAddress(machine, "127.0.1.1", "192.168.10.5"));
  // No host address and a loopback route: the first interface that is up.
  EXPECT_EQ("192.168.10.5", HailInterfaces::AnnouncedAddress(machine, "0.0.0.0", "127.0.0.1"));
  EXPECT_EQ("192.168.10.5", HailInterfaces::AnnouncedAddress(machine, "", ""));
  // Only loopback on the machine: loopback it is.
  EXPECT_EQ("127.0.0.1", HailInterfaces::AnnouncedAddress({kLoopback}, "127.0.1.1", "127.0.0.1"));
  EXPECT_EQ("0.0.0.0", HailInterfaces::AnnouncedAddress({}, "", ""));
}

TEST(HailInterfacesTest, AllChoosesEveryInterfaceUpWithMulticastAndLoopbackOnlyAlone) {
  const auto targets = Choose(" ALL ", {kLoopback, kWired, kDown, kWifi});
  ASSERT_EQ(2u, targets.size());
  EXPECT_EQ((HailTarget{"192.168.10.5", "192.168.10.5"}), targets[0]);
  EXPECT_EQ((HailTarget{"10.1.2.3", "10.1.2.3"}), targets[1]);

  const auto alone = Choose("all", {kLoopback, kDown});
  ASSERT_EQ(1u, alone.size());
  EXPECT_EQ("127.0.0.1", alone[0].outboundInterface);
}

TEST(HailInterfacesTest, AListMatchesNamesAndAddressesAndReportsTheMissing) {
  std::vector<std::string> missing;
  const auto targets =
      Choose("wlan0, 192.168.10.5, eth1, nosuch, wlan0", {kLoopback, kWired, kDown, kWifi}, &missing);
  ASSERT_EQ(2u, targets.size());
  EXPECT_EQ("10.1.2.3", targets[0].announcedAddress);
  EXPECT_EQ("192.168.10.5", targets[1].announcedAddress);
  EXPECT_EQ((std::vector<std::string>{"eth1", "nosuch"}), missing);
  // Nothing but blanks and commas is no list: the system's way.
  EXPECT_EQ(HailInterfaces::Mode::kSystem, HailInterfaces::Parse(" , ,").GetMode());
  EXPECT_EQ(HailInterfaces::Mode::kSystem, HailInterfaces::Parse("").GetMode());
}

TEST(AccessPolicyTest, NetworksInCidrFormAdmitOnlyTheirAddresses) {
  AccessPolicy policy;
  std::wstring error;
  ASSERT_TRUE(AccessPolicy::Parse(" 192.168.10.0/24,10.1.2.3/32 , 172.16.5.9", L"", policy, error));
  EXPECT_TRUE(policy.AllowsAddress("192.168.10.255"));
  EXPECT_TRUE(policy.AllowsAddress("10.1.2.3"));
  EXPECT_TRUE(policy.AllowsAddress("172.16.5.9"));
  EXPECT_FALSE(policy.AllowsAddress("192.168.11.1"));
  EXPECT_FALSE(policy.AllowsAddress("10.1.2.4"));
  EXPECT_FALSE(policy.AllowsAddress("not an address"));
  EXPECT_TRUE(policy.AllowsApplication(L"anyone"));

  ASSERT_TRUE(AccessPolicy::Parse("0.0.0.0/0", L"app-1, App-2", policy, error));
  EXPECT_TRUE(policy.AllowsAddress("203.0.113.9"));
  EXPECT_TRUE(policy.AllowsApplication(L"App-2"));
  EXPECT_FALSE(policy.AllowsApplication(L"app-2"));  // exact, case as received

  EXPECT_TRUE(AccessPolicy().AllowsAddress("203.0.113.9"));
}

TEST(AccessPolicyTest, AMalformedEntryIsRefusedByName) {
  for (const char* entry : {"10.0.0.0/33", "10.0.0/8", "office", "10.0.0.0/", "10.0.0.0/-1",
                            "10.0.0.0/8/8", "300.1.1.1"}) {
    AccessPolicy policy;
    std::wstring error;
    EXPECT_FALSE(AccessPolicy::Parse(std::string("10.1.0.0/16, ") + entry, L"", policy, error))
        << entry;
    EXPECT_NE(std::wstring::npos, error.find(std::wstring(entry, entry + std::strlen(entry))))
        << entry;
  }
}

TEST(AccessPolicyTest, RefusalsAreCountedAndLoggedOncePerAddressAndInterval) {
  Testing::LogCapture log("WARN");
  ConnectionRegistry registry;
  AccessPolicy policy;
  std::wstring error;
  ASSERT_TRUE(AccessPolicy::Parse("10.0.0.0/8", L"", policy, error));
  registry.SetAccess(std::make_shared<AccessPolicy>(policy));
  for (int i = 0; i < 2000; ++i) EXPECT_FALSE(registry.Admits("203.0.113.9"));
  EXPECT_FALSE(registry.Admits("203.0.113.10"));
  EXPECT_TRUE(registry.Admits("10.20.30.40"));
  EXPECT_EQ(2001u, registry.GetRefusedCount());
  EXPECT_EQ(1, log.CountExactly(L"Connection from 203.0.113.9 refused: not in AllowedNetworks"));
  EXPECT_EQ(1, log.CountExactly(L"Connection from 203.0.113.10 refused: not in AllowedNetworks"));
}

// A storm of failed handshakes from one address: three reports a second,
// the rest counted for one summary; other addresses are not held back.
TEST(ReportLimiterTest, AFewReportsPerKeyAndWindowThenACount) {
  using Logging::ReportLimiter;
  using Verdict = ReportLimiter::Verdict;
  ReportLimiter limiter(3, std::chrono::seconds(1));
  const auto start = ReportLimiter::Clock::now();
  std::vector<Verdict> verdicts;
  for (int i = 0; i < 2000; ++i) verdicts.push_back(limiter.Note("203.0.113.9", start));
  EXPECT_EQ(3, std::count(verdicts.begin(), verdicts.end(), Verdict::kReport));
  EXPECT_EQ(Verdict::kSuppressFirst, verdicts[3]);
  EXPECT_EQ(1997, std::count(verdicts.begin() + 3, verdicts.end(), Verdict::kSuppress) + 1);
  EXPECT_EQ(Verdict::kReport, limiter.Note("203.0.113.10", start));

  EXPECT_EQ(1997, limiter.TakeSuppressed("203.0.113.9"));
  EXPECT_EQ(0, limiter.TakeSuppressed("203.0.113.9"));
  // The next second reports again.
  EXPECT_EQ(Verdict::kReport, limiter.Note("203.0.113.9", start + std::chrono::seconds(1)));
}

// Once per interval per key, as the refusal lines use it; a flood from many
// addresses whose counts nobody takes is forgotten a window after it closed,
// so the limiter stays bounded, while a count still due is kept until then.
TEST(ReportLimiterTest, OncePerIntervalAndForgetsWhatNobodySummarises) {
  using Logging::ReportLimiter;
  using Verdict = ReportLimiter::Verdict;
  const auto minute = std::chrono::minutes(1);
  ReportLimiter limiter(1, minute);
  const auto start = ReportLimiter::Clock::now();
  for (int i = 0; i < 3000; ++i) {
    const std::string address = "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256);
    EXPECT_EQ(Verdict::kReport, limiter.Note(address, start));
    EXPECT_EQ(Verdict::kSuppressFirst, limiter.Note(address, start + minute / 2));
  }
  // One window later the counts are still there for a summary...
  limiter.Note("192.0.2.1", start + minute + std::chrono::seconds(1));
  EXPECT_EQ(1, limiter.TakeSuppressed("10.0.0.1"));
  // ...and two windows later what nobody took is gone.
  const auto later = start + 2 * minute + std::chrono::seconds(1);
  limiter.Note("192.0.2.2", later);
  EXPECT_EQ(0, limiter.TakeSuppressed("10.0.0.2"));
  EXPECT_EQ(Verdict::kReport, limiter.Note("10.0.0.2", later));
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
