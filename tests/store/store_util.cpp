#include "tests/store/store_util.hpp"

#include <fstream>
#include <sstream>

#include "store/server_store.hpp"

namespace zelin::testing {

std::string ReadFileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFileText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

ServerConfig MakeServer(uint16_t serial, uint16_t device_type) {
  ServerConfig c;
  c.device_type = device_type;
  c.serial_number = serial;
  c.port_count = static_cast<uint32_t>(PortCountOf(device_type));
  c.set_name("Server-" + std::to_string(serial));
  c.ip_address =
      Ipv4FromOctets(10, 0, static_cast<uint8_t>(serial >> 8), static_cast<uint8_t>(serial));
  c.netmask = Ipv4FromOctets(255, 255, 255, 0);
  return c;
}

void MapPort(ServerConfig& c, int port, uint8_t com) {
  c.port_mapped[static_cast<size_t>(port)] = 1;
  c.com_number[static_cast<size_t>(port)] = com;
}

}  // namespace zelin::testing
