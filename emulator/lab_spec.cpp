#include "emulator/lab_spec.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <set>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "protocol/address.hpp"

namespace zelin::emulator {
namespace {

using nlohmann::json;

// Parsing throws this with a message naming the place; the entry points catch it.
struct LabError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw LabError(where.empty() ? what : where + ": " + what);
}

void CheckKeys(const json& obj, const std::string& where, std::initializer_list<const char*> keys) {
  if (!obj.is_object()) Fail(where, "expected an object");
  for (const auto& item : obj.items()) {
    bool known = false;
    for (const char* k : keys) known = known || item.key() == k;
    if (!known) Fail(where, "unknown key \"" + item.key() + "\"");
  }
}

std::optional<uint64_t> ParseUnsigned(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  uint64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return v;
}

// A value as JSON text for a message. Text that is not UTF-8 (a --server flag is taken
// as typed) is shown with replacement characters instead of throwing.
std::string Shown(const json& v) { return v.dump(-1, ' ', false, json::error_handler_t::replace); }

uint64_t UnsignedFrom(const json& v, const std::string& where, uint64_t max) {
  std::optional<uint64_t> n;
  if (v.is_number_unsigned()) {
    n = v.get<uint64_t>();
  } else if (v.is_number_integer()) {
    if (v.get<int64_t>() >= 0) n = static_cast<uint64_t>(v.get<int64_t>());
  } else if (v.is_string()) {
    n = ParseUnsigned(v.get<std::string>());
  }
  if (!n) Fail(where, "expected a non-negative number (decimal or 0x hex), got " + Shown(v));
  if (*n > max) Fail(where, "value " + std::to_string(*n) + " is above " + std::to_string(max));
  return *n;
}

bool BoolFrom(const json& v, const std::string& where) {
  if (!v.is_boolean()) Fail(where, "expected true or false, got " + Shown(v));
  return v.get<bool>();
}

std::string StringFrom(const json& v, const std::string& where) {
  if (!v.is_string()) Fail(where, "expected a string, got " + Shown(v));
  return v.get<std::string>();
}

Ipv4 AddressFrom(std::string_view text, const std::string& where) {
  const auto a = ParseAddress(text);
  if (!a) Fail(where, "\"" + std::string(text) + "\" is not a valid IPv4 address");
  return *a;
}

std::vector<uint8_t> HexFrom(std::string_view text, const std::string& where) {
  std::vector<uint8_t> out;
  std::string digits;
  for (char c : text)
    if (c != ' ' && c != ':' && c != '-') digits.push_back(c);
  if (digits.size() % 2 != 0) Fail(where, "hex text has an odd number of digits");
  for (size_t i = 0; i < digits.size(); i += 2) {
    uint8_t b = 0;
    const auto [end, ec] = std::from_chars(digits.data() + i, digits.data() + i + 2, b, 16);
    if (ec != std::errc() || end != digits.data() + i + 2)
      Fail(where, "bad hex digits in \"" + std::string(text) + "\"");
    out.push_back(b);
  }
  return out;
}

std::array<uint8_t, 6> HardwareFrom(std::string_view text, const std::string& where) {
  const auto bytes = HexFrom(text, where);
  if (bytes.size() != 6) Fail(where, "a hardware address has 6 bytes");
  std::array<uint8_t, 6> hw{};
  for (size_t i = 0; i < 6; ++i) hw[i] = bytes[i];
  return hw;
}

ChallengeFault ChallengeFrom(std::string_view text, const std::string& where) {
  if (text == "none") return ChallengeFault::kNone;
  if (text == "seven-bytes") return ChallengeFault::kSevenBytes;
  if (text == "wrong-tag") return ChallengeFault::kWrongTag;
  Fail(where, "tcp_challenge is one of \"none\", \"seven-bytes\", \"wrong-tag\"");
}

FaultSettings FaultsFrom(const json& j, const std::string& where) {
  CheckKeys(
      j, where,
      {"drop", "drop_next", "delay_ms", "duplicate", "stale", "refuse", "refuse_code",
       "tcp_challenge", "tcp_refuse_login", "tcp_closed"});
  FaultSettings f;
  if (j.contains("drop")) {
    if (!j["drop"].is_number()) Fail(where + ".drop", "expected a share between 0 and 1");
    f.drop_share = j["drop"].get<double>();
    if (!(f.drop_share >= 0.0 && f.drop_share <= 1.0))
      Fail(where + ".drop", "expected a share between 0 and 1");
  }
  if (j.contains("drop_next"))
    f.drop_next = static_cast<int>(UnsignedFrom(j["drop_next"], where + ".drop_next", 1000000));
  if (j.contains("delay_ms"))
    f.delay_ms = static_cast<int>(UnsignedFrom(j["delay_ms"], where + ".delay_ms", 600000));
  if (j.contains("duplicate")) f.duplicate = BoolFrom(j["duplicate"], where + ".duplicate");
  if (j.contains("stale")) f.stale = BoolFrom(j["stale"], where + ".stale");
  if (j.contains("refuse")) f.refuse = BoolFrom(j["refuse"], where + ".refuse");
  if (j.contains("refuse_code"))
    f.refuse_code = static_cast<int>(UnsignedFrom(j["refuse_code"], where + ".refuse_code", 255));
  if (j.contains("tcp_challenge"))
    f.tcp_challenge =
        ChallengeFrom(StringFrom(j["tcp_challenge"], where), where + ".tcp_challenge");
  if (j.contains("tcp_refuse_login"))
    f.tcp_refuse_login = BoolFrom(j["tcp_refuse_login"], where + ".tcp_refuse_login");
  if (j.contains("tcp_closed")) f.tcp_closed = BoolFrom(j["tcp_closed"], where + ".tcp_closed");
  return f;
}

FirmwareRule RuleFrom(const json& j, const std::string& where) {
  CheckKeys(j, where, {"prefix", "min_size", "max_size", "upgraded_version", "reject_status"});
  FirmwareRule r;
  if (j.contains("prefix")) r.prefix = HexFrom(StringFrom(j["prefix"], where), where + ".prefix");
  if (j.contains("min_size"))
    r.min_size =
        static_cast<uint32_t>(UnsignedFrom(j["min_size"], where + ".min_size", UINT32_MAX));
  if (j.contains("max_size"))
    r.max_size =
        static_cast<uint32_t>(UnsignedFrom(j["max_size"], where + ".max_size", UINT32_MAX));
  if (j.contains("upgraded_version"))
    r.upgraded_version = static_cast<uint32_t>(
        UnsignedFrom(j["upgraded_version"], where + ".upgraded_version", UINT32_MAX));
  if (j.contains("reject_status"))
    r.reject_status =
        static_cast<uint8_t>(UnsignedFrom(j["reject_status"], where + ".reject_status", 255));
  return r;
}

// The diagnostic plan; ports are 1-based in the file.
DiagPlan DiagFrom(const json& j, const std::string& where) {
  CheckKeys(j, where, {"pairs", "printer", "failures", "stop_after", "close_after", "noisy_end",
                     "step_ms", "open_ports"});
  DiagPlan d;
  auto port = [](const json& v, const std::string& w) {
    const uint64_t n = UnsignedFrom(v, w, wire::kMaxPorts);
    if (n == 0) Fail(w, "ports are numbered from 1");
    return static_cast<uint8_t>(n - 1);
  };
  if (j.contains("pairs")) {
    const json& a = j["pairs"];
    if (!a.is_array()) Fail(where + ".pairs", "expected an array of [port, port]");
    for (const json& pair : a) {
      if (!pair.is_array() || pair.size() != 2) Fail(where + ".pairs", "expected [port, port]");
      d.pairs.emplace_back(port(pair[0], where + ".pairs"), port(pair[1], where + ".pairs"));
    }
  }
  if (j.contains("printer")) d.printer = BoolFrom(j["printer"], where + ".printer");
  if (j.contains("failures")) {
    const json& a = j["failures"];
    if (!a.is_array()) Fail(where + ".failures", "expected an array");
    static const std::pair<const char*, std::pair<uint8_t, uint8_t>> kTests[] = {
        {"internal", {wire::kItemInternal, wire::kSubLoopback}},
        {"find_pair", {wire::kItemExternal, wire::kSubFindPair}},
        {"tx_rx", {wire::kItemExternal, wire::kSubTxRx}},
        {"dtr_dsr", {wire::kItemExternal, wire::kSubDtrDsr}},
        {"rts_cts", {wire::kItemExternal, wire::kSubRtsCts}},
        {"dtr_dcd", {wire::kItemExternal, wire::kSubDtrDcd}},
        {"printer", {wire::kItemPrinter, 0}},
    };
    for (size_t i = 0; i < a.size(); ++i) {
      const std::string w = where + ".failures[" + std::to_string(i) + "]";
      CheckKeys(a[i], w, {"test", "port", "code"});
      const std::string test = StringFrom(a[i].value("test", json()), w + ".test");
      DiagFailure f;
      bool known = false;
      for (const auto& [name, codes] : kTests) {
        if (test != name) continue;
        known = true;
        f.item = codes.first;
        f.subitem = codes.second;
      }
      if (!known)
        Fail(w + ".test",
             "one of internal, find_pair, tx_rx, dtr_dsr, rts_cts, dtr_dcd, printer");
      if (f.item != wire::kItemPrinter) {
        if (!a[i].contains("port")) Fail(w, "missing \"port\"");
        f.port = port(a[i]["port"], w + ".port");
      }
      if (!a[i].contains("code")) Fail(w, "missing \"code\"");
      f.code = static_cast<uint8_t>(UnsignedFrom(a[i]["code"], w + ".code", 255));
      if (f.code == 0) Fail(w + ".code", "a failure has a code other than 0");
      d.failures.push_back(f);
    }
  }
  if (j.contains("noisy_end")) d.noisy_end = BoolFrom(j["noisy_end"], where + ".noisy_end");
  if (j.contains("close_after"))
    d.close_after = static_cast<int>(UnsignedFrom(j["close_after"], where + ".close_after", 100000));
  if (j.contains("stop_after"))
    d.stop_after = static_cast<int>(UnsignedFrom(j["stop_after"], where + ".stop_after", 100000));
  if (j.contains("step_ms"))
    d.step_ms = static_cast<int64_t>(UnsignedFrom(j["step_ms"], where + ".step_ms", 600000));
  if (j.contains("open_ports")) {
    const json& a = j["open_ports"];
    if (!a.is_array()) Fail(where + ".open_ports", "expected an array of ports");
    for (const json& p : a)
      d.open_ports = static_cast<uint16_t>(d.open_ports | 1u << port(p, where + ".open_ports"));
  }
  return d;
}

// Per-port byte rates: at most 16 numbers, the rest keep their defaults.
std::array<uint32_t, wire::kMaxPorts> RatesFrom(const json& j, const std::string& where,
                                                std::array<uint32_t, wire::kMaxPorts> rates) {
  if (!j.is_array() || j.size() > wire::kMaxPorts)
    Fail(where, "expected an array of at most 16 numbers");
  for (size_t i = 0; i < j.size(); ++i)
    rates[i] = static_cast<uint32_t>(UnsignedFrom(j[i], where, UINT32_MAX));
  return rates;
}

PortTrafficSpec PortStatusFrom(const json& j, const std::string& where) {
  CheckKeys(j, where,
            {"block", "silent", "reset_ack", "connection", "modem", "line_format", "flow", "baud",
             "interface", "login_host", "tx_cps", "rx_cps"});
  PortTrafficSpec p;
  if (j.contains("block")) {
    const uint64_t b = UnsignedFrom(j["block"], where + ".block", 0xFFFF);
    if (b != PortTrafficSpec::kLongBlock && b != PortTrafficSpec::kShortBlock)
      Fail(where + ".block", "a status block has 94 or 92 bytes");
    p.block_size = static_cast<uint16_t>(b);
  }
  if (j.contains("silent")) p.silent = BoolFrom(j["silent"], where + ".silent");
  if (j.contains("reset_ack")) p.reset_ack = BoolFrom(j["reset_ack"], where + ".reset_ack");
  auto byte = [&](const char* key, uint8_t& into) {
    if (j.contains(key))
      into = static_cast<uint8_t>(UnsignedFrom(j[key], where + "." + key, 255));
  };
  byte("connection", p.connection);
  byte("modem", p.modem);
  byte("line_format", p.line_format);
  byte("flow", p.flow);
  if (j.contains("baud"))
    p.baud = static_cast<uint32_t>(UnsignedFrom(j["baud"], where + ".baud", UINT32_MAX));
  if (j.contains("interface"))
    p.interface_code =
        static_cast<int16_t>(UnsignedFrom(j["interface"], where + ".interface", 0x7FFF));
  if (j.contains("login_host"))
    p.login_host = AddressFrom(StringFrom(j["login_host"], where + ".login_host"),
                               where + ".login_host");
  if (j.contains("tx_cps")) p.tx_cps = RatesFrom(j["tx_cps"], where + ".tx_cps", p.tx_cps);
  if (j.contains("rx_cps")) p.rx_cps = RatesFrom(j["rx_cps"], where + ".rx_cps", p.rx_cps);
  return p;
}

SerialPortsConfig SerialPortsFrom(const json& j, const std::string& where) {
  CheckKeys(j, where, {"mode", "base", "pairs"});
  SerialPortsConfig c;
  if (j.contains("mode")) {
    const std::string mode = StringFrom(j["mode"], where + ".mode");
    if (mode == "rfc2217") c.mode = SerialMode::kRfc2217;
    else if (mode == "raw") c.mode = SerialMode::kRaw;
    else if (mode == "off") c.mode = SerialMode::kOff;
    else Fail(where + ".mode", "one of \"rfc2217\", \"raw\", \"off\"");
  }
  if (j.contains("base"))
    c.base = static_cast<uint16_t>(UnsignedFrom(j["base"], where + ".base", 0xFFFF));
  if (j.contains("pairs")) {
    const json& a = j["pairs"];
    if (!a.is_array()) Fail(where + ".pairs", "expected an array of port pairs");
    for (const json& pair : a) {
      if (!pair.is_array() || pair.size() != 2)
        Fail(where + ".pairs", "each pair is two port numbers, as [1, 2]");
      c.pairs.emplace_back(static_cast<uint8_t>(UnsignedFrom(pair[0], where + ".pairs", 255)),
                           static_cast<uint8_t>(UnsignedFrom(pair[1], where + ".pairs", 255)));
    }
  }
  return c;
}

// Problems of a server's serial ports once its port count is known, or "".
std::string CheckSerialPorts(const SerialPortsConfig& c, uint8_t port_count) {
  if (c.mode == SerialMode::kOff || port_count == 0) return {};
  const uint32_t last = uint32_t{c.base} + port_count - 1;
  if (c.base == 0 || last > 0xFFFF)
    return "serial_ports.base " + std::to_string(c.base) + " leaves no room for " +
           std::to_string(port_count) + " ports";
  if (c.base <= wire::kServerTcpPort && wire::kServerTcpPort <= last)
    return "serial_ports.base: ports " + std::to_string(c.base) + ".." + std::to_string(last) +
           " include the command port " + std::to_string(wire::kServerTcpPort);
  uint32_t used = 0;
  for (const auto& [a, b] : c.pairs) {
    if (a < 1 || b < 1 || a > port_count || b > port_count || a == b)
      return "serial_ports.pairs: [" + std::to_string(a) + ", " + std::to_string(b) +
             "] is not two different ports of 1.." + std::to_string(port_count);
    if ((used & (1u << a)) || (used & (1u << b)))
      return "serial_ports.pairs: a port is in one pair at most";
    used |= (1u << a) | (1u << b);
  }
  return {};
}

ServerSpec ServerFrom(const json& j, const std::string& where) {
  CheckKeys(
      j, where,
      {"type", "serial", "name", "ip", "netmask", "password", "firmware", "ports", "port_kinds",
       "flags", "dhcp", "hardware", "access", "routes", "firmware_rule", "faults", "diag",
       "port_status", "serial_ports"});
  ServerSpec s;
  if (!j.contains("type")) Fail(where, "missing \"type\" (model code)");
  if (!j.contains("serial")) Fail(where, "missing \"serial\"");
  if (!j.contains("ip")) Fail(where, "missing \"ip\"");
  s.type = static_cast<DeviceType>(UnsignedFrom(j["type"], where + ".type", 0xFFFF));
  s.serial = static_cast<uint16_t>(UnsignedFrom(j["serial"], where + ".serial", 0xFFFF));
  s.ip = AddressFrom(StringFrom(j["ip"], where + ".ip"), where + ".ip");
  if (j.contains("name")) s.name = StringFrom(j["name"], where + ".name");
  if (j.contains("netmask"))
    s.netmask = AddressFrom(StringFrom(j["netmask"], where + ".netmask"), where + ".netmask");
  if (j.contains("password")) s.password = StringFrom(j["password"], where + ".password");
  if (j.contains("firmware"))
    s.firmware =
        static_cast<uint32_t>(UnsignedFrom(j["firmware"], where + ".firmware", UINT32_MAX));
  if (j.contains("ports"))
    s.port_count =
        static_cast<uint8_t>(UnsignedFrom(j["ports"], where + ".ports", wire::kMaxPorts));
  if (j.contains("port_kinds")) {
    const json& k = j["port_kinds"];
    if (!k.is_array() || k.size() > wire::kMaxPorts)
      Fail(where + ".port_kinds", "expected an array of at most 16 numbers");
    for (size_t i = 0; i < k.size(); ++i)
      s.port_kinds[i] = static_cast<uint8_t>(UnsignedFrom(k[i], where + ".port_kinds", 255));
    s.port_kinds_given = true;  // kinds not listed stay 0 (not available)
  }
  if (j.contains("flags"))
    s.flags = static_cast<uint8_t>(UnsignedFrom(j["flags"], where + ".flags", 255));
  if (j.contains("dhcp"))
    s.dhcp = static_cast<uint8_t>(UnsignedFrom(j["dhcp"], where + ".dhcp", 1));
  if (j.contains("hardware"))
    s.hardware = HardwareFrom(StringFrom(j["hardware"], where + ".hardware"), where + ".hardware");
  if (j.contains("access")) {
    const json& a = j["access"];
    if (!a.is_array()) Fail(where + ".access", "expected an array");
    for (size_t i = 0; i < a.size(); ++i) {
      const std::string w = where + ".access[" + std::to_string(i) + "]";
      CheckKeys(a[i], w, {"ip", "netmask", "ports"});
      AccessEntry e;
      e.address = AddressFrom(StringFrom(a[i].value("ip", json()), w + ".ip"), w + ".ip");
      e.netmask = a[i].contains("netmask")
                      ? AddressFrom(StringFrom(a[i]["netmask"], w + ".netmask"), w + ".netmask")
                      : kBroadcastAddress;
      if (a[i].contains("ports"))
        e.port_mask = static_cast<uint16_t>(UnsignedFrom(a[i]["ports"], w + ".ports", 0xFFFF));
      s.access.push_back(e);
    }
  }
  if (j.contains("routes")) {
    const json& r = j["routes"];
    if (!r.is_array()) Fail(where + ".routes", "expected an array");
    for (size_t i = 0; i < r.size(); ++i) {
      const std::string w = where + ".routes[" + std::to_string(i) + "]";
      CheckKeys(r[i], w, {"gateway", "destination", "netmask", "metric"});
      RouteEntry e;
      e.gateway =
          AddressFrom(StringFrom(r[i].value("gateway", json()), w + ".gateway"), w + ".gateway");
      e.destination = AddressFrom(StringFrom(r[i].value("destination", json()), w + ".destination"),
                                  w + ".destination");
      e.netmask =
          AddressFrom(StringFrom(r[i].value("netmask", json()), w + ".netmask"), w + ".netmask");
      e.metric = r[i].contains("metric")
                     ? static_cast<uint16_t>(UnsignedFrom(r[i]["metric"], w + ".metric", 0xFFFF))
                     : 1;
      s.routes.push_back(e);
    }
  }
  if (j.contains("firmware_rule"))
    s.firmware_rule = RuleFrom(j["firmware_rule"], where + ".firmware_rule");
  if (j.contains("faults")) s.faults = FaultsFrom(j["faults"], where + ".faults");
  if (j.contains("diag")) s.diag = DiagFrom(j["diag"], where + ".diag");
  if (j.contains("port_status"))
    s.port_status = PortStatusFrom(j["port_status"], where + ".port_status");
  if (j.contains("serial_ports"))
    s.serial_ports = SerialPortsFrom(j["serial_ports"], where + ".serial_ports");
  return s;
}

std::string Where(size_t i) {
  return "server " + std::to_string(i + 1);
}

// 10.0.0.0/8, 172.16.0.0/12 and 192.168.0.0/16.
bool IsPrivateRange(Ipv4 a) {
  const auto o = Ipv4Octets(a);
  return o[0] == 10 || (o[0] == 172 && (o[1] & 0xF0) == 16) || (o[0] == 192 && o[1] == 168);
}

}  // namespace

