#pragma once
// A scripted UDP peer for protocol tests: binds one loopback address and port,
// receives the client's requests and answers with bytes that the test gives.
//
// Two ways to use it:
//   - synchronously: Receive() one datagram, then Reply() to its sender;
//   - in the background: Serve(handler) runs a thread that calls handler for every
//     request and sends each datagram it returns to the request's sender, until
//     Stop() or destruction. Requests are recorded either way.
// Only loopback addresses may be bound (the constructor throws otherwise).

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "protocol/bytes.hpp"

namespace zelin::testing {

struct PeerDatagram {
  std::vector<uint8_t> bytes;
  Ipv4 from_address = 0;
  uint16_t from_port = 0;
};

class UdpPeer {
 public:
  using Handler = std::function<std::vector<std::vector<uint8_t>>(const PeerDatagram&)>;

  UdpPeer(Ipv4 address, uint16_t port);
  ~UdpPeer();
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  // One datagram within timeout_ms real milliseconds, or nullopt.
  std::optional<PeerDatagram> Receive(int timeout_ms);
  // Sends to the sender of `request`.
  void Reply(const PeerDatagram& request, Bytes bytes);
  void SendTo(Ipv4 address, uint16_t port, Bytes bytes);

  void Serve(Handler handler);
  void Stop();

  // Every datagram received so far (both modes).
  std::vector<PeerDatagram> requests() const;

 private:
  int fd_ = -1;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<PeerDatagram> requests_;
};

}  // namespace zelin::testing
