#include "protocol/frames.hpp"

#include <algorithm>
#include <cstdio>

#include "platform/text_format.hpp"

namespace zelin::frames {
namespace {

using namespace wire;

void PutHeaderStart(MutableBytes frame, uint8_t code, uint16_t sequence) {
  frame[kOffCode] = code;
  frame[kOffStatus] = 0;
  PutBe16(frame, kOffLength, static_cast<uint16_t>(frame.size()));
  PutLe16(frame, kOffSequence, sequence);
}

Bytes Le16Bytes(uint16_t v, std::array<uint8_t, 2>& storage) {
  PutLe16(storage, 0, v);
  return storage;
}

// A password held in 16 bytes, padded with zero bytes.
std::array<uint8_t, kMaxPasswordLength> Padded(std::string_view s) {
  std::array<uint8_t, kMaxPasswordLength> out{};
  std::copy_n(s.begin(), std::min(s.size(), out.size()), out.begin());
  return out;
}

}  // namespace

// --- discovery ---------------------------------------------------------------

std::vector<uint8_t> BuildSearch(std::span<const ServerRecord> exclude) {
  std::vector<uint8_t> out(kSearchSize + kSearchExclusionSize * exclude.size());
  PutHeaderStart(out, kSearch, 0);
  size_t at = kSearchSize;
  for (const ServerRecord& r : exclude) {
    PutLe16(out, at, r.device_type());
    PutLe16(out, at + 2, r.serial_number());
    at += kSearchExclusionSize;
  }
  return out;
}

bool IsSearchReplyShape(Bytes kept, size_t full_length) {
  return full_length == kSearchReplySize && kept.size() == kSearchReplySize &&
         kept[kOffCode] == (kSearch | kReplyBit) && kept[kOffStatus] == kStatusOk;
}

void CleanSearchReplyName(MutableBytes reply) {
  if (reply.size() < kSrName + kNameSize) return;
  auto name = reply.subspan(kSrName, kNameSize);
  if (name[kNameSize - 1] != ' ') {
    name[kNameSize - 1] = 0;
    return;
  }
  // Trailing spaces go; the first character always stays.
  size_t end = kNameSize;
  while (end > 1 && name[end - 1] == ' ') --end;
  std::fill(name.begin() + static_cast<ptrdiff_t>(end), name.end(), uint8_t{0});
}

uint16_t ReplySequence(Bytes reply) {
  return reply.size() >= kOffSequence + 2 ? GetLe16(reply, kOffSequence) : 0;
}

// --- requests ------------------------------------------------------------------

std::array<uint8_t, kShortRequestSize> BuildShortRequest(uint8_t code, uint16_t sequence,
                                                         DeviceType type, uint16_t serial) {
  std::array<uint8_t, kShortRequestSize> out{};
  PutHeaderStart(out, code, sequence);
  PutLe16(out, kShortDeviceType, type);
  PutLe16(out, kShortSerial, serial);
  return out;
}

Md5Digest RequestDigest(std::string_view password, const Nonce& nonce) {
  return Md5({AsBytes(password), Bytes(nonce)});
}

void WriteAuthHeader(MutableBytes frame, uint8_t code, uint16_t sequence, const Md5Digest& digest,
                     DeviceType type, uint16_t serial) {
  PutHeaderStart(frame, code, sequence);
  std::copy(digest.begin(), digest.end(), frame.begin() + kAuthDigest);
  PutLe16(frame, kAuthDeviceType, type);
  PutLe16(frame, kAuthSerial, serial);
}

void PutSetPasswordPayload(MutableBytes frame, std::string_view current,
                           std::string_view new_password, uint16_t serial, uint32_t t) {
  std::array<uint8_t, 2> serial_le;
  std::array<uint8_t, 4> t_le, t_be;
  PutLe32(t_le, 0, t);
  PutBe32(t_be, 0, t);
  Le16Bytes(serial, serial_le);
  const std::string_view next = new_password.substr(0, kMaxPasswordLength);

  PutLe32(frame, kPwTimeLe, t);
  const Md5Digest mask = Md5({AsBytes(current), Bytes(serial_le), Bytes(t_le)});
  const auto padded = Padded(next);
  for (size_t i = 0; i < kMaxPasswordLength; ++i)
    frame[kPwMaskedNew + i] = static_cast<uint8_t>(padded[i] ^ mask[i]);
  PutBe32(frame, kPwTimeBe, t);
  const Md5Digest check = Md5({AsBytes(next), Bytes(serial_le), Bytes(t_be)});
  std::copy(check.begin(), check.end(), frame.begin() + kPwNewDigest);
}

namespace {

// Request length of an authenticated command, 0 for codes that are not one.
size_t AuthRequestSize(const ServerRecord& r, uint8_t code) {
  switch (code) {
    case kSetAddress:
      return kSetAddressSize;
    case kSaveAndRestart:
      return kSaveAndRestartSize;
    case kSetName:
      return kSetNameSize;
    case kSetPortKinds:
      return kSetPortKindsSize;
    case kSetPassword:
      return kSetPasswordSize;
    case kAddRoute:
      return kAddRouteSize;
    case kGetRoutes:
      return kGetRoutesSize;
    case kGetAccessList:
      return kGetAccessListSize;
    case kSetAccessList: {
      const size_t count = std::min<size_t>(r.access_count, kTableCapacity);
      return kSetAccessListBaseSize + kAccessEntrySize * count;
    }
    case kCheckAddress:
      return kCheckAddressSize;
    case kLogin:
      return kLoginSize;
    case kDhcp:
      return kDhcpSize;
    default:
      return 0;
  }
}

void PutPayload(MutableBytes f, const ServerRecord& r, uint8_t code, uint32_t t) {
  const size_t p = kAuthHeaderSize;
  switch (code) {
    case kSetAddress:
      PutIpv4(f, p, r.ip_address());
      PutIpv4(f, p + 4, r.netmask());
      break;
    case kSetName: {
      const std::string name = r.name();
      std::fill_n(f.begin() + p, kNameSize, uint8_t{' '});
      std::copy_n(name.begin(), std::min(name.size(), kNameSize), f.begin() + p);
      break;
    }
    case kSetPortKinds:
      std::copy_n(r.search_reply.begin() + kSrPortKinds, kMaxPorts, f.begin() + p);
      break;
    case kSetPassword:
      PutSetPasswordPayload(f, r.password, r.new_password, r.serial_number(), t);
      break;
    case kAddRoute:
      PutRouteEntry(f, p, r.route_to_send);
      break;
    case kGetRoutes:
      PutLe16(f, p, r.route_start);
      break;
    case kGetAccessList:
      PutLe16(f, p, r.access_start);
      break;
    case kSetAccessList: {
      const size_t count = (f.size() - kSetAccessListBaseSize) / kAccessEntrySize;
      PutLe16(f, p, r.access_total);
      PutLe16(f, p + 2, r.access_start);
      PutLe16(f, p + 4, static_cast<uint16_t>(count));
      // Entries come from table index `start`; slots past the record's 32 are sent empty.
      for (size_t i = 0; i < count; ++i) {
        const size_t index = size_t{r.access_start} + i;
        const AccessEntry e = index < kTableCapacity ? r.access_table[index] : AccessEntry{};
        PutAccessEntry(f, kSetAccessListBaseSize + kAccessEntrySize * i, e);
      }
      break;
    }
    case kCheckAddress:
      PutIpv4(f, p, r.ip_address());
      break;
    case kDhcp:
      f[p] = r.dhcp;
      f[p + 1] = 0;
      break;
    default:  // SaveAndRestart, Login: no payload
      break;
  }
}

}  // namespace

Result<std::vector<uint8_t>> BuildRequest(const ServerRecord& r, uint8_t code,
                                          uint32_t unix_seconds) {
  if (r.password.size() > kMaxPasswordLength) return LastCommandError::kPasswordTooLong;
  const auto sequence = static_cast<uint16_t>(r.sequence);
  if (code == kLocateOn || code == kLocateOff) {
    const auto s = BuildShortRequest(code, sequence, r.device_type(), r.serial_number());
    return std::vector<uint8_t>(s.begin(), s.end());
  }
  const size_t size = AuthRequestSize(r, code);
  if (size == 0) return LastCommandError::kUnknownCommand;
  if (code == kSetPassword && r.new_password.size() > kMaxPasswordLength)
    return LastCommandError::kPasswordTooLong;
  std::vector<uint8_t> out(size);
  WriteAuthHeader(out, code, sequence, RequestDigest(r.password, r.nonce), r.device_type(),
                  r.serial_number());
  PutPayload(out, r, code, unix_seconds);
  return out;
}

// --- replies -----------------------------------------------------------------

std::optional<ReplySpec> ReplySpecFor(uint8_t code) {
  switch (code) {
    case kLocateOn:
    case kLocateOff:
    case kSetAddress:
    case kSaveAndRestart:
    case kSetName:
    case kSetPortKinds:
    case kSetPassword:
    case kAddRoute:
      return ReplySpec{kAckReplySize, true, kAckReplySize};  // the bare acknowledgement
    default:
      break;
  }
  // The replies that carry a payload.
  static constexpr std::pair<uint8_t, ReplySpec> kPayloadReplies[] = {
      {kGetRoutes, {kGetRoutesReplySize, false, kTableSlots}},
      {kGetAccessList, {kGetAccessListReplySize, false, kTableSlots}},
      {kSetAccessList, {kSetAccessListReplySize, true, kSetAccessListReplySize}},
      {kCheckAddress, {kCheckAddressReplySize, true, kCheckAddressReplySize}},
      {kLogin, {kLoginReplySize, false, kReplyHeaderSize}},
      {kDhcp, {kDhcpReplySize, false, kReplyPayload + 1}},
  };
  for (const auto& [reply_code, shape] : kPayloadReplies)
    if (reply_code == code) return shape;
  return std::nullopt;
}

LastCommandError CheckReply(Bytes kept, size_t full_length, uint8_t code,
                            const ServerRecord& record) {
  const auto shape = ReplySpecFor(code);
  if (!shape) return LastCommandError::kUnknownCommand;
  if (shape->length_checked ? full_length != shape->expected : kept.size() < kReplyHeaderSize)
    return LastCommandError::kWrongLength;
  if (kept.size() < kReplyHeaderSize) return LastCommandError::kWrongLength;
  if (kept[kOffCode] != static_cast<uint8_t>(code + kReplyBit))
    return LastCommandError::kWrongCodeOrRefused;
  if (GetLe16(kept, kOffSequence) != static_cast<uint16_t>(record.sequence))
    return LastCommandError::kWrongSequence;
  if (GetLe16(kept, kReplyDeviceType) != record.device_type())
    return LastCommandError::kWrongDeviceType;
  if (GetLe16(kept, kReplySerial) != record.serial_number()) return LastCommandError::kWrongSerial;
  return LastCommandError::kNone;
}

Nonce ReplyNonce(Bytes reply) {
  Nonce n{};
  if (reply.size() >= kReplyNonce + n.size())
    std::copy_n(reply.begin() + kReplyNonce, n.size(), n.begin());
  return n;
}

ReplyStep TakeReply(Bytes kept, size_t full_length, uint8_t code, ServerRecord& r) {
  const LastCommandError e = CheckReply(kept, full_length, code, r);
  if (e != LastCommandError::kNone) return {false, e, {}};
  const uint8_t status = kept[kOffStatus];
  if (status == kStatusRefused) {
    // Refused (for example a wrong password digest): the server moved on all the same.
    r.nonce = ReplyNonce(kept);
    ++r.sequence;
    return {true, LastCommandError::kWrongCodeOrRefused, {}};
  }
  if (status != kStatusOk) return {false, LastCommandError::kErrorStatus, {}};
  if (kept.size() < ReplySpecFor(code)->needed)  // too short to carry the command's payload
    return {false, LastCommandError::kWrongLength, {}};
  Result<Messages> applied = ApplyReplyPayload(code, kept, r);
  if (!applied) return {true, LastCommandError::kErrorStatus, {applied.status().message()}};
  r.nonce = ReplyNonce(kept);
  ++r.sequence;
  return {true, LastCommandError::kNone, std::move(*applied)};
}

Status ParseGetRoutesReply(Bytes reply, ServerRecord& r) {
  if (reply.size() < kTableSlots) return LastCommandError::kWrongLength;
  const uint16_t total = GetLe16(reply, kTableTotal);
  const uint16_t start = GetLe16(reply, kTableStart);
  const uint16_t count = GetLe16(reply, kTableCount);
  if (total > kTableLimit)
    return Status(LastCommandError::kErrorStatus, Format("Routing number(%d) too much", total));
  r.route_total = total;
  r.route_start = start;
  r.route_count = count;
  // The entry of table index i sits at 24 + 14·i; the record holds 32.
  const size_t end = std::min<size_t>(size_t{start} + count, kTableCapacity);
  for (size_t i = start; i < end; ++i) {
    const size_t at = kTableSlots + kRouteEntrySize * i;
    if (at + kRouteEntrySize > reply.size()) break;
    r.route_table[i] = GetRouteEntry(reply, at);
  }
  return {};
}

Messages ParseGetAccessListReply(Bytes reply, ServerRecord& r) {
  Messages messages;
  if (reply.size() < kTableSlots) return messages;
  const uint16_t total = GetLe16(reply, kTableTotal);
  const uint16_t start = GetLe16(reply, kTableStart);
  // Valid entries run from the first slot up to the first address 0 or
  // 255.255.255.255, and no further than the total.
  int valid = 0;
  for (size_t slot = 0; slot < kTableSlotCount && valid < total; ++slot) {
    const size_t at = kTableSlots + kAccessEntrySize * slot;
    if (at + kAccessEntrySize > reply.size()) break;
    const Ipv4 a = GetIpv4(reply, at);
    if (a == 0 || a == kBroadcastAddress) break;
    ++valid;
  }
  if (total > kTableLimit) messages.push_back(Format("Security number are too much : %d", total));
  if (valid + start > kTableLimit)
    messages.push_back(Format("Security number are too much : num(%d) + start(%d)", valid, start));
  r.access_total = static_cast<uint16_t>(valid);
  r.access_start = start;
  r.access_count = static_cast<uint16_t>(valid);
  const size_t end = std::min<size_t>(size_t{start} + static_cast<size_t>(valid), kTableCapacity);
  for (size_t i = start; i < end; ++i) {
    const size_t at = kTableSlots + kAccessEntrySize * i;
    if (at + kAccessEntrySize > reply.size()) break;
    r.access_table[i] = GetAccessEntry(reply, at);
  }
  return messages;
}

void ParseCheckAddressReply(Bytes reply, ServerRecord& r) {
  if (reply.size() < kCheckHardwareAddress + 6) return;
  const auto hw = reply.subspan(kCheckHardwareAddress, 6);
  std::copy(hw.begin(), hw.end(), r.conflict_hardware.begin());
  const bool conflict = std::any_of(hw.begin(), hw.end(), [](uint8_t b) { return b != 0; });
  r.set_flags(conflict ? static_cast<uint8_t>(r.flags() | kFlagAddressConflict)
                       : static_cast<uint8_t>(r.flags() & ~kFlagAddressConflict));
}

void ParseDhcpReply(Bytes reply, ServerRecord& r) {
  if (reply.size() > kReplyPayload) r.dhcp = reply[kReplyPayload];
}

Result<Messages> ApplyReplyPayload(uint8_t code, Bytes reply, ServerRecord& r) {
  switch (code) {
    case kGetRoutes:
      if (Status st = ParseGetRoutesReply(reply, r); !st) return st;
      break;
    case kGetAccessList:
      return ParseGetAccessListReply(reply, r);
    case kCheckAddress:
      ParseCheckAddressReply(reply, r);
      break;
    case kDhcp:
      ParseDhcpReply(reply, r);
      break;
    default:
      break;
  }
  return Messages{};
}

// --- TCP session messages ------------------------------------------------------

std::optional<Nonce> ParseTcpChallenge(Bytes m) {
  if (m.size() != kTcpChallengeSize || m[0] != kTcpLoginRequest || m[1] != kTcpChallengeTag)
    return std::nullopt;
  Nonce n;
  std::copy_n(m.begin() + kTcpChallengeNonce, n.size(), n.begin());
  return n;
}

std::array<uint8_t, kTcpLoginAnswerSize> BuildTcpLoginAnswer(std::string_view password,
                                                             const Nonce& nonce) {
  std::array<uint8_t, kTcpLoginAnswerSize> out{};
  out[0] = kTcpLoginResultTag;
  const Md5Digest d = RequestDigest(password, nonce);
  std::copy(d.begin(), d.end(), out.begin() + 1);
  return out;
}

bool IsTcpPair(Bytes m, uint8_t first, uint8_t second) {
  return m.size() == kTcpReplySize && m[0] == first && m[1] == second;
}

std::array<uint8_t, kTcpDownloadRequestSize> BuildDownloadRequest(uint32_t file_length) {
  std::array<uint8_t, kTcpDownloadRequestSize> out{};
  out[0] = kTcpDownload;
  PutLe32(out, 1, file_length);
  return out;
}

}  // namespace zelin::frames
