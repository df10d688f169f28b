#pragma once
// Byte builders shared by the protocol tests: hex vectors, search replies and
// replies as a server would send them.

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/bytes.hpp"
#include "protocol/types.hpp"
#include "protocol/wire.hpp"

namespace zelin::testing {

// "01 00 0a" -> {0x01, 0x00, 0x0a}; whitespace between bytes is free.
inline std::vector<uint8_t> Hex(std::string_view text) {
  std::vector<uint8_t> out;
  std::string digits;
  for (char c : text)
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return out;
}

struct ServerSpec {
  uint16_t type = 771;
  uint16_t serial = 0x1234;
  std::string name = "Lab";
  Ipv4 ip = Ipv4FromOctets(127, 0, 0, 10);
  Ipv4 netmask = Ipv4FromOctets(255, 255, 255, 0);
  uint8_t flags = 0;
  uint8_t ports = 16;
  std::array<uint8_t, 4> nonce{0xA1, 0xB2, 0xC3, 0xD4};
  uint16_t sequence = 0;
};

// An 86-byte search reply as the server sends it (name padded with spaces).
inline std::vector<uint8_t> SearchReply(const ServerSpec& s) {
  std::vector<uint8_t> b(wire::kSearchReplySize, 0);
  b[0] = 0x81;
  PutBe16(b, 2, static_cast<uint16_t>(b.size()));
  PutLe16(b, 4, s.sequence);
  std::copy(s.nonce.begin(), s.nonce.end(), b.begin() + 6);
  PutLe16(b, wire::kSrDeviceType, s.type);
  PutLe16(b, wire::kSrSerial, s.serial);
  PutLe32(b, wire::kSrFirmware, 0x02200001);
  b[wire::kSrFlags] = s.flags;
  b[wire::kSrPortCount] = s.ports;
  std::fill_n(b.begin() + wire::kSrName, wire::kNameSize, uint8_t{' '});
  std::copy_n(s.name.begin(), std::min(s.name.size(), wire::kNameSize), b.begin() + wire::kSrName);
  for (size_t i = 0; i < wire::kMaxPorts; ++i) b[wire::kSrPortKinds + i] = 2;
  PutIpv4(b, wire::kSrIpAddress, s.ip);
  PutIpv4(b, wire::kSrNetmask, s.netmask);
  return b;
}

// A record as discovery leaves it for the server `s`.
inline ServerRecord Record(const ServerSpec& s) {
  ServerRecord r;
  const auto reply = SearchReply(s);
  std::copy(reply.begin(), reply.end(), r.search_reply.begin());
  r.set_name(s.name);
  r.nonce = s.nonce;
  r.sequence = 1;
  return r;
}

// A reply header for `code` (+0x80) to the request `request`, `size` bytes long.
// The header is built in a fixed array and the reply grown from it, so that no
// element of a vector of unknown size is written.
inline std::vector<uint8_t> ReplyTo(Bytes request, size_t size, uint8_t status,
                                    std::array<uint8_t, 4> next_nonce) {
  std::array<uint8_t, wire::kReplyHeaderSize> h{};
  h[0] = static_cast<uint8_t>(request[0] | 0x80);
  h[1] = status;
  PutBe16(h, 2, static_cast<uint16_t>(size));
  h[4] = request[4];
  h[5] = request[5];
  std::copy(next_nonce.begin(), next_nonce.end(), h.begin() + 6);
  // Device type and serial: from the authenticated header (22-25) or the short one (6-9).
  const size_t id =
      request.size() >= wire::kAuthHeaderSize ? wire::kAuthDeviceType : wire::kShortDeviceType;
  std::copy_n(request.begin() + static_cast<ptrdiff_t>(id), 4, h.begin() + 10);
  std::vector<uint8_t> b(h.begin(), h.end());
  b.resize(size);
  return b;
}

// `bytes` with its last byte cut off, or with byte `at` set to `value`: copies built
// whole (and written with a checked index), which GCC can see are not empty.
inline std::vector<uint8_t> Shortened(Bytes bytes) {
  return std::vector<uint8_t>(bytes.begin(), bytes.end() - (bytes.empty() ? 0 : 1));
}
inline std::vector<uint8_t> WithByte(Bytes bytes, size_t at, uint8_t value) {
  std::vector<uint8_t> out(bytes.begin(), bytes.end());
  out.at(at) = value;
  return out;
}

}  // namespace zelin::testing
