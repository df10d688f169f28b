// Datagrams to the emulated server, through its real dispatch (Device::HandleDatagram
// with the standard UDP handler table and the monitor's status query, as a lab has).
// Input: a sequence of datagrams, each as [flags][length LE16][bytes]. Flags bit 0
// signs an authenticated request as a client would (digest over the password and the
// nonce of the last reply, the server's type and serial); bit 1 puts the harness's
// running sequence number in; bit 2 sends it from a second client.
//
// Invariants: an answer is at least a reply header and carries the request's code
// with the reply bit.

#include <algorithm>
#include <vector>

#include "fuzz/devsim_common.hpp"
#include "protocol/frames.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelin;
  static const emulator::ServerSpec server = fuzz::LabServer();
  static const emulator::UdpDispatch dispatch = [] {
    emulator::UdpDispatch d;
    emulator::TcpDispatch tcp;  // the monitor's TCP command belongs to devsim_tcp
    emulator::RegisterStandardUdpHandlers(d);
    emulator::RegisterMonitorHandlers(d, tcp);
    return d;
  }();
  static const fuzz::NoOwners owners;

  emulator::Device device(server, 1);
  FuzzInput in(data, size);
  frames::Nonce nonce{};
  uint16_t sequence = 1;
  for (int n = 0; n < 64 && !in.empty(); ++n) {
    const uint8_t flags = in.Byte();
    size_t length = in.Byte();
    length |= size_t{in.Byte()} << 8;
    size_t taken = 0;
    const uint8_t* bytes = in.Take(std::min<size_t>(length, 4096), &taken);
    std::vector<uint8_t> d(bytes, bytes + taken);
    if ((flags & 2) != 0 && d.size() >= 6) PutLe16(d, wire::kOffSequence, sequence);
    if ((flags & 1) != 0 && d.size() >= wire::kAuthHeaderSize) {
      const Md5Digest digest = frames::RequestDigest(fuzz::kPassword, nonce);
      std::copy(digest.begin(), digest.end(), d.begin() + wire::kAuthDigest);
      PutLe16(d, wire::kAuthDeviceType, fuzz::kType);
      PutLe16(d, wire::kAuthSerial, fuzz::kSerial);
    }
    const emulator::Endpoint from{Ipv4FromOctets(127, 0, 0, 1),
                                  static_cast<uint16_t>((flags & 4) != 0 ? 1030 : 1028)};
    const emulator::UdpOutcome o = device.HandleDatagram(d, from, dispatch, owners);
    if (o.reply.empty()) continue;
    FUZZ_CHECK(!d.empty() && o.reply.size() >= wire::kReplyHeaderSize);
    FUZZ_CHECK(o.reply[wire::kOffCode] == (d[0] | wire::kReplyBit));
    nonce = frames::ReplyNonce(o.reply);
    if (o.status == wire::kStatusOk) ++sequence;
    if (o.restart_after_reply) {  // the server goes silent until the lab rebinds it
      device.BeginRestart(true);
      break;
    }
  }
  return 0;
}
