// devsim: runs a lab of emulated device servers on loopback addresses until
// SIGINT or SIGTERM. Prints one "ready" line per server once every socket is bound.
// A lab file with "network_namespace": true takes private-range addresses and real
// broadcasts instead; devsim then starts only inside an isolated network namespace
// (loopback and veth interfaces, no default route) and says why it refuses elsewhere.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/lab.hpp"
#include "protocol/address.hpp"

namespace {

using namespace zelin;
using namespace zelin::emulator;

constexpr const char* kUsage =
    "usage: devsim [--lab FILE] [--server KEY=VALUE,...]... [--broadcast ADDRESS]\n"
    "              [--restart-ms MS] [--seed N] [--strict-nonce] [--log FILE]\n"
    "\n"
    "Emulates up to 32 device servers on loopback addresses (127.0.0.0/8), or on\n"
    "private-range addresses inside an isolated network namespace (a lab file with\n"
    "\"network_namespace\": true; scripts/netns-lab.sh makes one).\n"
    "  --lab FILE         a JSON lab file\n"
    "  --server FIELDS    one more server: type=771,serial=5,ip=127.0.42.10,password=secret,\n"
    "                     name=...,netmask=...,firmware=0x02200100,ports=16,flags=0,dhcp=0,\n"
    "                     kinds=<16 hex bytes>,serial_mode=rfc2217|raw|off,serial_base=4001\n"
    "  --broadcast ADDR   the address clients send to instead of 255.255.255.255\n"
    "  --restart-ms MS    how long a server stays silent after a restart\n"
    "  --seed N           seed of nonces and injected faults\n"
    "  --strict-nonce     servers take only the newest nonce they handed out\n"
    "  --log FILE         write every request received as a JSON line\n";

int Usage(const std::string& problem) {
  std::cerr << "devsim: " << problem << "\n\n" << kUsage;
  return 2;
}

bool ReadFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *text = s.str();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  LabSpec lab;
  std::vector<ServerSpec> extra;
  std::string log_path, broadcast;
  std::optional<int64_t> restart_ms;
  std::optional<uint64_t> seed;
  bool strict_nonce = false;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (a == "--strict-nonce") {
      strict_nonce = true;
      continue;
    }
    if (i + 1 >= args.size()) return Usage("option " + a + " needs a value");
    const std::string& v = args[++i];
    if (a == "--lab") {
      std::string text;
      if (!ReadFile(v, &text)) return Usage("cannot read lab file " + v);
      auto parsed = ParseLabJson(text);
      if (!parsed) return Usage(v + ": " + parsed.error);
      lab = std::move(*parsed.value);
    } else if (a == "--server") {
      auto parsed = ParseServerFlag(v);
      if (!parsed) return Usage(parsed.error);
      extra.push_back(std::move(*parsed.value));
    } else if (a == "--broadcast") {
      broadcast = v;
    } else if (a == "--restart-ms" || a == "--seed") {
      char* end = nullptr;
      const unsigned long long n = std::strtoull(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0') return Usage(a + " needs a number");
      if (a == "--seed") {
        seed = n;
      } else {
        restart_ms = static_cast<int64_t>(n);
      }
    } else if (a == "--log") {
      log_path = v;
    } else {
      return Usage("unknown option " + a);
    }
  }
  for (auto& s : extra) lab.servers.push_back(std::move(s));
  if (!broadcast.empty()) {
    const auto b = ParseAddress(broadcast);
    if (!b) return Usage("--broadcast: \"" + broadcast + "\" is not a valid IPv4 address");
    lab.broadcast = *b;
  }
  if (restart_ms) lab.restart_ms = *restart_ms;
  if (seed) lab.seed = *seed;
  if (strict_nonce) lab.strict_nonce = true;
  if (const std::string problem = CompleteAndCheck(lab); !problem.empty()) return Usage(problem);

  std::FILE* log_file = nullptr;
  if (!log_path.empty()) {
    log_file = std::fopen(log_path.c_str(), "w");
    if (log_file == nullptr) return Usage("cannot write log file " + log_path);
  }

  // Block the stop signals before the worker starts so that only sigwait sees them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  Lab emulator(lab);
  if (log_file != nullptr) {
    emulator.SetLogSink([log_file](const std::string& line) {
      std::fputs(line.c_str(), log_file);
      std::fputc('\n', log_file);
      std::fflush(log_file);
    });
  }
  std::string error;
  if (!emulator.Start(&error)) {
    std::cerr << "devsim: " << error << "\n";
    if (log_file != nullptr) std::fclose(log_file);
    return 1;
  }
  for (const DeviceState& s : emulator.Snapshots()) {
    std::printf("ready serial=%u type=%u model=%s ip=%s name=\"%s\" password=%s\n",
                unsigned{s.serial}, unsigned{s.type}, std::string(ModelName(s.type)).c_str(),
                AddressToText(s.applied.ip).c_str(), s.applied.NameText().c_str(),
                s.applied.password.empty() ? "no" : "yes");
  }
  std::printf("ready broadcast=%s servers=%zu%s\n", AddressToText(lab.broadcast).c_str(),
              lab.servers.size(), lab.strict_nonce ? " strict-nonce" : "");
  std::fflush(stdout);

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  emulator.Stop();
  if (log_file != nullptr) std::fclose(log_file);
  std::printf("stopped\n");
  return 0;
}
