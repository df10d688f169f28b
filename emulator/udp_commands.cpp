// The device side of discovery, locating, login and the configuration commands.
// Each handler sees a request whose framing, length, identity, sequence and digest
// the core has already checked, fills the reply payload and returns the status.
// Settings are written to the staged copy; SaveAndRestart applies them.

#include <algorithm>

#include "emulator/device.hpp"
#include "protocol/address.hpp"

namespace zelin::emulator {
namespace {

constexpr size_t kPayload = wire::kAuthHeaderSize;
constexpr uint8_t kStatusBadValue = 1;   // an error status: a value the device cannot take
constexpr uint8_t kStatusNotCarried = 2;  // an error status: the model has no such setting

DeviceSettings& Staged(UdpContext& ctx) {
  return ctx.device.mutable_state().staged;
}

bool SameRoute(const RouteEntry& a, const RouteEntry& b) {
  return a.gateway == b.gateway && a.destination == b.destination && a.netmask == b.netmask;
}

// Total, start and the window count of a table reply: entries of table index i
// travel in slot i, so a reply can carry the first 40 entries only.
struct Window {
  uint16_t total, start, count;
};
// The window a table request asks for in a table of `size` entries; its total and start
// are put in the reply (the count is left to the caller).
Window PutTableWindow(UdpContext& ctx, size_t size) {
  const uint16_t start = GetLe16(ctx.request, wire::kTableRequestStart);
  const size_t deliverable = std::min(size, wire::kTableSlotCount);
  const size_t count = start < deliverable ? deliverable - start : 0;
  const Window w{static_cast<uint16_t>(size), start, static_cast<uint16_t>(count)};
  PutLe16(ctx.reply, wire::kTableTotal, w.total);
  PutLe16(ctx.reply, wire::kTableStart, w.start);
  return w;
}

HandlerResult Search(UdpContext& ctx) {
  const Bytes d = ctx.request;
  for (size_t at = wire::kSearchSize; at + wire::kSearchExclusionSize <= d.size();
       at += wire::kSearchExclusionSize) {
    if (ctx.device.IsSelf(GetLe16(d, at), GetLe16(d, at + 2)))
      return HandlerResult::Ignore("excluded by the search");
  }
  const DeviceState& st = ctx.device.state();
  std::vector<uint8_t>& r = ctx.reply;
  PutIpv4(r, wire::kSrHostAddress, ctx.from.address);
  PutLe32(r, wire::kSrFirmware, st.firmware);
  r[wire::kSrFlags] = ctx.device.ReportedFlags(ctx.owners);
  r[wire::kSrPortCount] = st.port_count;
  std::copy(st.applied.name.begin(), st.applied.name.end(), r.begin() + wire::kSrName);
  std::copy(st.applied.port_kinds.begin(), st.applied.port_kinds.end(),
            r.begin() + wire::kSrPortKinds);
  PutIpv4(r, wire::kSrIpAddress, st.applied.ip);
  PutIpv4(r, wire::kSrNetmask, st.applied.netmask);
  return HandlerResult::Ok();
}

HandlerResult LocateOn(UdpContext& ctx) {
  ctx.device.mutable_state().locating = true;
  return HandlerResult::Ok();
}

HandlerResult LocateOff(UdpContext& ctx) {
  ctx.device.mutable_state().locating = false;
  return HandlerResult::Ok();
}

HandlerResult SetAddress(UdpContext& ctx) {
  const Ipv4 ip = GetIpv4(ctx.request, kPayload);
  if (!IsLoopback(ip))
    return HandlerResult::Status(kStatusBadValue, AddressToText(ip) + " is not a loopback address");
  Staged(ctx).ip = ip;
  Staged(ctx).netmask = GetIpv4(ctx.request, kPayload + 4);
  return HandlerResult::Ok();
}

HandlerResult SaveAndRestart(UdpContext& ctx) {
  ctx.restart_after_reply = true;
  return HandlerResult::Ok();
}

HandlerResult SetName(UdpContext& ctx) {
  auto& name = Staged(ctx).name;
  std::copy_n(ctx.request.begin() + kPayload, name.size(), name.begin());
  return HandlerResult::Ok();
}

HandlerResult SetPortKinds(UdpContext& ctx) {
  auto& kinds = Staged(ctx).port_kinds;
  std::copy_n(ctx.request.begin() + kPayload, kinds.size(), kinds.begin());
  return HandlerResult::Ok();
}

// The new password travels masked with MD5(current password, serial LE, time LE)
// and is proven by MD5(new password, serial LE, time BE).
HandlerResult SetPassword(UdpContext& ctx) {
  const Bytes d = ctx.request;
  const DeviceState& st = ctx.device.state();
  const Bytes time_le = d.subspan(wire::kPwTimeLe, 4);
  const Bytes time_be = d.subspan(wire::kPwTimeBe, 4);
  if (GetLe32(d, wire::kPwTimeLe) != GetBe32(d, wire::kPwTimeBe))
    return HandlerResult::Status(wire::kStatusRefused, "the two time stamps differ");
  std::array<uint8_t, 2> serial{};
  PutLe16(serial, 0, st.serial);
  const Md5Digest mask = Md5({AsBytes(st.applied.password), Bytes(serial), time_le});
  std::array<uint8_t, wire::kMaxPasswordLength> plain{};
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = d[wire::kPwMaskedNew + i] ^ mask[i];
  const size_t length =
      static_cast<size_t>(std::find(plain.begin(), plain.end(), 0) - plain.begin());
  if (std::any_of(plain.begin() + static_cast<std::ptrdiff_t>(length), plain.end(),
                  [](uint8_t b) { return b != 0; }))
    return HandlerResult::Status(wire::kStatusRefused, "new password does not unmask");
  const Bytes chars(plain.data(), length);
  const Md5Digest proof = Md5({chars, Bytes(serial), time_be});
  if (!std::equal(proof.begin(), proof.end(), d.begin() + wire::kPwNewDigest))
    return HandlerResult::Status(wire::kStatusRefused, "new password digest");
  Staged(ctx).password.assign(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(length));
  return HandlerResult::Ok();
}

// Metric 0xFFFF removes the route with the same gateway, destination and netmask;
// any other metric adds the route or changes the metric of that route.
HandlerResult AddRoute(UdpContext& ctx) {
  const RouteEntry e = GetRouteEntry(ctx.request, kPayload);
  auto& routes = Staged(ctx).routes;
  auto same = [&e](const RouteEntry& r) { return SameRoute(r, e); };
  if (e.metric == wire::kRouteEmptyMetric) {
    const auto removed = std::erase_if(routes, same);
    ctx.note = removed ? "route removed" : "no such route";
    return HandlerResult::Ok();
  }
  const auto it = std::find_if(routes.begin(), routes.end(), same);
  if (it != routes.end()) {
    it->metric = e.metric;
    ctx.note = "metric changed";
    return HandlerResult::Ok();
  }
  if (routes.size() >= kDeviceTableCapacity)
    return HandlerResult::Status(kStatusBadValue, "route table full");
  routes.push_back(e);
  return HandlerResult::Ok();
}

HandlerResult GetRoutes(UdpContext& ctx) {
  const auto& routes = Staged(ctx).routes;
  const Window w = PutTableWindow(ctx, routes.size());
  std::vector<uint8_t>& r = ctx.reply;
  PutLe16(r, wire::kTableCount, w.count);
  for (size_t i = 0; i < wire::kTableSlotCount; ++i) {
    RouteEntry e;
    e.metric = wire::kRouteEmptyMetric;
    if (i < routes.size()) e = routes[i];
    PutRouteEntry(r, wire::kTableSlots + wire::kRouteEntrySize * i, e);
  }
  return HandlerResult::Ok();
}

HandlerResult GetAccessList(UdpContext& ctx) {
  const auto& access = Staged(ctx).access;
  PutTableWindow(ctx, access.size());
  for (size_t i = 0; i < wire::kTableSlotCount && i < access.size(); ++i)
    PutAccessEntry(ctx.reply, wire::kTableSlots + wire::kAccessEntrySize * i, access[i]);
  return HandlerResult::Ok();
}

HandlerResult SetAccessList(UdpContext& ctx) {
  const Bytes d = ctx.request;
  const uint16_t total = GetLe16(d, wire::kSetAccessTotal);
  const uint16_t start = GetLe16(d, wire::kSetAccessStart);
  const uint16_t count = GetLe16(d, wire::kSetAccessCount);
  if (count != (d.size() - wire::kSetAccessListBaseSize) / wire::kAccessEntrySize)
    return HandlerResult::Ignore("entry count does not match the length");
  if (total > kDeviceTableCapacity)
    return HandlerResult::Status(kStatusBadValue, "access table holds 32 entries");
  if (size_t{start} + count > total)
    return HandlerResult::Status(kStatusBadValue, "window runs past the total");
  auto& access = Staged(ctx).access;
  if (start == 0) access.clear();
  access.resize(total);
  for (size_t i = 0; i < count; ++i)
    access[start + i] = GetAccessEntry(d, wire::kSetAccessListBaseSize + wire::kAccessEntrySize * i);
  // Bytes 18-21 of the reply (not read by clients): the total and the entries taken.
  PutLe16(ctx.reply, wire::kReplyPayload, total);
  PutLe16(ctx.reply, wire::kReplyPayload + 2, count);
  return HandlerResult::Ok();
}

HandlerResult CheckAddress(UdpContext& ctx) {
  const Ipv4 tested = GetIpv4(ctx.request, wire::kCheckAddressTested);
  PutIpv4(ctx.reply, wire::kReplyPayload, tested);
  if (const auto hw = ctx.owners.Owner(tested, ctx.device.state())) {
    std::copy(hw->begin(), hw->end(), ctx.reply.begin() + wire::kCheckHardwareAddress);
    ctx.note = AddressToText(tested) + " in use";
  }
  return HandlerResult::Ok();
}

HandlerResult Login(UdpContext&) {
  return HandlerResult::Ok();
}

HandlerResult Dhcp(UdpContext& ctx) {
  const DeviceState& st = ctx.device.state();
  if (!CarriesDhcpSetting(st.type, st.firmware))
    return HandlerResult::Status(kStatusNotCarried, "this model and firmware have no DHCP setting");
  const uint8_t value = ctx.request[wire::kDhcpSetting];
  if (value != wire::kDhcpQuery) {
    if (value > 1) return HandlerResult::Status(kStatusBadValue, "DHCP setting is 0 or 1");
    Staged(ctx).dhcp = value;
  }
  ctx.reply[wire::kDhcpReplySetting] = Staged(ctx).dhcp;
  return HandlerResult::Ok();
}

}  // namespace

void RegisterStandardUdpHandlers(UdpDispatch& t) {
  using enum FrameKind;
  t.Register({wire::kSearch, kSearch, wire::kSearchSize, wire::kSearchExclusionSize,
              wire::kSearchReplySize, Search});
  t.Register({wire::kLocateOn, kShort, wire::kShortRequestSize, 0, wire::kAckReplySize, LocateOn});
  t.Register(
      {wire::kLocateOff, kShort, wire::kShortRequestSize, 0, wire::kAckReplySize, LocateOff});
  t.Register({wire::kSetAddress, kAuthenticated, wire::kSetAddressSize, 0, wire::kAckReplySize,
              SetAddress});
  t.Register({wire::kSaveAndRestart, kAuthenticated, wire::kSaveAndRestartSize, 0,
              wire::kAckReplySize, SaveAndRestart});
  t.Register({wire::kSetName, kAuthenticated, wire::kSetNameSize, 0, wire::kAckReplySize, SetName});
  t.Register({wire::kSetPortKinds, kAuthenticated, wire::kSetPortKindsSize, 0, wire::kAckReplySize,
              SetPortKinds});
  t.Register({wire::kSetPassword, kAuthenticated, wire::kSetPasswordSize, 0, wire::kAckReplySize,
              SetPassword});
  t.Register(
      {wire::kAddRoute, kAuthenticated, wire::kAddRouteSize, 0, wire::kAckReplySize, AddRoute});
  t.Register({wire::kGetRoutes, kAuthenticated, wire::kGetRoutesSize, 0, wire::kGetRoutesReplySize,
              GetRoutes});
  t.Register({wire::kGetAccessList, kAuthenticated, wire::kGetAccessListSize, 0,
              wire::kGetAccessListReplySize, GetAccessList});
  t.Register({wire::kSetAccessList, kAuthenticated, wire::kSetAccessListBaseSize,
              wire::kAccessEntrySize, wire::kSetAccessListReplySize, SetAccessList});
  t.Register({wire::kCheckAddress, kAuthenticated, wire::kCheckAddressSize, 0,
              wire::kCheckAddressReplySize, CheckAddress});
  t.Register({wire::kLogin, kAuthenticated, wire::kLoginSize, 0, wire::kLoginReplySize, Login});
  t.Register({wire::kDhcp, kAuthenticated, wire::kDhcpSize, 0, wire::kDhcpReplySize, Dhcp});
}

}  // namespace zelin::emulator
