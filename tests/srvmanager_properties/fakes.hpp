#pragma once
// Test doubles for the property commands: a PropertiesHost over tables of its own
// and a PropertyDialogs whose dialogs are answered by test code.

#include <functional>

#include "protocol/address.hpp"
#include "protocol/exchange.hpp"
#include "srvmanager/properties/core/access_control_page.hpp"
#include "srvmanager/properties/core/advanced_page.hpp"
#include "srvmanager/properties/core/host.hpp"
#include "srvmanager/properties/core/property_sheet.hpp"

namespace zelin::testing {

inline Ipv4 Ip(const char* text) { return TextToAddress(text); }

// Servers and found records in plain tables; the password check logs in with the
// entry's password (no prompt) and change detection compares names and tables.
class TableHost final : public manager::PropertiesHost {
 public:
  TableHost(Transport& t, int installation_type) : t_(t), type_(installation_type) {}

  Transport& transport() override { return t_; }
  int installation_type() const override { return type_; }
  ServerList& found() override { return found_; }
  ServerList& saved_found() override { return saved_found_; }
  int count() const override { return count_; }
  ServerConfig& server(int i) override { return servers_[static_cast<size_t>(i)]; }
  ServerConfig* saved_server(int i) override {
    return i < saved_count_ ? &saved_servers_[static_cast<size_t>(i)] : nullptr;
  }
  bool RequestServerPassword(ServerRecord& record, uint16_t, ServerConfig& entry) override {
    ++password_checks;
    if (!record.has_password()) return true;
    record.password = entry.password();
    return Command(t_, record, wire::kLogin, 1);
  }
  bool ServerChanged(int i) override {
    const int f = found_.FindSerial(servers_[static_cast<size_t>(i)].serial_number);
    const int s = saved_found_.FindSerial(servers_[static_cast<size_t>(i)].serial_number);
    if (f < 0 || s < 0) return false;
    const ServerRecord& a = found_.records[static_cast<size_t>(f)];
    const ServerRecord& b = saved_found_.records[static_cast<size_t>(s)];
    return a.search_reply != b.search_reply || a.access_table != b.access_table ||
           a.access_total != b.access_total || a.route_table != b.route_table ||
           a.route_total != b.route_total || a.dhcp != b.dhcp || a.password_change_pending;
  }

  // Adds a configured server and, when `record` is given, its found record; both are
  // copied to the saved tables.
  int AddServer(const ServerConfig& entry, const ServerRecord* record = nullptr) {
    servers_[static_cast<size_t>(count_)] = entry;
    saved_servers_[static_cast<size_t>(count_)] = entry;
    saved_count_ = ++count_;
    if (record != nullptr) {
      found_.records[static_cast<size_t>(found_.count++)] = *record;
      saved_found_ = found_;
    }
    return count_ - 1;
  }
  void SyncSavedFound() { saved_found_ = found_; }

  int password_checks = 0;

 private:
  Transport& t_;
  int type_;
  ServerList found_, saved_found_;
  std::array<ServerConfig, kMaxConfiguredServers> servers_{};
  std::array<ServerConfig, kMaxConfiguredServers> saved_servers_{};
  int count_ = 0, saved_count_ = 0;
};

// Every dialog is answered by a function; an unset function cancels the dialog.
class ScriptedDialogs final : public manager::PropertyDialogs {
 public:
  std::function<bool(manager::CMyPropertySheet&)> sheet;
  std::function<bool(manager::GrantAccessIpDialog&)> grant;
  std::function<bool(manager::AddPortDialog&)> add_port;
  std::function<bool(manager::GatewaySettingsDialog&)> gateway;
  int grants = 0, add_ports = 0, gateways = 0, sheets = 0;

  bool RunSheet(manager::CMyPropertySheet& s) override {
    ++sheets;
    return sheet ? sheet(s) : false;
  }
  bool RunGrantAccessIp(manager::GrantAccessIpDialog& d) override {
    ++grants;
    return grant ? grant(d) : false;
  }
  bool RunAddPort(manager::AddPortDialog& d) override {
    ++add_ports;
    return add_port ? add_port(d) : false;
  }
  bool RunGatewaySettings(manager::GatewaySettingsDialog& d) override {
    ++gateways;
    return gateway ? gateway(d) : false;
  }
};

// A Grant Access IP answer: type the texts and press OK once.
inline std::function<bool(manager::GrantAccessIpDialog&)> TypeGrant(std::string address,
                                                                     std::string netmask) {
  return [address, netmask](manager::GrantAccessIpDialog& d) {
    d.address_text = address;
    if (netmask.empty()) {
      d.ChooseSingleComputer();
    } else {
      d.ChooseGroup();
      d.netmask_text = netmask;
    }
    return d.Ok();
  };
}

// A found record for a server of `type` with `ports` mappable ports, as if from a search.
inline ServerRecord MakeRecord(DeviceType type, uint16_t serial, const char* name, Ipv4 ip,
                               Ipv4 host, int ports, uint32_t firmware = 0x02200000) {
  ServerRecord r;
  PutLe16(r.search_reply, wire::kSrDeviceType, type);
  PutLe16(r.search_reply, wire::kSrSerial, serial);
  PutIpv4(r.search_reply, wire::kSrHostAddress, host);
  PutLe32(r.search_reply, wire::kSrFirmware, firmware);
  r.search_reply[wire::kSrPortCount] = static_cast<uint8_t>(ports);
  r.set_name(name);
  r.set_ip_address(ip);
  r.set_netmask(Ip("255.255.255.0"));
  for (int p = 0; p < ports; ++p) r.set_port_kind(static_cast<size_t>(p), kPortMappable);
  return r;
}

inline ServerConfig MakeEntry(DeviceType type, uint16_t serial, const char* name, Ipv4 ip) {
  ServerConfig c;
  c.device_type = type;
  c.serial_number = serial;
  c.set_name(name);
  c.ip_address = ip;
  c.netmask = Ip("255.255.255.0");
  c.port_count = static_cast<uint32_t>(ModelPortCount(type));
  return c;
}

}  // namespace zelin::testing
