#pragma once
// Port lists as scripts type them: "all", "none", or port numbers and ranges
// separated by commas ("1,3,5-8"), ports 1 to 16. A list is checked against a
// server's port count only once the server is known.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelin::ctl {

struct PortList {
  uint16_t mask = 0;  // bit i: port i + 1
  bool all = false;   // every port of the server
};

// nullopt for text that is not a port list.
std::optional<PortList> ParsePortList(std::string_view text);

// The list's ports on a server with `port_count` ports: every port for "all"; nullopt
// (message in *error) when the list names a port the server does not have.
std::optional<uint16_t> PortsOnServer(const PortList& list, int port_count, std::string* error);

// "1-4,7", or "none" for an empty mask.
std::string PortListText(uint16_t mask);
// The port numbers of a mask in ascending order.
std::vector<int> PortNumbers(uint16_t mask);

}  // namespace zelin::ctl
