#include "server/ServiceOptions.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <optional>

#include "server/PeerAddress.h"

namespace vorlen {
namespace {

TEST(ServiceOptions, DefaultsAndEveryOption) {
  const TServiceOptions defaults = ParseServiceOptions({});
  EXPECT_EQ(defaults.Host, "127.0.0.1");
  EXPECT_EQ(defaults.Port, 8080);
  EXPECT_EQ(defaults.Root, "./vorlen-inbox");
  EXPECT_EQ(defaults.MaxBody, 8388608);
  EXPECT_EQ(defaults.MaxSessions, 10000);
  EXPECT_EQ(defaults.KeepAliveSeconds, 2);
  EXPECT_FALSE(defaults.Help);

  const TServiceOptions options =
      ParseServiceOptions({"--host", "::1", "--port=0", "--root", "/srv/in", "--max-body", "64K",
                           "--max-parts=10", "--max-delivered", "3M", "--threads", "2",
                           "--timeout=5", "--max-sessions", "7", "--keep-alive=3", "--help"});
  EXPECT_EQ(options.Host, "::1");
  EXPECT_EQ(options.Port, 0);
  EXPECT_EQ(options.Root, "/srv/in");
  EXPECT_EQ(options.MaxBody, 65536);
  EXPECT_EQ(options.MaxParts, 10);
  EXPECT_EQ(options.MaxDelivered, 3145728);
  EXPECT_EQ(options.Threads, 2);
  EXPECT_EQ(options.TimeoutSeconds, 5);
  EXPECT_EQ(options.MaxSessions, 7);
  EXPECT_EQ(options.KeepAliveSeconds, 3);
  EXPECT_TRUE(options.Help);
  EXPECT_EQ(ParseServiceOptions({"--max-delivered", "1g"}).MaxDelivered, 1073741824);
}

TEST(ServiceOptions, StorageBoundsReachTheLimits) {
  const TServiceLimits defaults = ServiceLimitsOf(ParseServiceOptions({}));
  EXPECT_EQ(defaults.SessionIdle, std::chrono::hours(24));
  EXPECT_EQ(defaults.EmptySessionIdle, std::chrono::minutes(15));
  EXPECT_EQ(defaults.PeerSessionsPerMinute, 600);
  EXPECT_EQ(defaults.MaxPeerSessions, 64);
  EXPECT_EQ(defaults.MaxRootBytes, 68719476736);
  EXPECT_EQ(defaults.MinFreeBytes, 536870912);
  EXPECT_EQ(defaults.MaxUnzipFiles, 1000);
  EXPECT_EQ(defaults.MaxUnzipRatio, 200);

  const TServiceLimits limits = ServiceLimitsOf(ParseServiceOptions(
      {"--session-idle", "90m", "--empty-session-idle=2m", "--session-rate=30",
       "--max-peer-sessions=4", "--max-storage", "10G", "--min-free", "0", "--max-unzip-files", "5",
       "--max-unzip-ratio", "50", "--max-sessions", "9"}));
  EXPECT_EQ(limits.SessionIdle, std::chrono::minutes(90));
  EXPECT_EQ(limits.EmptySessionIdle, std::chrono::minutes(2));
  EXPECT_EQ(limits.PeerSessionsPerMinute, 30);
  EXPECT_EQ(limits.MaxPeerSessions, 4);
  EXPECT_EQ(limits.MaxRootBytes, 10737418240);
  EXPECT_EQ(limits.MinFreeBytes, 0);
  EXPECT_EQ(limits.MaxUnzipFiles, 5);
  EXPECT_EQ(limits.MaxUnzipRatio, 50);
  EXPECT_EQ(limits.MaxSessions, 9);
  EXPECT_EQ(ParseServiceOptions({"--session-idle=45"}).SessionIdleSeconds, 45);
  EXPECT_EQ(ParseServiceOptions({"--session-idle=2d"}).SessionIdleSeconds, 172800);
}

TEST(ServiceOptions, BadUsageNamesTheOption) {
  auto message = [](std::vector<std::string> args) {
    try {
      ParseServiceOptions(args);
    } catch (const EServiceUsage& e) {
      return e.Message();
    }
    return std::string("no error");
  };
  EXPECT_EQ(message({"--verbose"}), "unknown option '--verbose'");
  EXPECT_EQ(message({"--port"}), "--port needs a value");
  EXPECT_EQ(message({"--port", "80x"}), "--port: '80x' is not a number");
  EXPECT_EQ(message({"--port", "65536"}), "--port: 65536 is out of range (0 to 65535)");
  EXPECT_EQ(message({"--port", "-1"}), "--port: -1 is out of range (0 to 65535)");
  EXPECT_EQ(message({"--max-body", "9999999999G"}),
            "--max-body: 9999999999G is out of range (4096 to 1073741824)");
  EXPECT_EQ(message({"--max-body", "M"}), "--max-body: 'M' is not a number");
  EXPECT_EQ(message({"--root", ""}), "--root: empty directory");
  EXPECT_EQ(message({"--help=yes"}), "--help takes no value");
  EXPECT_EQ(message({"--threads", "0"}), "--threads: 0 is out of range (1 to 256)");
  EXPECT_EQ(message({"--max-sessions", "0"}), "--max-sessions: 0 is out of range (1 to 16777216)");
  EXPECT_EQ(message({"--keep-alive", "0"}), "--keep-alive: 0 is out of range (1 to 300)");
  EXPECT_EQ(message({"--session-idle", "2w"}), "--session-idle: '2w' is not a duration");
  EXPECT_EQ(message({"--session-idle", "h"}), "--session-idle: 'h' is not a duration");
  EXPECT_EQ(message({"--session-idle", "367d"}),
            "--session-idle: 367d is out of range (1s to 366d)");
}

}  // namespace
}  // namespace vorlen

