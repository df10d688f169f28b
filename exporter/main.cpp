// zelin-exporter: the port status of device servers for Prometheus to scrape. An HTTP
// server (libmicrohttpd, one thread per connection, so that concurrent scrapes probe
// side by side) in front of exporter/core.

#include <microhttpd.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "exporter/core/exporter.hpp"
#include "protocol/address.hpp"

namespace {

using namespace zelin;
using namespace zelin::exporter;

const char* const kUsage =
    "usage: zelin-exporter [--listen ADDRESS:PORT] [--targets FILE|FILE.mnt]\n"
    "                      [--passwords FILE] [--source ADDRESS] [--timeout-offset S]\n"
    "                      [--loopback-only]\n"
    "Answers Prometheus's scrapes of /probe?target=ADDRESS[&ports=1-16] with the port\n"
    "status of that device server, /metrics with the exporter's own figures and /targets\n"
    "with the target list for HTTP service discovery.\n"
    "  --listen ADDRESS:PORT  where to listen (default 0.0.0.0:9879; port 0: any free one)\n"
    "  --targets FILE         the servers to watch: ADDRESS [SERIAL] [ports=LIST] a line,\n"
    "                         or a monitor file (.mnt)\n"
    "  --passwords FILE       ADDRESS PASSWORD a line; readable by its owner only\n"
    "  --source ADDRESS       the probes' source address (default: the first of\n"
    "                         ZELIN_INTERFACES, else any)\n"
    "  --timeout-offset S     seconds kept free of the scrape's deadline (default 0.5)\n"
    "  --loopback-only        refuse targets outside 127.0.0.0/8 (also ZELIN_LOOPBACK_ONLY=1)\n";

struct Request {
  std::string target;  // the raw request target, as the client sent it
};

void* LogUri(void*, const char* uri, MHD_Connection*) {
  return new Request{uri != nullptr ? uri : ""};
}

void Completed(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
  delete static_cast<Request*>(*context);
  *context = nullptr;
}

MHD_Result Answer(void* cls, MHD_Connection* connection, const char*, const char* method,
                  const char*, const char*, size_t* upload_size, void** context) {
  auto* exporter = static_cast<Exporter*>(cls);
  auto* request = static_cast<Request*>(*context);
  if (*upload_size != 0) {  // no request body is taken
    *upload_size = 0;
    return MHD_YES;
  }
  const char* timeout =
      MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Prometheus-Scrape-Timeout-Seconds");
  const HttpAnswer a = exporter->Handle(method != nullptr ? method : "",
                                        request != nullptr ? request->target : std::string(),
                                        timeout != nullptr ? timeout : "");
  MHD_Response* response = MHD_create_response_from_buffer(
      a.body.size(), const_cast<char*>(a.body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, "Content-Type", a.content_type.c_str());
  const MHD_Result r = MHD_queue_response(connection, static_cast<unsigned>(a.status), response);
  MHD_destroy_response(response);
  return r;
}

std::optional<sockaddr_in> ParseListen(std::string_view text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto address = ParseHostAddress(text.substr(0, colon));
  const std::string port(text.substr(colon + 1));
  char* end = nullptr;
  const long p = std::strtol(port.c_str(), &end, 10);
  if (!address || port.empty() || *end != '\0' || p < 0 || p > 65535) return std::nullopt;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = *address;
  a.sin_port = htons(static_cast<uint16_t>(p));
  return a;
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "zelin-exporter: %s\n", what.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  ExporterOptions options;
  std::string listen = "0.0.0.0:9879";
  if (const char* l = std::getenv("ZELIN_LOOPBACK_ONLY"); l != nullptr && std::string_view(l) == "1")
    options.loopback_only = true;
  if (const char* i = std::getenv("ZELIN_INTERFACES"); i != nullptr) {
    const AddressList list = ParseAddressList(i, ListSyntax::kLenient);
    if (!list.addresses.empty()) options.source = list.addresses.front();
  }
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--loopback-only") {
      options.loopback_only = true;
    } else if (arg == "--listen" || arg == "--targets" || arg == "--passwords" ||
               arg == "--source" || arg == "--timeout-offset") {
      const char* v = value();
      if (v == nullptr) return Fail(std::string(arg) + " needs a value\n" + kUsage);
      if (arg == "--listen") {
        listen = v;
      } else if (arg == "--targets") {
        auto targets = ReadTargetList(v);
        if (!targets) return Fail(std::string(v) + ": " + targets.status().message());
        options.targets = std::move(*targets);
      } else if (arg == "--passwords") {
        auto passwords = ReadPasswordFile(v);
        if (!passwords) return Fail(passwords.status().message());
        options.passwords = std::move(*passwords);
      } else if (arg == "--source") {
        const auto a = ParseHostAddress(v);
        if (!a) return Fail("--source is an IPv4 address");
        options.source = *a;
      } else {
        char* end = nullptr;
        options.timeout_offset_s = std::strtod(v, &end);
        if (*end != '\0' || !(options.timeout_offset_s >= 0) || options.timeout_offset_s > 60)
          return Fail("--timeout-offset is 0..60 seconds");
      }
    } else {
      return Fail("unknown option " + std::string(arg) + "\n" + kUsage);
    }
  }
  const auto address = ParseListen(listen);
  if (!address) return Fail("--listen is ADDRESS:PORT");
  if (options.loopback_only)
    for (const Target& t : options.targets)
      if (!IsLoopback(t.address))
        return Fail("target " + AddressToText(t.address) + " is outside 127.0.0.0/8 (loopback only)");

  // The signals are taken by sigwait below; every thread started from here blocks them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  Exporter exporter(std::move(options), SystemClock());
  sockaddr_in bind_to = *address;
  MHD_Daemon* daemon = MHD_start_daemon(
      MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ERROR_LOG, 0,
      nullptr, nullptr, &Answer, &exporter, MHD_OPTION_SOCK_ADDR, &bind_to,
      MHD_OPTION_URI_LOG_CALLBACK, &LogUri, nullptr, MHD_OPTION_NOTIFY_COMPLETED, &Completed,
      nullptr, MHD_OPTION_CONNECTION_LIMIT, 1024u, MHD_OPTION_CONNECTION_TIMEOUT, 120u,
      MHD_OPTION_END);
  if (daemon == nullptr) return Fail("cannot listen on " + listen);
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
  const unsigned port = info != nullptr ? info->port : ntohs(bind_to.sin_port);
  std::printf("listening on %s:%u\n", AddressToText(bind_to.sin_addr.s_addr).c_str(), port);
  std::fflush(stdout);
  int sig = 0;
  sigwait(&signals, &sig);
  MHD_stop_daemon(daemon);
  std::printf("stopped\n");
  return 0;
}
