// Behaviour switches of the transport.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace vorlen {

enum class TSOAPInvokeOption : int {
  soNoValueForEmptySOAPAction = 0,  // empty action: "SOAPAction:" instead of `SOAPAction: ""`
  soIgnoreInvalidCerts = 1,         // https: no certificate or host-name checks
  soNoSOAPActionHeader = 2,         // send no SOAPAction header line
  soAutoCheckAccessPointViaUDDI =
      3,  // after 404/405/410 ask the registry once (needs key + registry)
};

class TSOAPInvokeOptions {
 public:
  constexpr TSOAPInvokeOptions() = default;
  constexpr TSOAPInvokeOptions(std::initializer_list<TSOAPInvokeOption> members) {
    for (TSOAPInvokeOption member : members) Include(member);
  }

  constexpr bool Contains(TSOAPInvokeOption member) const { return (FBits & Bit(member)) != 0; }
  constexpr void Include(TSOAPInvokeOption member) { FBits |= Bit(member); }
  constexpr void Exclude(TSOAPInvokeOption member) { FBits &= ~Bit(member); }
  constexpr bool operator==(const TSOAPInvokeOptions&) const = default;

 private:
  static constexpr uint32_t Bit(TSOAPInvokeOption member) {
    return uint32_t{1} << static_cast<int>(member);
  }
  uint32_t FBits = 0;
};

// What a transport starts with.
constexpr TSOAPInvokeOptions kDefaultInvokeOptions = {
    TSOAPInvokeOption::soIgnoreInvalidCerts, TSOAPInvokeOption::soAutoCheckAccessPointViaUDDI};

}  // namespace vorlen