std::optional<Ipv4> ParseAddress(std::string_view text) {
  std::array<uint8_t, 4> o{};
  size_t part = 0;
  size_t pos = 0;
  while (part < 4) {
    const size_t dot = text.find('.', pos);
    const std::string_view p =
        text.substr(pos, dot == std::string_view::npos ? std::string_view::npos : dot - pos);
    if (p.empty() || p.size() > 3) return std::nullopt;
    unsigned v = 0;
    for (char c : p) {
      if (c < '0' || c > '9') return std::nullopt;
      v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > 255) return std::nullopt;
    o[part++] = static_cast<uint8_t>(v);
    if (part < 4) {
      if (dot == std::string_view::npos) return std::nullopt;
      pos = dot + 1;
    } else if (dot != std::string_view::npos) {
      return std::nullopt;
    }
  }
  return Ipv4FromOctets(o[0], o[1], o[2], o[3]);
}

std::string HardwareToText(const std::array<uint8_t, 6>& hw) {
  char buf[18];
  std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", hw[0], hw[1], hw[2], hw[3], hw[4],
                hw[5]);
  return buf;
}

Parsed<LabSpec> ParseLabJson(std::string_view text) {
  Parsed<LabSpec> out;
  json j;
  try {
    j = json::parse(text);
  } catch (const json::exception& e) {  // syntax, or a number beyond every integer type
    out.error = std::string("lab file is not valid JSON: ") + e.what();
    return out;
  }
  try {
    CheckKeys(j, "lab",
              {"broadcast", "network_namespace", "restart_ms", "seed", "strict_nonce", "servers",
               "occupied"});
    LabSpec lab;
    if (j.contains("broadcast"))
      lab.broadcast = AddressFrom(StringFrom(j["broadcast"], "broadcast"), "broadcast");
    if (j.contains("network_namespace"))
      lab.network_namespace = BoolFrom(j["network_namespace"], "network_namespace");
    if (j.contains("restart_ms"))
      lab.restart_ms = static_cast<int64_t>(UnsignedFrom(j["restart_ms"], "restart_ms", 600000));
    if (j.contains("seed")) lab.seed = UnsignedFrom(j["seed"], "seed", UINT64_MAX);
    if (j.contains("strict_nonce")) lab.strict_nonce = BoolFrom(j["strict_nonce"], "strict_nonce");
    if (j.contains("servers")) {
      const json& s = j["servers"];
      if (!s.is_array()) Fail("servers", "expected an array");
      if (s.size() > kMaxLabServers)
        Fail("servers",
             "a lab holds at most 32 servers, this one lists " + std::to_string(s.size()));
      for (size_t i = 0; i < s.size(); ++i) lab.servers.push_back(ServerFrom(s[i], Where(i)));
    }
    if (j.contains("occupied")) {
      const json& o = j["occupied"];
      if (!o.is_array()) Fail("occupied", "expected an array");
      for (size_t i = 0; i < o.size(); ++i) {
        const std::string w = "occupied[" + std::to_string(i) + "]";
        OccupiedAddress a;
        a.hardware = {0x02, 0xEE, 0x00, 0x00, 0x00, static_cast<uint8_t>(i + 1)};
        if (o[i].is_string()) {
          a.address = AddressFrom(o[i].get<std::string>(), w);
        } else {
          CheckKeys(o[i], w, {"ip", "hardware"});
          a.address = AddressFrom(StringFrom(o[i].value("ip", json()), w + ".ip"), w + ".ip");
          if (o[i].contains("hardware"))
            a.hardware = HardwareFrom(StringFrom(o[i]["hardware"], w), w + ".hardware");
        }
        lab.occupied.push_back(a);
      }
    }
    out.value = std::move(lab);
  } catch (const LabError& e) {
    out.error = e.what();
  } catch (const json::exception& e) {
    out.error = std::string("lab file: ") + e.what();
  }
  return out;
}

