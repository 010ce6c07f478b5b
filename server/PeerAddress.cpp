#include "server/PeerAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cstring>

namespace vorlen {

namespace {

using TAddress = std::array<uint8_t, 16>;

constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

bool IsMapped(const TAddress& address) {
  return std::memcmp(address.data(), kMappedPrefix, sizeof kMappedPrefix) == 0;
}

TAddress Mapped(const in_addr& v4) {
  TAddress address{};
  std::memcpy(address.data(), kMappedPrefix, sizeof kMappedPrefix);
  std::memcpy(address.data() + 12, &v4, 4);
  return address;
}

std::optional<TAddress> ParseAddress(std::string_view text) {
  const std::string copy(text);
  in_addr v4{};
  if (inet_pton(AF_INET, copy.c_str(), &v4) == 1) return Mapped(v4);
  in6_addr v6{};
  if (inet_pton(AF_INET6, copy.c_str(), &v6) == 1) {
    TAddress address{};
    std::memcpy(address.data(), &v6, 16);
    return address;
  }
  return std::nullopt;
}

std::optional<TAddress> SocketAddress(const sockaddr* address) {
  if (address == nullptr) return std::nullopt;
  if (address->sa_family == AF_INET) {
    return Mapped(reinterpret_cast<const sockaddr_in*>(address)->sin_addr);
  }
  if (address->sa_family == AF_INET6) {
    TAddress bytes{};
    std::memcpy(bytes.data(), &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, 16);
    return bytes;
  }
  return std::nullopt;
}

std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// An X-Forwarded-For entry: an address, "[IPv6]" or "[IPv6]:port", or "IPv4:port".
std::optional<TAddress> ParseForwarded(std::string_view entry) {
  if (entry.starts_with('[')) {
    const size_t close = entry.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return ParseAddress(entry.substr(1, close - 1));
  }
  if (std::count(entry.begin(), entry.end(), ':') == 1) entry = entry.substr(0, entry.find(':'));
  return ParseAddress(entry);
}

// Splits text at separator outside quoted strings; nullopt when a quote is left open.
std::optional<std::vector<std::string_view>> SplitOutsideQuotes(std::string_view text,
                                                                char separator) {
  std::vector<std::string_view> pieces;
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (quoted && text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      quoted = !quoted;
    } else if (!quoted && text[i] == separator) {
      pieces.push_back(Trimmed(text.substr(start, i - start)));
      start = i + 1;
    }
  }
  if (quoted) return std::nullopt;
  pieces.push_back(Trimmed(text.substr(start)));
  return pieces;
}

// The for= node of each element of Forwarded values, unquoted; nullopt when an element has none
// (or two) or a value is malformed.
std::optional<std::vector<std::string>> ForwardedNodes(const std::vector<std::string>& values) {
  std::vector<std::string> nodes;
  for (const std::string& value : values) {
    const auto elements = SplitOutsideQuotes(value, ',');
    if (!elements) return std::nullopt;
    for (std::string_view element : *elements) {
      const auto pairs = SplitOutsideQuotes(element, ';');
      if (!pairs) return std::nullopt;
      std::optional<std::string> node;
      for (std::string_view pair : *pairs) {
        const size_t equals = pair.find('=');
        if (equals == std::string_view::npos) return std::nullopt;
        if (strncasecmp(pair.data(), "for", 3) != 0 || equals != 3) continue;
        if (node) return std::nullopt;
        std::string_view raw = pair.substr(equals + 1);
        std::string text;
        if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') {
          raw = raw.substr(1, raw.size() - 2);
          for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 1 < raw.size()) ++i;
            text += raw[i];
          }
        } else {
          text = raw;
        }
        node = std::move(text);
      }
      if (!node) return std::nullopt;
      nodes.push_back(std::move(*node));
    }
  }
  return nodes;
}

// A node a proxy names without an address: "unknown", or an obfuscated "_name".
bool IsNodeName(std::string_view node) {
  if (node == "unknown") return true;
  if (node.size() < 2 || node.size() > 64 || node.front() != '_') return false;
  return std::all_of(node.begin(), node.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
  });
}

}  // namespace

