#include "emulator/device.hpp"

#include <md5.h>

#include <algorithm>
#include <cstdio>

#include "emulator/request_log.hpp"
#include "protocol/address.hpp"

namespace zelin::emulator {
namespace {

constexpr size_t kMaxClients = 64;
constexpr size_t kMaxSearchNonces = 8;
constexpr size_t kImageHeadBytes = 64;
constexpr size_t kTcpPendingLimit = 4096;

}  // namespace

std::string EndpointText(const Endpoint& e) {
  return AddressToText(e.address) + ":" + std::to_string(e.port);
}

std::string DeviceSettings::NameText() const {
  size_t end = name.size();
  while (end > 0 && (name[end - 1] == ' ' || name[end - 1] == 0)) --end;
  return std::string(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(end));
}

// --- Device -------------------------------------------------------------------------

Device::Device(const ServerSpec& desc, uint64_t seed, bool strict_nonce)
    : rng_(seed ^ (uint64_t{desc.type} << 32) ^ (uint64_t{desc.serial} * 0x9E3779B97F4A7C15ull)) {
  state_.type = desc.type;
  state_.serial = desc.serial;
  state_.firmware = desc.firmware;
  state_.flags = desc.flags;
  state_.port_count = desc.port_count;
  state_.hardware = desc.hardware;
  DeviceSettings& s = state_.applied;
  s.name.fill(' ');
  std::copy_n(desc.name.begin(), std::min(desc.name.size(), s.name.size()), s.name.begin());
  s.ip = desc.ip;
  s.netmask = desc.netmask;
  s.password = desc.password;
  s.port_kinds = desc.port_kinds;
  s.dhcp = desc.dhcp;
  s.access = desc.access;
  s.routes = desc.routes;
  state_.staged = s;
  state_.firmware_rule = desc.firmware_rule;
  state_.faults = desc.faults;
  state_.strict_nonce = strict_nonce;
  state_.diag = desc.diag;
  state_.port_status = desc.port_status;
}

Nonce Device::FreshNonce() {
  const uint64_t v = rng_();
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

uint8_t Device::ReportedFlags(const AddressOwners& owners) const {
  uint8_t flags = state_.flags & static_cast<uint8_t>(~wire::kFlagPassword);
  if (!state_.applied.password.empty()) flags |= wire::kFlagPassword;
  if (owners.Owner(state_.applied.ip, state_)) flags |= wire::kFlagAddressConflict;
  return flags;
}

void Device::BeginRestart(bool apply_staged) {
  if (apply_staged) {
    state_.applied = state_.staged;
  } else {
    state_.staged = state_.applied;
  }
  state_.restarting = true;
  state_.locating = false;
  ++state_.restarts;
}

Device::Client& Device::ClientFor(Endpoint from) {
  auto it = clients_.find(from);
  if (it == clients_.end()) {
    if (clients_.size() >= kMaxClients) {
      auto oldest = std::min_element(
          clients_.begin(), clients_.end(),
          [](const auto& a, const auto& b) { return a.second.last_use < b.second.last_use; });
      clients_.erase(oldest);
    }
    it = clients_.emplace(from, Client{}).first;
  }
  it->second.last_use = ++use_counter_;
  state_.clients = clients_.size();
  return it->second;
}

void Device::WriteReplyHeader(std::vector<uint8_t>& reply, uint8_t code, uint8_t status,
                              uint16_t sequence, const Nonce& nonce) const {
  reply[wire::kOffCode] = static_cast<uint8_t>(code | wire::kReplyBit);
  reply[wire::kOffStatus] = status;
  PutBe16(reply, wire::kOffLength, static_cast<uint16_t>(reply.size()));
  PutLe16(reply, wire::kOffSequence, sequence);
  std::copy(nonce.begin(), nonce.end(), reply.begin() + wire::kReplyNonce);
  PutLe16(reply, wire::kReplyDeviceType, state_.type);
  PutLe16(reply, wire::kReplySerial, state_.serial);
}

UdpOutcome Device::HandleDatagram(Bytes d, Endpoint from, const UdpDispatch& dispatch,
                                  const AddressOwners& owners) {
  UdpOutcome out;
  auto ignore = [&out](std::string why) -> UdpOutcome& {
    out.verdict = "ignored:" + why;
    out.reply.clear();
    return out;
  };
  if (state_.restarting) return ignore("restarting");
  if (d.size() < wire::kSearchSize) return ignore("too short");
  const uint8_t code = d[wire::kOffCode];
  out.sequence = GetLe16(d, wire::kOffSequence);
  if (d[wire::kOffStatus] != 0) return ignore("byte 1 not zero");
  if (GetBe16(d, wire::kOffLength) != d.size()) return ignore("length field differs from datagram");
  const UdpHandler* h = dispatch.Find(code);
  if (h == nullptr || h->handle == nullptr) return ignore("unknown code");
  const bool size_ok =
      h->request_step == 0
          ? d.size() == h->request_size
          : d.size() >= h->request_size && (d.size() - h->request_size) % h->request_step == 0;
  if (!size_ok) return ignore("wrong size for code");
  const uint16_t sequence = GetLe16(d, wire::kOffSequence);

  std::vector<uint8_t> reply(std::max(h->reply_size, wire::kReplyHeaderSize), 0);
  UdpContext ctx{*this, d, from, reply, owners, false, {}};

  if (h->frame == FrameKind::kSearch) {
    HandlerResult r = h->handle(ctx);
    if (r.ignore) return ignore(r.reason);
    if (reply.size() < wire::kReplyHeaderSize) reply.resize(wire::kReplyHeaderSize);
    // A search opens a new conversation (sequence 1, a search reply's nonce) without
    // ending the one in progress: a client that probes a server it already knows
    // refreshes only the name and port kinds and goes on with its own sequence and nonce.
    // In strict mode it does end it.
    Client& c = ClientFor(from);
    if (state_.strict_nonce) {
      // Only this reply's nonce opens the next request: the conversation in progress
      // ends, and so does the replay of its last request.
      c.search_nonces.clear();
      c.in_session = false;
      c.has_last = false;
    } else if (!c.after_search) {
      c.search_nonces.clear();
    }
    c.known = true;
    c.after_search = true;
    const Nonce nonce = FreshNonce();
    c.search_nonces.push_back(nonce);
    if (c.search_nonces.size() > kMaxSearchNonces) c.search_nonces.erase(c.search_nonces.begin());
    WriteReplyHeader(reply, code, r.status, 0, nonce);
    out.previous = c.last_reply;
    c.last_reply = reply;
    out.status = r.status;
    out.verdict = "ok";
    out.reply = std::move(reply);
    return out;
  }

  const bool is_short = h->frame == FrameKind::kShort;
  const bool no_digest = is_short || h->frame == FrameKind::kUnsigned;
  const size_t at_type = is_short ? wire::kShortDeviceType : wire::kAuthDeviceType;
  const size_t at_serial = is_short ? wire::kShortSerial : wire::kAuthSerial;
  if (d.size() < at_serial + 2) return ignore("too short");
  const DeviceType named_type = GetLe16(d, at_type);
  const uint16_t named_serial = GetLe16(d, at_serial);
  const bool for_me = h->any_model && named_type == 0 ? named_serial == state_.serial
                                                      : IsSelf(named_type, named_serial);
  if (!for_me) return ignore("for another server");

  Client& c = ClientFor(from);
  HandlerResult r;
  if (no_digest) {
    r = h->handle(ctx);
    if (r.ignore) return ignore(r.reason);
  } else {
    Md5Digest digest;
    std::copy_n(d.begin() + wire::kAuthDigest, digest.size(), digest.begin());
    const bool same_step = c.has_last && c.last_code == code && c.last_sequence == sequence &&
                           c.last_digest == digest;
    const int answered = c.last_answer.size() > 1 ? c.last_answer[wire::kOffStatus] : -1;
    const bool moved_on = answered == wire::kStatusOk || answered == wire::kStatusRefused;
    if (same_step && (moved_on || std::equal(d.begin(), d.end(), c.last_request.begin(),
                                             c.last_request.end()))) {
      // A retransmission of the request just answered: the same reply again.
      out.verdict = "replayed";
      out.reply = c.last_answer;
      out.status = answered;
      return out;
    }
    std::string why;
    bool authentic = false;
    if (!c.known) {
      why = "no nonce handed out to this client";
    } else {
      const bool fresh = c.after_search && sequence == 1;
      const bool ongoing = c.in_session && sequence == c.expected_sequence;
      if (!fresh && !ongoing) {
        why = "sequence " + std::to_string(sequence) + ", expected " +
              std::to_string(c.after_search ? 1 : c.expected_sequence);
        if (c.after_search && c.in_session) why += " or " + std::to_string(c.expected_sequence);
      } else {
        const std::string& password = state_.applied.password;
        if (fresh) {
          for (const Nonce& n : c.search_nonces)
            authentic = authentic || Md5({AsBytes(password), Bytes(n)}) == digest;
        }
        if (ongoing) authentic = authentic || Md5({AsBytes(password), Bytes(c.nonce)}) == digest;
        if (!authentic) why = "digest";
      }
    }
    if (!authentic) {
      r = HandlerResult::Status(wire::kStatusRefused, why);
    } else if (state_.faults.refuse ||
               (state_.faults.refuse_code != 0 && state_.faults.refuse_code == code)) {
      r = HandlerResult::Status(wire::kStatusRefused, "refuse fault");
    } else {
      r = h->handle(ctx);
      if (r.ignore) return ignore(r.reason);
    }
    c.has_last = true;
    c.last_request.assign(d.begin(), d.end());
    c.last_code = code;
    c.last_sequence = sequence;
    c.last_digest = digest;
  }
  if (reply.size() < wire::kReplyHeaderSize) reply.resize(wire::kReplyHeaderSize);
  if (r.status == wire::kStatusRefused) std::fill(reply.begin(), reply.end(), 0);
  if (no_digest || r.status == wire::kStatusOk || r.status == wire::kStatusRefused) {
    // Clients take the nonce of these replies and step their sequence number.
    const Nonce nonce = FreshNonce();
    WriteReplyHeader(reply, code, r.status, sequence, nonce);
    c.known = true;
    c.in_session = true;
    c.after_search = false;
    c.search_nonces.clear();
    c.nonce = nonce;
    c.expected_sequence = static_cast<uint16_t>(sequence + 1);
  } else {
    // Clients skip a reply with an error status and keep their sequence and nonce,
    // so the device keeps them too; a retry is answered from the replay cache.
    WriteReplyHeader(reply, code, r.status, sequence,
                     c.after_search && !c.search_nonces.empty() ? c.search_nonces.back() : c.nonce);
  }
  out.previous = c.last_reply;
  c.last_reply = reply;
  if (no_digest) {
    c.has_last = false;
  } else {
    c.last_answer = reply;
  }

  out.status = r.status;
  if (r.status == wire::kStatusOk) {
    out.verdict = "ok";
  } else if (r.status == wire::kStatusRefused) {
    out.verdict = "refused:" + r.reason;
  } else {
    out.verdict = "error " + std::to_string(r.status) + ":" + r.reason;
  }
  if (!ctx.note.empty()) out.verdict += " (" + ctx.note + ")";
  out.restart_after_reply = r.status == wire::kStatusOk && ctx.restart_after_reply;
  out.reply = std::move(reply);
  return out;
}

// --- TcpSession ---------------------------------------------------------------------

struct TcpSession::Md5Stream {
  MD5_CTX ctx;
};

TcpSession::TcpSession(Device& device, const TcpDispatch& dispatch)
    : device_(device), dispatch_(dispatch), md5_(std::make_unique<Md5Stream>()) {}

TcpSession::~TcpSession() = default;

void TcpSession::BeginImage(uint32_t length) {
  stage_ = Stage::kImage;
  image_length_ = length;
  image_received_ = 0;
  image_head_.clear();
  MD5Init(&md5_->ctx);
}

TcpAction TcpSession::FinishImage(std::vector<uint8_t>& out, std::vector<Event>& events) {
  DeviceState& st = device_.mutable_state();
  const FirmwareRule& rule = st.firmware_rule;
  Md5Digest digest;
  MD5Final(digest.data(), &md5_->ctx);
  std::string why;
  if (image_length_ < rule.min_size) {
    why = "smaller than " + std::to_string(rule.min_size) + " bytes";
  } else if (image_head_.size() < rule.prefix.size() ||
             !std::equal(rule.prefix.begin(), rule.prefix.end(), image_head_.begin())) {
    why = "does not start with the required bytes";
  }
  const bool accepted = why.empty();
  ImageRecord rec;
  rec.size = image_length_;
  rec.md5_hex = HexOf(digest);
  rec.accepted = accepted;
  st.last_image = rec;
  out.push_back(wire::kTcpDownload);
  out.push_back(accepted ? wire::kTcpDownloadAccepted : rule.reject_status);
  Event ev{wire::kTcpDownload, static_cast<size_t>(image_length_), {}, {}};
  ev.head.assign(image_head_.begin(), image_head_.end());
  if (accepted) {
    st.firmware = rule.upgraded_version.value_or(st.firmware + 1);
    ++st.upgrades;
    restart_requested_ = true;
    ev.verdict = "image accepted, md5 " + rec.md5_hex;
  } else {
    ev.verdict = "image rejected: " + why;
  }
  events.push_back(std::move(ev));
  stage_ = Stage::kReady;
  return TcpAction::kContinue;
}

TcpAction TcpSession::Feed(Bytes in, std::vector<uint8_t>& out, std::vector<Event>& events) {
  size_t pos = 0;          // next unread byte of `in`
  size_t pending_pos = 0;  // next unread byte of pending_
  auto close = [&](std::string verdict, uint8_t code, size_t length) {
    events.push_back({code, length, std::move(verdict), {}});
    stage_ = Stage::kClosed;
    pending_.clear();
    return TcpAction::kClose;
  };
  for (;;) {
    if (stage_ == Stage::kClosed) return TcpAction::kClose;
    if (stage_ == Stage::kImage) {
      const uint8_t* src = nullptr;
      size_t avail = 0;
      if (pending_pos < pending_.size()) {
        src = pending_.data() + pending_pos;
        avail = pending_.size() - pending_pos;
      } else if (pos < in.size()) {
        src = in.data() + pos;
        avail = in.size() - pos;
      }
      const uint64_t left = image_length_ - image_received_;
      const size_t take = static_cast<size_t>(std::min<uint64_t>(left, avail));
      if (take > 0) {
        if (image_head_.size() < kImageHeadBytes) {
          const size_t head = std::min(take, kImageHeadBytes - image_head_.size());
          image_head_.insert(image_head_.end(), src, src + head);
        }
        MD5Update(&md5_->ctx, src, take);
        image_received_ += take;
        if (pending_pos < pending_.size()) {
          pending_pos += take;
        } else {
          pos += take;
        }
      }
      if (image_received_ == image_length_) {
        if (FinishImage(out, events) == TcpAction::kClose) return TcpAction::kClose;
        continue;
      }
      if (take == 0) break;
      continue;
    }
    // Command bytes: gather everything received so far, then parse whole messages.
    if (pos < in.size()) {
      if (pending_pos > 0) {
        pending_.erase(pending_.begin(),
                       pending_.begin() + static_cast<std::ptrdiff_t>(pending_pos));
        pending_pos = 0;
      }
      pending_.insert(pending_.end(), in.begin() + static_cast<std::ptrdiff_t>(pos), in.end());
      pos = in.size();
    }
    const size_t avail = pending_.size() - pending_pos;
    if (avail == 0) break;
    const uint8_t* p = pending_.data() + pending_pos;
    const uint8_t first = p[0];
    if (stage_ == Stage::kAwaitLogin) {
      if (first != wire::kTcpLoginRequest)
        return close("ignored:not a login request", first, avail);
      challenge_ = device_.FreshNonce();
      const ChallengeFault fault = device_.state().faults.tcp_challenge;
      out.push_back(wire::kTcpLoginRequest);
      out.push_back(fault == ChallengeFault::kWrongTag ? uint8_t{0x05} : wire::kTcpChallengeTag);
      out.insert(out.end(), challenge_.begin(), challenge_.end());
      if (fault == ChallengeFault::kSevenBytes) out.push_back(0x00);
      events.push_back(
          {first,
           1,
           fault == ChallengeFault::kNone ? "challenge" : "challenge (malformed fault)",
           {first}});
      pending_pos += 1;
      stage_ = Stage::kAwaitAnswer;
      continue;
    }
    if (stage_ == Stage::kAwaitAnswer) {
      if (avail < wire::kTcpLoginAnswerSize) break;
      Md5Digest digest;
      std::copy_n(p + 1, digest.size(), digest.begin());  // after the tag
      const bool right =
          first == wire::kTcpLoginResultTag &&
          digest == Md5({AsBytes(device_.state().applied.password), Bytes(challenge_)});
      pending_pos += wire::kTcpLoginAnswerSize;
      if (right && !device_.state().faults.tcp_refuse_login) {
        out.push_back(wire::kTcpLoginResultTag);
        out.push_back(wire::kTcpLoginAccepted);
        events.push_back({first, wire::kTcpLoginAnswerSize, "login accepted", {first}});
        stage_ = Stage::kReady;
        continue;
      }
      out.push_back(wire::kTcpLoginResultTag);
      out.push_back(0x00);  // anything but "accepted"
      return close(right ? "login refused (fault)" : "login refused: wrong digest", first,
                   wire::kTcpLoginAnswerSize);
    }
    // Logged in: the command table.
    const TcpHandler* h = dispatch_.Find(first);
    if (h == nullptr || h->handle == nullptr) return close("ignored:unknown command", first, avail);
    if (avail < h->request_size) {
      if (h->request_size > kTcpPendingLimit)
        return close("ignored:request too large", first, avail);
      break;
    }
    TcpContext ctx{device_, *this, Bytes(p, h->request_size), out, "ok"};
    const TcpAction action = h->handle(ctx);
    events.push_back({first, h->request_size, ctx.verdict,
                      std::vector<uint8_t>(p, p + std::min<size_t>(h->request_size, 16))});
    pending_pos += h->request_size;
    if (action == TcpAction::kClose) {
      stage_ = Stage::kClosed;
      pending_.clear();
      return TcpAction::kClose;
    }
  }
  // Keep only what is still unread.
  if (pending_pos > 0)
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pending_pos));
  return TcpAction::kContinue;
}

}  // namespace zelin::emulator
