#pragma once
// The real network path in tests: two network namespaces joined by two veth pairs,
// one subnet each (scripts/netns-lab.sh up), isolated from every real network.
//
//   server side: va1 10.77.1.2, va2 10.77.2.2 (+ 10.77.n.10-19 for emulated servers)
//   client side: vb1 10.77.1.1/24, vb2 10.77.2.1/24
//
// The namespaces are held by open descriptors only: their names are removed as soon as
// they are open, so they and their veths vanish with the test process however it
// ends (a failure, SIGTERM, SIGKILL). Names are zlab<pid>s/c, unique per process; a
// name left by a killed process is reaped by the next lab.
//
// A thread works inside a namespace through an Inside guard (setns on that thread
// only). Sockets keep the namespace they were made in, and threads started inside
// inherit it: start an emulator::Lab inside the server side, then open the client's
// transport inside the client side. Not thread safe.

#include <memory>
#include <string>

#include "protocol/bytes.hpp"

namespace zelin::testing {

class NetnsLab {
 public:
  enum class Side { kServer, kClient };

  // "" when network namespaces can be made here, else why not (the tests skip then).
  static std::string Unavailable();

  // Makes the namespaces; throws std::runtime_error when that fails.
  NetnsLab();
  ~NetnsLab();
  NetnsLab(const NetnsLab&) = delete;
  NetnsLab& operator=(const NetnsLab&) = delete;

  // Moves the calling thread into `side` until the guard ends, then back.
  class Inside {
   public:
    Inside(const NetnsLab& lab, Side side);
    ~Inside();
    Inside(const Inside&) = delete;
    Inside& operator=(const Inside&) = delete;

   private:
    int home_ = -1;
  };

  // Runs a shell command inside `side` with the loopback stand-ins (ZELIN_BROADCAST,
  // ZELIN_INTERFACES, ZELIN_LOOPBACK_ONLY) removed; its output goes to *output
  // (stdout and stderr) when given. Returns the exit status (-1 when it did not exit).
  int Run(Side side, const std::string& command, std::string* output = nullptr) const;

  // Sets the server end of subnet n's veth down or up. Down is a dead link: frames
  // are dropped without a FIN, an RST or an ICMP error.
  void SetLink(int subnet, bool up) const;

  static Ipv4 ClientAddress(int subnet) { return Ipv4FromOctets(10, 77, Octet(subnet), 1); }
  static Ipv4 ServerAddress(int subnet, int host) {
    return Ipv4FromOctets(10, 77, Octet(subnet), Octet(host));
  }
  static std::string Script();

 private:
  static uint8_t Octet(int n) { return static_cast<uint8_t>(n); }
  int server_ = -1, client_ = -1;
};

}  // namespace zelin::testing
