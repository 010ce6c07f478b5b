// Who a request comes from, as the per-peer bounds count it: an IPv4 address, an IPv6 network of
// a configurable prefix (one host owns a /64 and picks addresses in it freely), and behind a
// trusted reverse proxy the client that its X-Forwarded-For or Forwarded header names.
#pragma once

#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen {

// An address and how many of its leading bits count; IPv4 is held as IPv4-mapped IPv6.
struct TAddressRange {
  std::array<uint8_t, 16> Bytes{};
  int Bits = 128;

  bool Contains(const std::array<uint8_t, 16>& address) const;
};

// "192.0.2.1", "192.0.2.0/24", "2001:db8::1", "2001:db8::/32"; nullopt for anything else.
std::optional<TAddressRange> ParseAddressRange(std::string_view text);

class TPeerRules {
 public:
  TPeerRules(int ipv6PrefixBits, std::vector<TAddressRange> trustedProxies);

  // The peer of a socket address: the IPv4 address, or the IPv6 network ("2001:db8:1:2::/64").
  std::string PeerOf(const sockaddr* address) const;
  bool IsTrustedProxy(const sockaddr* address) const;
  // The peer that X-Forwarded-For values (each a comma-separated list, in header order) name:
  // the rightmost entry that is not a trusted proxy, as the last trusted hop saw it (the first
  // entry when all are trusted). Nullopt when there is none, or when an entry read on the way
  // is not an address (a proxy wrote rubbish). With standard set the values are Forwarded
  // headers, read the same way through the for= of each element; there a proxy may name the
  // client "unknown" or by an obfuscated "_name", which is then the peer.
  std::optional<std::string> ForwardedPeer(const std::vector<std::string>& values,
                                           bool standard = false) const;

 private:
  std::string PeerOf(std::array<uint8_t, 16> address) const;
  bool IsTrusted(const std::array<uint8_t, 16>& address) const;

  int FIpv6PrefixBits;
  std::vector<TAddressRange> FTrustedProxies;
};

}  // namespace vorlen