bool TAddressRange::Contains(const TAddress& address) const {
  const int whole = Bits / 8, rest = Bits % 8;
  if (std::memcmp(Bytes.data(), address.data(), static_cast<size_t>(whole)) != 0) return false;
  if (rest == 0) return true;
  const auto mask = static_cast<uint8_t>(0xFF << (8 - rest));
  return (Bytes[whole] & mask) == (address[whole] & mask);
}

std::optional<TAddressRange> ParseAddressRange(std::string_view text) {
  const size_t slash = text.find('/');
  const std::optional<TAddress> address = ParseAddress(text.substr(0, slash));
  if (!address) return std::nullopt;
  TAddressRange range;
  range.Bytes = *address;
  const int most = IsMapped(*address) ? 32 : 128;
  int bits = most;
  if (slash != std::string_view::npos) {
    const std::string_view digits = text.substr(slash + 1);
    const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), bits);
    if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size() || bits < 0 ||
        bits > most) {
      return std::nullopt;
    }
  }
  range.Bits = bits + (128 - most);
  return range;
}

TPeerRules::TPeerRules(int ipv6PrefixBits, std::vector<TAddressRange> trustedProxies)
    : FIpv6PrefixBits(std::clamp(ipv6PrefixBits, 1, 128)),
      FTrustedProxies(std::move(trustedProxies)) {}

std::string TPeerRules::PeerOf(TAddress address) const {
  char text[INET6_ADDRSTRLEN] = "-";
  if (IsMapped(address)) {
    inet_ntop(AF_INET, address.data() + 12, text, sizeof text);
    return text;
  }
  TAddressRange network;
  network.Bits = FIpv6PrefixBits;
  for (int i = 0; i < 16; ++i) {
    const int bits = std::clamp(FIpv6PrefixBits - 8 * i, 0, 8);
    address[i] &= static_cast<uint8_t>(0xFF << (8 - bits));
  }
  inet_ntop(AF_INET6, address.data(), text, sizeof text);
  return FIpv6PrefixBits == 128 ? std::string(text)
                                : std::string(text) + "/" + std::to_string(FIpv6PrefixBits);
}

std::string TPeerRules::PeerOf(const sockaddr* address) const {
  const std::optional<TAddress> bytes = SocketAddress(address);
  return bytes ? PeerOf(*bytes) : std::string("-");
}

bool TPeerRules::IsTrusted(const TAddress& address) const {
  return std::any_of(FTrustedProxies.begin(), FTrustedProxies.end(),
                     [&](const TAddressRange& range) { return range.Contains(address); });
}

bool TPeerRules::IsTrustedProxy(const sockaddr* address) const {
  const std::optional<TAddress> bytes = SocketAddress(address);
  return bytes && IsTrusted(*bytes);
}

std::optional<std::string> TPeerRules::ForwardedPeer(const std::vector<std::string>& values,
                                                     bool standard) const {
  std::vector<std::string> entries;
  if (standard) {
    std::optional<std::vector<std::string>> nodes = ForwardedNodes(values);
    if (!nodes) return std::nullopt;
    entries = std::move(*nodes);
  } else {
    for (const std::string& value : values) {
      std::string_view rest = value;
      while (true) {
        const size_t comma = rest.find(',');
        entries.emplace_back(Trimmed(rest.substr(0, comma)));
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
      }
    }
  }
  // From the right: each hop appends whom it saw; the first one not ours is the client.
  std::optional<TAddress> address;
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    address = ParseForwarded(*entry);
    if (!address) {
      if (standard && IsNodeName(*entry)) return *entry;
      return std::nullopt;
    }
    if (!IsTrusted(*address)) break;
  }
  // Every hop ours: the first one is the client.
  return address ? std::optional<std::string>(PeerOf(*address)) : std::nullopt;
}

}  // namespace vorlen
