#pragma once
// Explicit little- and big-endian access to byte spans. Every datagram, TCP
// message and file image is encoded and decoded through these helpers; no C++
// struct is ever copied onto the wire. Callers check lengths before reading:
// the helpers assert nothing beyond the span's own bounds (debug builds).

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace zelin {

using Bytes = std::span<const uint8_t>;
using MutableBytes = std::span<uint8_t>;

inline uint16_t GetLe16(Bytes b, size_t at) {
  assert(at + 2 <= b.size());
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
inline uint16_t GetBe16(Bytes b, size_t at) {
  assert(at + 2 <= b.size());
  return static_cast<uint16_t>((b[at] << 8) | b[at + 1]);
}
inline uint32_t GetLe32(Bytes b, size_t at) {
  assert(at + 4 <= b.size());
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
inline uint32_t GetBe32(Bytes b, size_t at) {
  assert(at + 4 <= b.size());
  return (static_cast<uint32_t>(b[at]) << 24) | (static_cast<uint32_t>(b[at + 1]) << 16) |
         (static_cast<uint32_t>(b[at + 2]) << 8) | static_cast<uint32_t>(b[at + 3]);
}

inline void PutLe16(MutableBytes b, size_t at, uint16_t v) {
  assert(at + 2 <= b.size());
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void PutBe16(MutableBytes b, size_t at, uint16_t v) {
  assert(at + 2 <= b.size());
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}
inline void PutLe32(MutableBytes b, size_t at, uint32_t v) {
  assert(at + 4 <= b.size());
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutBe32(MutableBytes b, size_t at, uint32_t v) {
  assert(at + 4 <= b.size());
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}

// IPv4 addresses are held as 32-bit values in network byte order: the first octet
// is the lowest-addressed byte of the value in memory. On the wire they are the
// four octets in order.
using Ipv4 = uint32_t;

inline Ipv4 Ipv4FromOctets(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  // Lay the octets out in memory order whatever the host's byte order.
  const std::array<uint8_t, 4> o{a, b, c, d};
  Ipv4 v;
  static_assert(sizeof v == 4);
  __builtin_memcpy(&v, o.data(), 4);
  return v;
}
inline std::array<uint8_t, 4> Ipv4Octets(Ipv4 v) {
  std::array<uint8_t, 4> o;
  __builtin_memcpy(o.data(), &v, 4);
  return o;
}
inline Ipv4 GetIpv4(Bytes b, size_t at) {
  assert(at + 4 <= b.size());
  return Ipv4FromOctets(b[at], b[at + 1], b[at + 2], b[at + 3]);
}
inline void PutIpv4(MutableBytes b, size_t at, Ipv4 v) {
  assert(at + 4 <= b.size());
  const auto o = Ipv4Octets(v);
  for (int i = 0; i < 4; ++i) b[at + i] = o[i];
}
// The address as a host-order number whose most significant byte is the first octet.
inline uint32_t Ipv4ToHostOrder(Ipv4 v) {
  const auto o = Ipv4Octets(v);
  return (uint32_t{o[0]} << 24) | (uint32_t{o[1]} << 16) | (uint32_t{o[2]} << 8) | o[3];
}
inline Ipv4 Ipv4FromHostOrder(uint32_t h) {
  return Ipv4FromOctets(static_cast<uint8_t>(h >> 24), static_cast<uint8_t>(h >> 16),
                        static_cast<uint8_t>(h >> 8), static_cast<uint8_t>(h));
}
inline constexpr Ipv4 kBroadcastAddress = 0xFFFFFFFFu;
inline bool IsLoopback(Ipv4 v) { return Ipv4Octets(v)[0] == 127; }

inline Bytes AsBytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

}  // namespace zelin
