// The TCP byte stream to the emulated server's command port, through its real session
// (TcpSession::Feed with the standard TCP handler table, the diagnostic commands
// among them, and the monitor's reset, as a lab has): login request, answer, then
// commands and a firmware image. Input: chunks as [flags][length LE16][bytes], each fed
// as one receive. Flags bit 0 replaces the chunk by the correct login answer to the last
// challenge, as a client with the password sends it.
//
// Invariants: the stream is a stream (the same bytes fed at once give the same output
// and outcome as fed in pieces), and a closed session stays closed and silent.

#include <algorithm>
#include <vector>

#include "fuzz/devsim_common.hpp"
#include "protocol/frames.hpp"

namespace {

using namespace zelin;

const emulator::TcpDispatch& Dispatch() {
  static const emulator::TcpDispatch dispatch = [] {
    emulator::TcpDispatch d;
    emulator::UdpDispatch udp;  // the status query belongs to devsim_udp
    emulator::RegisterStandardTcpHandlers(d);
    emulator::RegisterMonitorHandlers(udp, d);
    return d;
  }();
  return dispatch;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const emulator::ServerSpec server = fuzz::LabServer();

  emulator::Device device(server, 1);
  emulator::TcpSession session(device, Dispatch());
  std::vector<uint8_t> out, stream;
  std::vector<emulator::TcpSession::Event> events;
  emulator::TcpAction action = emulator::TcpAction::kContinue;
  FuzzInput in(data, size);
  for (int n = 0; n < 64 && !in.empty() && action == emulator::TcpAction::kContinue; ++n) {
    const uint8_t flags = in.Byte();
    size_t length = in.Byte();
    length |= size_t{in.Byte()} << 8;
    size_t taken = 0;
    const uint8_t* bytes = in.Take(length, &taken);
    std::vector<uint8_t> chunk(bytes, bytes + taken);
    if ((flags & 1) != 0 && out.size() >= wire::kTcpChallengeSize) {
      const Bytes last(out.data() + out.size() - wire::kTcpChallengeSize, wire::kTcpChallengeSize);
      if (const auto nonce = frames::ParseTcpChallenge(last)) {
        const auto answer = frames::BuildTcpLoginAnswer(fuzz::kPassword, *nonce);
        chunk.assign(answer.begin(), answer.end());
      }
    }
    stream.insert(stream.end(), chunk.begin(), chunk.end());
    action = session.Feed(chunk, out, events);
  }
  if (action == emulator::TcpAction::kClose) {
    const size_t before = out.size();
    const uint8_t more[] = {wire::kTcpLoginRequest, wire::kTcpDownload, 0, 0, 0, 0};
    FUZZ_CHECK(session.Feed(Bytes(more, sizeof more), out, events) == emulator::TcpAction::kClose);
    FUZZ_CHECK(out.size() == before);
  }

  // The same bytes in one piece: a fresh server with the same seed hands out the same
  // challenge, so everything must come out the same.
  emulator::Device twin(server, 1);
  emulator::TcpSession whole(twin, Dispatch());
  std::vector<uint8_t> whole_out;
  std::vector<emulator::TcpSession::Event> whole_events;
  const emulator::TcpAction whole_action = whole.Feed(stream, whole_out, whole_events);
  FUZZ_CHECK(whole_action == action);
  FUZZ_CHECK(whole_out == out);
  return 0;
}