Parsed<ServerSpec> ParseServerFlag(std::string_view text) {
  // The keys a flag can give as text; the others (faults, diag, tables...) hold objects or
  // lists and come from a lab file. Three more reach into the objects a flag builds.
  static constexpr std::string_view kTextKeys[] = {"type",     "serial",   "name",  "ip",
                                                   "netmask",  "password", "firmware",
                                                   "ports",    "flags",    "dhcp",  "hardware"};
  Parsed<ServerSpec> out;
  json j = json::object();
  try {
    size_t pos = 0;
    while (pos <= text.size()) {
      const size_t comma = text.find(',', pos);
      const std::string_view item =
          text.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
      pos = comma == std::string_view::npos ? text.size() + 1 : comma + 1;
      if (item.empty()) continue;
      const size_t eq = item.find('=');
      if (eq == std::string_view::npos)
        Fail("--server", "\"" + std::string(item) + "\" is not key=value");
      const std::string key(item.substr(0, eq));
      const std::string value(item.substr(eq + 1));
      if (key == "block") {
        j["port_status"]["block"] = value;
      } else if (key == "serial_mode") {
        j["serial_ports"]["mode"] = value;
      } else if (key == "serial_base") {
        j["serial_ports"]["base"] = value;
      } else if (key == "kinds") {
        j["port_kinds"] = json::array();
        for (uint8_t b : HexFrom(value, "--server kinds")) j["port_kinds"].push_back(b);
      } else if (std::find(std::begin(kTextKeys), std::end(kTextKeys), key) != std::end(kTextKeys)) {
        j[key] = value;  // numbers are accepted as text (decimal or 0x hex)
      } else {
        Fail("--server", "unknown key " + Shown(json(key)) +
                             " (known: type, serial, name, ip, netmask, password, firmware, "
                             "ports, flags, dhcp, hardware, kinds, block, serial_mode, serial_base)");
      }
    }
    out.value = ServerFrom(j, "--server");
  } catch (const LabError& e) {
    out.error = e.what();
  } catch (const json::exception& e) {  // kept as a last guard: a refusal, never an abort
    out.error = std::string("--server: ") + e.what();
  }
  return out;
}

