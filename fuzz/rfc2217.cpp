// The Telnet codec with the Com Port Control option (TelnetCodec::Receive) in both
// roles. Input: a flags byte (bit 0: server role; bits 1..7: the size - 1 of the pieces
// a second codec is fed), then the byte stream from the peer.
//
// Invariants: no more payload out than bytes in; the same stream in pieces gives the
// same payload, commands and answers; the payload escaped again and the commands
// encoded again in the peer's role parse back to the same payload and commands.

#include <vector>

#include "fuzz/fuzz_check.hpp"
#include "protocol/rfc2217.hpp"

namespace {

using namespace zelin::rfc2217;

struct Parsed {
  std::vector<uint8_t> data;
  std::vector<ComEvent> events;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Role role = (data[0] & 1) ? Role::Server : Role::Client;
  const size_t piece = static_cast<size_t>(data[0] >> 1) + 1;
  const std::span<const uint8_t> stream(data + 1, size - 1);

  TelnetCodec whole(role);
  Parsed a;
  whole.Receive(stream, a.data, a.events);
  FUZZ_CHECK(a.data.size() <= stream.size());
  for (const ComEvent& e : a.events) {
    FUZZ_CHECK(e.from_server == (role == Role::Client));
    FUZZ_CHECK(e.value.size() < kMaxSubnegotiation);
  }

  TelnetCodec split(role);
  Parsed b;
  for (size_t at = 0; at < stream.size(); at += piece)
    split.Receive(stream.subspan(at, std::min(piece, stream.size() - at)), b.data, b.events);
  FUZZ_CHECK(b.data == a.data);
  FUZZ_CHECK(b.events == a.events);
  FUZZ_CHECK(split.TakeOutput() == whole.TakeOutput());
  FUZZ_CHECK(split.ComPortAgreed() == whole.ComPortAgreed());

  const Role peer = role == Role::Client ? Role::Server : Role::Client;
  std::vector<uint8_t> again;
  TelnetCodec::AppendData(a.data, again);
  for (const ComEvent& e : a.events) {
    const auto bytes = EncodeComCommand(peer, e.command, e.value);
    again.insert(again.end(), bytes.begin(), bytes.end());
  }
  TelnetCodec reread(role);
  Parsed c;
  reread.Receive(again, c.data, c.events);
  FUZZ_CHECK(c.data == a.data);
  FUZZ_CHECK(c.events == a.events);
  FUZZ_CHECK(reread.TakeOutput().empty());
  return 0;
}
