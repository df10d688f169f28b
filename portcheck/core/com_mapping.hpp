#pragma once
// The COM mapping table: which COM port the host maps to each port of the configured
// servers, read once from the server store so that the lists can show "COM%d". The
// diagnostic program only reads the store.
//
// A server key counts when it has all of "IPAddress", "SerialNo", "DeviceType" (a model
// the diagnostic program knows) and "Password", and a "Port%04d" key for each of its
// ports; at most as many servers as "Servers" says, at most 32.

#include <array>
#include <cstdint>
#include <vector>

#include "protocol/bytes.hpp"
#include "store/registry.hpp"

namespace zelin::portcheck {

class ComMappingTable {
 public:
  struct Server {
    Ipv4 address = 0;
    uint16_t serial = 0;
    int ports = 0;
    std::array<uint8_t, 16> port_flag{};
    std::array<uint8_t, 16> com{};
  };

  ComMappingTable() = default;
  // Reads the store below "Software\KIVO\Zelin\Parameters"; a missing key gives an
  // empty table.
  static ComMappingTable Read(const Registry& registry);

  // The COM number of port `port` (from 0) of the server with this address and serial
  // number: -1 when there is no such server or the port is not mapped, 256 for the
  // stored 0, else the stored number.
  int Lookup(Ipv4 address, uint16_t serial, int port) const;

  const std::vector<Server>& servers() const { return servers_; }
  void Add(const Server& s) { servers_.push_back(s); }

 private:
  std::vector<Server> servers_;
};

}  // namespace zelin::portcheck
