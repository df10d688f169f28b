#include "protocol/address_search.hpp"

#include "protocol/exchange.hpp"
#include "protocol/wire.hpp"

namespace zelin {

Ipv4 NextCandidateAddress(Ipv4 address, AfterLastHost after_254) {
  auto o = Ipv4Octets(address);
  if (o[3] == 254)
    o[3] = after_254 == AfterLastHost::kFirstHost ? 1 : 0;
  else
    o[3] = static_cast<uint8_t>(o[3] + 1);  // 255 + 1 wraps to 0
  return Ipv4FromOctets(o[0], o[1], o[2], o[3]);
}

FreeAddressResult SearchFreeAddress(Transport& t, ServerRecord& record, int tries,
                                    int timeout_seconds, AfterLastHost after_254,
                                    const std::function<bool(Ipv4)>& taken) {
  for (int n = 0; n < tries; ++n) {
    if (n > 0) record.set_ip_address(NextCandidateAddress(record.ip_address(), after_254));
    if (!Command(t, record, wire::kCheckAddress, timeout_seconds))
      return FreeAddressResult::kCommandFailed;
    if ((record.flags() & wire::kFlagAddressConflict) == 0 && !taken(record.ip_address()))
      return FreeAddressResult::kFound;
  }
  return FreeAddressResult::kNoneFree;
}

}  // namespace zelin
