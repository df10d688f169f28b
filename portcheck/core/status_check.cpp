#include "portcheck/core/status_check.hpp"

#include "platform/text_format.hpp"
#include "protocol/address.hpp"

namespace zelin::portcheck {

StatusCheck::StatusCheck(DiagConfig& live, HostInterfaces& interfaces, DiagSession& session,
                         Prompter& prompter, PasswordDialogRunner run_dialog)
    : RunWorker(session),
      live_(live),
      interfaces_(interfaces),
      prompter_(prompter),
      run_dialog_(std::move(run_dialog)) {}

StatusCheck::~StatusCheck() { Close(); }

void StatusCheck::Open() {
  stop_ = false;
  skip_ = false;
  running_ = true;
  worker_ = std::thread([this] { Run(); });
}

void StatusCheck::Skip() {
  skip_ = true;
  session_.RaiseAbort();
}

bool StatusCheck::SkipAll() {
  // The window closes only over a finished worker: a worker that waits for the password
  // window on the window's thread must never be joined from there.
  if (stop_.load() && !running_.load()) return true;
  RaiseStop();
  return false;
}

StatusCheckSnapshot StatusCheck::Snapshot() const {
  std::lock_guard lock(mutex_);
  return snapshot_;
}

void StatusCheck::SetLine(bool first, std::string text) {
  {
    std::lock_guard lock(mutex_);
    (first ? snapshot_.first_line : snapshot_.second_line) = std::move(text);
  }
  Changed();
}

void StatusCheck::Run() {
  running_ = true;
  // SKIP holds until its server ends, across the connect's own clearing of the
  // AbortFlag. (SKIP ALL lets the current server finish the step under way.)
  session_.set_abort_hold([this] { return skip_.load(); });
  const int n = live_.server_count;
  SetLine(true, Format("Need to search %d Zelin Server.", n));
  if (interfaces_.Open().ok()) {
    for (int k = 0; k < n && !stop_.load(); ++k)
      if (!CheckServer(k)) break;
    interfaces_.Close();
  }
  session_.set_abort_hold({});
  stop_ = true;
  {
    std::lock_guard lock(mutex_);
    snapshot_.close_requested = true;
  }
  running_ = false;
  Changed();
}

bool StatusCheck::CheckServer(int k) {
  const auto i = static_cast<size_t>(k);
  const int n = live_.server_count;
  ServerImage& image = live_.images[i];
  ServerTestSettings& settings = live_.settings[i];
  const Ipv4 address = image.ip_address();
  const std::string text = AddressToText(address);
  SetLine(false, Format("Now searching %d/%d --> %s", k + 1, n, text.c_str()));
  std::optional<FoundServer> found;
  for (int attempt = 0; attempt < kSearchAttempts; ++attempt) {
    if (auto reply = interfaces_.UnicastSearch(address, 1); reply.ok()) {
      found = *reply;
      break;
    }
    if (stop_.load()) {
      settings.status = kStatusUnreachable;
      return false;
    }
    if (skip_.load()) break;
  }
  if (!found || skip_.load()) {
    // Not found, or skipped (also when SKIP came during the search that found it).
    settings.status = kStatusUnreachable;
    skip_ = false;
    return !stop_.load();
  }
  if (found->ip_address() == address && found->serial_number() == image.serial_number())
    image = ServerImage::FromReply(found->reply);

  SetLine(false, Format("Connecting %d/%d --> %s", k + 1, n, text.c_str()));
  if (!session_.Open(address).ok()) {
    settings.status = kStatusUnreachable;
    skip_ = false;
    return true;
  }
  SetLine(false, Format("Login %d/%d --> %s...", k + 1, n, text.c_str()));
  const LoginTarget target{address, image.name(), &settings.password};
  const bool logged_in = LoginWithPrompt(session_, target, prompter_, run_dialog_).ok();
  settings.status = logged_in ? kStatusReached : kStatusUnreachable;
  if (logged_in) {
    SetLine(false, Format("Getting information %d/%d --> %s", k + 1, n, text.c_str()));
    if (auto words = session_.GetPortStatus(); words.ok())
      std::copy(words->begin(), words->end(), settings.port_status.begin());
    else
      settings.status = kStatusUnreachable;
  }
  session_.Close();
  skip_ = false;  // a SKIP during this server's session steps is spent on it
  return true;
}

std::vector<StatusLine> ServerStatusLines(const DiagConfig& c, const ComMappingTable& com) {
  std::vector<StatusLine> lines;
  for (int k = 0; k < c.server_count; ++k) {
    const ServerImage& image = c.images[static_cast<size_t>(k)];
    const ServerTestSettings& s = c.settings[static_cast<size_t>(k)];
    const bool found = s.status >= 1;
    lines.push_back({Format("%s , %s", image.name().c_str(), AddressToText(image.ip_address()).c_str()),
                     found ? StatusLine::Icon::kFound : StatusLine::Icon::kNotFound});
    const uint32_t v = image.firmware_version();
    lines.push_back({Format("(%s,Serial No: %d , Ver: %u.%u%u)",
                            std::string(ModelName(image.device_type())).c_str(),
                            image.serial_number(), (v >> 24) & 0xF, (v >> 20) & 0xF, (v >> 16) & 0xF),
                     StatusLine::Icon::kNone});
    if (!found) continue;
    for (int p = 0; p < image.shown_ports(); ++p) {
      const uint8_t kind = image.port_kind(static_cast<size_t>(p)) & ~0x10;
      std::string text;
      if (kind == 2) {
        const char* state = s.port_status[static_cast<size_t>(p)] == 0xFFFFFFFFu ? "Close" : "Open ";
        const int number = com.Lookup(image.ip_address(), image.serial_number(), p);
        text = number < 0 ? Format("    Port %d - COM port,%s", p + 1, state)
                          : Format("    Port %d - COM%d ,%s", p + 1, number, state);
      } else if (kind == 6) {
        text = Format("    Port %d - WAN port", p + 1);
      } else {
        text = Format("    Port %d -   ---  ", p + 1);
      }
      lines.push_back({std::move(text), StatusLine::Icon::kNone});
    }
  }
  return lines;
}

}  // namespace zelin::portcheck
