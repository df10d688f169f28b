#include "portcheck/core/diag_config.hpp"

#include <algorithm>

#include "platform/text_format.hpp"

namespace zelin::portcheck {
namespace {

constexpr size_t kOffMagic = 0;
constexpr size_t kOffTestFlags = 4;
constexpr size_t kOffBaud = 8;
constexpr size_t kOffSerialMode = 12;
constexpr size_t kOffCount = 16;
constexpr size_t kOffImages = 20;
constexpr size_t kOffSettings = kOffImages + kMaxDiagServers * kServerImageSize;  // 2772
constexpr size_t kOffReserved = kOffSettings + kMaxDiagServers * kServerSettingsSize;  // 7252
static_assert(kOffSettings == 2772);
static_assert(kOffReserved == 7252);
static_assert(kOffReserved + kMaxDiagServers * kServerReservedSize == kDiagConfigSize);
static_assert(kDiagConfigSize == 7764);

constexpr size_t kSetPassword = 0;
constexpr size_t kPasswordField = 64;
constexpr size_t kSetPortMask = 64;
constexpr size_t kSetFlags = 68;
constexpr size_t kSetStatus = 72;
constexpr size_t kSetPortStatus = 76;

void PutSettings(MutableBytes b, size_t at, const ServerTestSettings& s) {
  const size_t n = std::min(s.password.size(), kPasswordField - 1);
  for (size_t i = 0; i < n; ++i) b[at + kSetPassword + i] = static_cast<uint8_t>(s.password[i]);
  PutLe32(b, at + kSetPortMask, s.port_mask);
  PutLe32(b, at + kSetFlags, s.server_flags);
  PutLe32(b, at + kSetStatus, static_cast<uint32_t>(s.status));
  for (size_t p = 0; p < kMaxDiagPorts; ++p)
    PutLe32(b, at + kSetPortStatus + 4 * p, s.port_status[p]);
}

ServerTestSettings GetSettings(Bytes b, size_t at) {
  ServerTestSettings s;
  for (size_t i = 0; i < kPasswordField && b[at + i] != 0; ++i)
    s.password.push_back(static_cast<char>(b[at + i]));
  if (s.password.size() > kMaxPasswordLength) s.password.resize(kMaxPasswordLength);
  s.port_mask = GetLe32(b, at + kSetPortMask);
  s.server_flags = GetLe32(b, at + kSetFlags);
  s.status = static_cast<int32_t>(GetLe32(b, at + kSetStatus));
  for (size_t p = 0; p < kMaxDiagPorts; ++p)
    s.port_status[p] = GetLe32(b, at + kSetPortStatus + 4 * p);
  return s;
}

}  // namespace

uint32_t BaudRate(uint32_t index) { return index < kBaudTable.size() ? kBaudTable[index] : 0; }

int ServerImage::shown_ports() const { return std::min<int>(port_count(), kMaxDiagPorts); }

std::string ServerImage::name() const {
  std::string out;
  for (size_t i = 0; i < wire::kNameSize && bytes[wire::kSrName + i] != 0; ++i)
    out.push_back(static_cast<char>(bytes[wire::kSrName + i]));
  return out;
}

ServerImage ServerImage::FromReply(std::span<const uint8_t, kServerImageSize> reply) {
  ServerImage im;
  std::copy(reply.begin(), reply.end(), im.bytes.begin());
  const size_t first = wire::kSrName;
  const size_t last = wire::kSrName + wire::kNameSize - 1;
  im.bytes[last] = 0;
  for (size_t at = last - 1; at > first && (im.bytes[at] == ' ' || im.bytes[at] == 0); --at)
    im.bytes[at] = 0;
  return im;
}

DiagConfig DiagConfig::Defaults() {
  DiagConfig c;
  c.magic = kDiagConfigMagic;
  c.test_flags = kDefaultTestFlags;
  c.baud_index = kDefaultBaudIndex;
  c.serial_mode = kDefaultSerialMode;
  return c;
}

bool DiagConfig::AddServer(const ServerImage& image, const ServerTestSettings& s) {
  if (server_count < 0 || server_count >= kMaxDiagServers) return false;
  images[server_count] = image;
  settings[server_count] = s;
  ++server_count;
  return true;
}

void DiagConfig::RemoveServer(int index) {
  if (index < 0 || index >= server_count) return;
  for (int i = index; i + 1 < server_count; ++i) {
    images[i] = images[i + 1];
    settings[i] = settings[i + 1];
  }
  --server_count;
}

DiagImage EncodeDiagConfig(const DiagConfig& c) {
  DiagImage out{};
  MutableBytes b(out);
  PutLe32(b, kOffMagic, c.magic);
  PutLe32(b, kOffTestFlags, c.test_flags);
  PutLe32(b, kOffBaud, c.baud_index);
  PutLe32(b, kOffSerialMode, c.serial_mode);
  PutLe32(b, kOffCount, static_cast<uint32_t>(c.server_count));
  for (size_t i = 0; i < kMaxDiagServers; ++i) {
    std::copy(c.images[i].bytes.begin(), c.images[i].bytes.end(),
              out.begin() + static_cast<std::ptrdiff_t>(kOffImages + i * kServerImageSize));
    PutSettings(b, kOffSettings + i * kServerSettingsSize, c.settings[i]);
  }
  return out;
}

std::optional<DiagConfig> DecodeDiagConfig(Bytes b) {
  if (b.size() != kDiagConfigSize) return std::nullopt;
  if (GetLe32(b, kOffMagic) != kDiagConfigMagic) return std::nullopt;
  DiagConfig c;
  c.magic = kDiagConfigMagic;
  c.test_flags = GetLe32(b, kOffTestFlags);
  c.baud_index = GetLe32(b, kOffBaud);
  c.serial_mode = b[kOffSerialMode];
  const uint32_t count = GetLe32(b, kOffCount);
  if (count > kMaxDiagServers || c.baud_index >= kBaudTable.size()) return std::nullopt;
  c.server_count = static_cast<int>(count);
  for (size_t i = 0; i < kMaxDiagServers; ++i) {
    const auto at = b.begin() + static_cast<std::ptrdiff_t>(kOffImages + i * kServerImageSize);
    std::copy(at, at + kServerImageSize, c.images[i].bytes.begin());
    c.settings[i] = GetSettings(b, kOffSettings + i * kServerSettingsSize);
  }
  return c;
}

int ParityIndex(uint8_t mode) {
  switch (mode & 0x38) {
    case 0x08: return 1;
    case 0x18: return 2;
    case 0x28: return 3;
    case 0x38: return 4;
    default: return 0;
  }
}

uint8_t ParityBits(int index) {
  static constexpr std::array<uint8_t, 5> kBits{0x00, 0x08, 0x18, 0x28, 0x38};
  return index >= 0 && index < 5 ? kBits[static_cast<size_t>(index)] : 0;
}

std::string_view ParityText(uint8_t mode) {
  static constexpr std::array<std::string_view, 5> kTexts{"NONE ", "ODD ", "EVEN ", "MARK ",
                                                          "SPACE "};
  return kTexts[static_cast<size_t>(ParityIndex(mode))];
}

std::string_view DataBitsText(uint8_t mode) {
  static constexpr std::array<std::string_view, 4> kTexts{"5 ", "6 ", "7 ", "8 "};
  return kTexts[mode & 3];
}

std::string_view StopBitsText(uint8_t mode, uint32_t test_flags) {
  if ((mode & 4) == 0) return "1";
  return (test_flags & kTwoStopBits) != 0 ? "2" : "1.5";
}

std::string FirmwareVersionText(uint32_t v) {
  return Format("%u.%u%u", (v >> 24) & 0xF, (v >> 20) & 0xF, (v >> 16) & 0xF);
}

std::string_view FirstWord(std::string_view text) {
  const size_t end = text.find_first_of(" \t");
  return end == std::string_view::npos ? text : text.substr(0, end);
}

Ipv4 ParseIpText(std::string_view text) {
  const std::string_view word = FirstWord(text);
  std::array<uint32_t, 4> parts{};
  size_t part = 0;
  for (char ch : word) {
    if (ch == '.') {
      if (++part > 3) return 0;
    } else if (ch >= '0' && ch <= '9') {
      parts[part] = parts[part] * 10 + static_cast<uint32_t>(ch - '0');
      if (parts[part] > 255) return 0;
    } else {
      return 0;
    }
  }
  if (part != 3) return 0;
  const Ipv4 a = Ipv4FromOctets(static_cast<uint8_t>(parts[0]), static_cast<uint8_t>(parts[1]),
                                static_cast<uint8_t>(parts[2]), static_cast<uint8_t>(parts[3]));
  return a;  // 0.0.0.0 is 0: refused like any invalid text
}

}  // namespace zelin::portcheck