namespace vorlen {
namespace {

TEST(ServicePeers, IPv6NetworksAndForwardedClientsAreOnePeer) {
  const TServiceOptions options = ParseServiceOptions(
      {"--trusted-proxy", "127.0.0.1,10.0.0.0/8", "--trusted-proxy=fd00::/8", "--ipv6-prefix",
       "56", "--max-connections", "64"});
  EXPECT_EQ(options.TrustedProxies,
            (std::vector<std::string>{"127.0.0.1", "10.0.0.0/8", "fd00::/8"}));
  EXPECT_EQ(options.Ipv6Prefix, 56);
  EXPECT_EQ(PerPeerConnections(options), 6);
  EXPECT_EQ(PerPeerConnections(ParseServiceOptions({})), 25);
  EXPECT_EQ(PerPeerConnections(ParseServiceOptions({"--per-address", "3"})), 3);
  for (const char* bad : {"10.0.0.0/33", "example.org", "1.2.3.4/", ""}) {
    EXPECT_THROW(ParseServiceOptions({"--trusted-proxy", bad}), EServiceUsage) << bad;
  }
  EXPECT_THROW(ParseServiceOptions({"--ipv6-prefix", "129"}), EServiceUsage);

  std::vector<TAddressRange> trusted;
  for (const std::string& text : options.TrustedProxies) trusted.push_back(*ParseAddressRange(text));
  const TPeerRules rules(64, trusted);
  const auto peerOf = [&](const char* text) {
    sockaddr_in6 v6{};
    sockaddr_in v4{};
    if (inet_pton(AF_INET, text, &v4.sin_addr) == 1) {
      v4.sin_family = AF_INET;
      return rules.PeerOf(reinterpret_cast<sockaddr*>(&v4));
    }
    v6.sin6_family = AF_INET6;
    EXPECT_EQ(inet_pton(AF_INET6, text, &v6.sin6_addr), 1) << text;
    return rules.PeerOf(reinterpret_cast<sockaddr*>(&v6));
  };
  EXPECT_EQ(peerOf("192.0.2.7"), "192.0.2.7");
  EXPECT_EQ(peerOf("::ffff:192.0.2.7"), "192.0.2.7");
  EXPECT_EQ(peerOf("2001:db8:1:2:aaaa::1"), "2001:db8:1:2::/64");
  EXPECT_EQ(peerOf("2001:db8:1:2:ffff:1:2:3"), "2001:db8:1:2::/64");
  EXPECT_EQ(peerOf("2001:db8:1:3::1"), "2001:db8:1:3::/64");

  using TFound = std::optional<std::string>;
  // The rightmost hop that is not a trusted proxy; what a client wrote to its left is ignored.
  EXPECT_EQ(rules.ForwardedPeer({"203.0.113.7"}), TFound("203.0.113.7"));
  EXPECT_EQ(rules.ForwardedPeer({"1.1.1.1, 203.0.113.7 , 10.1.2.3"}), TFound("203.0.113.7"));
  EXPECT_EQ(rules.ForwardedPeer({"1.1.1.1", "203.0.113.7:5000"}), TFound("203.0.113.7"));
  EXPECT_EQ(rules.ForwardedPeer({"rubbish, [2001:db8::5]:443"}), TFound("2001:db8::/64"));
  EXPECT_EQ(rules.ForwardedPeer({"10.9.9.9, 127.0.0.1"}), TFound("10.9.9.9"));
  EXPECT_EQ(rules.ForwardedPeer({"203.0.113.7, rubbish"}), std::nullopt);
  EXPECT_EQ(rules.ForwardedPeer({"203.0.113.7,"}), std::nullopt);
  EXPECT_EQ(rules.ForwardedPeer({}), std::nullopt);

  // The standard header, through the for= of each element, quoted or not, in any letter case.
  EXPECT_FALSE(options.StandardForwarded);
  EXPECT_TRUE(ParseServiceOptions({"--forwarded-header", "forwarded"}).StandardForwarded);
  EXPECT_THROW(ParseServiceOptions({"--forwarded-header", "X-Real-IP"}), EServiceUsage);
  const auto standard = [&](std::vector<std::string> values) {
    return rules.ForwardedPeer(values, true);
  };
  EXPECT_EQ(standard({"for=203.0.113.7"}), TFound("203.0.113.7"));
  EXPECT_EQ(standard({"For=1.1.1.1;proto=https, for=203.0.113.7;by=\"10.1.2.3\", for=10.1.2.3"}),
            TFound("203.0.113.7"));
  EXPECT_EQ(standard({"for=1.1.1.1", "by=x;for=\"[2001:db8::5]:4711\";proto=http"}),
            TFound("2001:db8::/64"));
  EXPECT_EQ(standard({"for=\"203.0.113.7:80\", for=127.0.0.1"}), TFound("203.0.113.7"));
  EXPECT_EQ(standard({"for=unknown"}), TFound("unknown"));
  EXPECT_EQ(standard({"for=1.1.1.1, for=_hidden-7"}), TFound("_hidden-7"));
  // A comma inside quotes is no element's end; an element without for=, two of them, a quote
  // left open or an address the header cannot hold are rubbish.
  EXPECT_EQ(standard({"for=203.0.113.7;ext=\"a, b\""}), TFound("203.0.113.7"));
  for (const char* bad : {"proto=http", "for=1.1.1.1;for=2.2.2.2", "for=\"1.1.1.1", "for=x y",
                          "for=203.0.113.7, for=_", "203.0.113.7", "for=1.1.1.1,"}) {
    EXPECT_EQ(standard({bad}), std::nullopt) << bad;
  }
  // X-Forwarded-For's syntax is no Forwarded header.
  EXPECT_EQ(rules.ForwardedPeer({"for=203.0.113.7"}), std::nullopt);
}

}  // namespace
}  // namespace vorlen
