#pragma once
// Test doubles for the property pages: a PropertyDialogs whose dialogs are answered
// by test code, and records and entries as a search and the store would fill them.

#include <functional>

#include "protocol/address.hpp"
#include "srvmanager/properties/core/access_control_page.hpp"
#include "srvmanager/properties/core/advanced_page.hpp"
#include "srvmanager/properties/core/host.hpp"
#include "srvmanager/properties/core/property_sheet.hpp"

namespace zelin::testing {

inline Ipv4 Ip(const char* text) {
  return TextToAddress(text);
}

// Every dialog is answered by a function; an unset function cancels the dialog.
class ScriptedDialogs final : public manager::PropertyDialogs {
 public:
  std::function<bool(manager::PropertySheet&)> sheet;
  std::function<bool(manager::GrantAccessIpDialog&)> grant;
  std::function<bool(manager::AddPortDialog&)> add_port;
  std::function<bool(manager::GatewaySettingsDialog&)> gateway;
  int grants = 0, add_ports = 0, gateways = 0, sheets = 0;

  bool RunSheet(manager::PropertySheet& s) override { return Run(sheet, sheets, s); }
  bool RunGrantAccessIp(manager::GrantAccessIpDialog& d) override { return Run(grant, grants, d); }
  bool RunAddPort(manager::AddPortDialog& d) override { return Run(add_port, add_ports, d); }
  bool RunGatewaySettings(manager::GatewaySettingsDialog& d) override {
    return Run(gateway, gateways, d);
  }

 private:
  // Counts the run; the script's answer, or Cancel when there is none.
  template <class Dialog>
  static bool Run(const std::function<bool(Dialog&)>& script, int& runs, Dialog& d) {
    ++runs;
    return script ? script(d) : false;
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
