// The device side of the port status monitor's commands: the port status query
// (UDP 0x70, answered with the status blocks of up to four ports) and the reset
// command on a logged-in TCP session (restart the server, or reset one port).

#include "emulator/device.hpp"

namespace zelin::emulator {
namespace {

// The request's four port indexes are echoed; every place up to the last one naming
// a port of this server carries a block, a place naming no port of it is echoed as
// unused with a zero block. The request carries no digest and device type 0 names
// any model, so that a client that never saw the server's search reply is answered.
HandlerResult QueryPorts(UdpContext& ctx) {
  const DeviceState& st = ctx.device.state();
  const PortTrafficSpec& settings = st.port_status;
  if (settings.silent) return HandlerResult::Ignore("port status silent");
  if (st.faults.refuse) return HandlerResult::Status(wire::kStatusRefused, "refuse fault");
  std::array<uint8_t, wire::kQueryPlaceCount> places{};
  size_t used = 0;
  for (size_t k = 0; k < places.size(); ++k) {
    const uint8_t port = ctx.request[wire::kQueryPortsPlaces + k];
    places[k] = port < st.port_count ? port : wire::kQueryPlaceUnused;
    if (places[k] != wire::kQueryPlaceUnused) used = k + 1;
  }
  std::vector<uint8_t>& r = ctx.reply;
  r.assign(wire::kQueryReplyBlocks + used * settings.block_size, 0);
  std::copy(places.begin(), places.end(), r.begin() + wire::kQueryReplyPlaces);
  for (size_t k = 0; k < used; ++k) {
    if (places[k] == wire::kQueryPlaceUnused) continue;
    WritePortStatus(settings, st.traffic, places[k], r, wire::kQueryReplyBlocks + k * settings.block_size);
  }
  ctx.note = std::to_string(used) + " blocks of " + std::to_string(settings.block_size);
  return HandlerResult::Ok();
}

// 0x02 + target: 0 restarts the server (after the answer), n resets port n (from 1).
// A target beyond the server's ports is answered 02 00. A server whose lab says so
// closes the connection without acknowledging.
TcpAction Reset(TcpContext& ctx) {
  DeviceState& st = ctx.device.mutable_state();
  const uint8_t target = ctx.request[1];
  bool done = true;
  if (target == 0) {
    ctx.session.RequestRestart();
    ctx.verdict = "restart";
  } else if (target <= st.port_count) {
    st.traffic.reset_ms[target - 1u] = st.traffic.now_ms;
    ++st.traffic.port_resets[target - 1u];
    ctx.verdict = "port " + std::to_string(target) + " reset";
  } else {
    done = false;
    ctx.verdict = "no port " + std::to_string(target);
  }
  if (done && !st.port_status.reset_ack) {
    ctx.verdict += ", not acknowledged";
    return TcpAction::kClose;
  }
  ctx.out.push_back(wire::kTcpReset);
  ctx.out.push_back(done ? wire::kTcpResetDone : uint8_t{0x00});
  return TcpAction::kContinue;
}

}  // namespace

void RegisterMonitorHandlers(UdpDispatch& udp, TcpDispatch& tcp) {
  udp.Register({wire::kQueryPorts, FrameKind::kUnsigned, wire::kQueryPortsSize, 0,
                wire::kQueryReplyBlocks, QueryPorts, /*any_model=*/true});
  tcp.Register({wire::kTcpReset, wire::kTcpResetRequestSize, Reset});
}

}  // namespace zelin::emulator