std::string CompleteAndCheck(LabSpec& lab) {
  auto loopback = [&lab](Ipv4 a, const std::string& where) -> std::string {
    if (lab.network_namespace) {
      if (!IsLoopback(a) && !IsPrivateRange(a))
        return where + ": " + AddressToText(a) +
               " is not a private-range address (10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16)";
      return {};
    }
    if (!IsLoopback(a))
      return where + ": " + AddressToText(a) +
             " is not a loopback address; the emulator serves only 127.0.0.0/8";
    return {};
  };
  if (lab.network_namespace) {
    if (lab.broadcast == 0) lab.broadcast = kBroadcastAddress;
    if (lab.broadcast != kBroadcastAddress)
      return "broadcast: a network-namespace lab hears the real broadcast 255.255.255.255";
  }
  if (lab.broadcast == 0)
    return "no broadcast stand-in address (give \"broadcast\" or --broadcast)";
  if (!lab.network_namespace)
    if (auto e = loopback(lab.broadcast, "broadcast"); !e.empty()) return e;
  if (lab.servers.size() > kMaxLabServers)
    return "a lab holds at most 32 servers, this one has " + std::to_string(lab.servers.size());
  if (lab.restart_ms < 0) return "restart_ms must not be negative";
  std::set<Ipv4> used{lab.broadcast};
  for (size_t i = 0; i < lab.servers.size(); ++i) {
    ServerSpec& s = lab.servers[i];
    const std::string where = Where(i) + " (serial " + std::to_string(s.serial) + ")";
    const ModelInfo* model = FindModel(s.type);
    if (model == nullptr) return where + ": unknown model code " + std::to_string(s.type);
    if (auto e = loopback(s.ip, where); !e.empty()) return e;
    if (!used.insert(s.ip).second)
      return where + ": address " + AddressToText(s.ip) +
             " is already used by another server or the broadcast stand-in";
    if (s.password.size() > wire::kMaxPasswordLength)
      return where + ": a password has at most 16 characters";
    if (s.name.size() > wire::kNameSize) return where + ": a name has at most 30 characters";
    if (s.access.size() > kMaxLabTableEntries || s.routes.size() > kMaxLabTableEntries)
      return where + ": a table holds at most " + std::to_string(kMaxLabTableEntries) + " entries";
    if (s.port_count == 0) s.port_count = static_cast<uint8_t>(model->ports);
    if (!s.port_kinds_given) {
      for (size_t p = 0; p < wire::kMaxPorts; ++p)
        s.port_kinds[p] = p < s.port_count ? uint8_t{kPortMappable} : uint8_t{0};
    }
    if (auto e = CheckDiagPlan(s.diag, s.port_count); !e.empty()) return where + ": " + e;
    if (auto e = CheckSerialPorts(s.serial_ports, s.port_count); !e.empty()) return where + ": " + e;
    if (s.name.empty()) s.name = "Server " + std::to_string(s.serial);
    if (s.netmask == 0) s.netmask = Ipv4FromOctets(255, 255, 255, 0);
    if (s.hardware == std::array<uint8_t, 6>{})
      s.hardware = {0x02,
                    0x00,
                    static_cast<uint8_t>(s.type >> 8),
                    static_cast<uint8_t>(s.type),
                    static_cast<uint8_t>(s.serial >> 8),
                    static_cast<uint8_t>(s.serial)};
    if (s.firmware_rule.min_size > s.firmware_rule.max_size)
      return where + ": firmware_rule.min_size is above max_size";
    if (s.firmware_rule.reject_status == wire::kTcpDownloadReady ||
        s.firmware_rule.reject_status == wire::kTcpDownloadAccepted)
      return where + ": firmware_rule.reject_status must differ from \"ready\" (0) and \"accepted\" (1)";
  }
  for (size_t i = 0; i < lab.occupied.size(); ++i)
    if (auto e = loopback(lab.occupied[i].address, "occupied[" + std::to_string(i) + "]");
        !e.empty())
      return e;
  return {};
}

}  // namespace zelin::emulator
