#pragma once
// The serial ports of one emulated server as hosts reach them: a TCP listener per port
// on the server's address (port p on base + p - 1), one data connection per port at a
// time, speaking Telnet with the Com Port Control option (RFC 2217) or plain bytes.
//
// - The line: what a port's client writes goes out on the port's line and comes back
//   in on the line it is wired to: the same port (a loopback plug) unless the lab wires
//   two ports together. Bytes for a port nobody is connected to are lost, as on a line.
// - Settings: a client's SET-* commands change the port's settings (baud, size,
//   parity, stop, flow, DTR, RTS, break) and are answered with the value in effect;
//   each command is logged (proto "rfc2217", code = the client's command number, hex =
//   its value). DTR and RTS reach the wired port as DSR/CD and CTS and are notified
//   under the port's modem-state mask. FLOWCONTROL-SUSPEND holds the port's output
//   until RESUME. A second client of a busy port is closed at once.
// - Restart: Close() drops every connection and listener and the settings go back to
//   their defaults; Bind() listens again.
//
// Thread safety: none; the Lab calls it under its lock.

#include <poll.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulator/device.hpp"
#include "emulator/request_log.hpp"
#include "emulator/serial_config.hpp"
#include "protocol/rfc2217.hpp"

namespace zelin::emulator {

// Output a port holds for a client that does not read (or suspended the flow); beyond
// it the line's bytes are lost, as in a serial buffer that overflows.
inline constexpr size_t kSerialBufferLimit = 256 * 1024;

class SerialPorts {
 public:
  // `log` receives entries with proto, to, from, code, length, verdict and hex filled.
  SerialPorts(const SerialPortsConfig& config, uint8_t port_count, std::string signature,
              std::function<void(LogEntry)> log);
  ~SerialPorts();
  SerialPorts(const SerialPorts&) = delete;
  SerialPorts& operator=(const SerialPorts&) = delete;

  // Listens on every port at `ip`; false with the reason (nothing stays open then).
  // `ip` must be a loopback address unless `isolated` (a network-namespace lab).
  bool Bind(Ipv4 ip, std::string* error, bool isolated = false);
  // Closes every connection and listener; the settings return to their defaults.
  void Close();

  // Adds the descriptors to watch; OnReady takes those that are ready.
  void AddPollFds(std::vector<pollfd>& fds) const;
  // Handles `fd` if it is one of ours (else does nothing).
  void OnReady(int fd, short revents, std::vector<uint8_t>& buffer);

  // Port from 1. Nullopt for a port the server does not have.
  std::optional<rfc2217::SerialSettings> Settings(int port) const;
  bool Connected(int port) const;
  uint16_t TcpPort(int port) const { return static_cast<uint16_t>(config_.base + port - 1); }

 private:
  struct Link;
  struct Port;
  void OnAccept(size_t index);
  void OnData(size_t index, std::vector<uint8_t>& buffer);
  void OnCommand(size_t index, const rfc2217::ComEvent& event);
  void Deliver(size_t index, std::span<const uint8_t> payload);
  void Send(size_t index, std::span<const uint8_t> wire_bytes);
  void Flush(size_t index);
  void Drop(size_t index, const std::string& why);
  void NotifyModem(size_t index);
  uint8_t ModemLines(size_t index) const;
  size_t WiredTo(size_t index) const;
  LogEntry Entry(size_t index, const Endpoint& peer) const;

  SerialPortsConfig config_;
  std::string signature_;
  std::function<void(LogEntry)> log_;
  Ipv4 ip_ = 0;
  std::vector<Port> ports_;
};

}  // namespace zelin::emulator
