#include "bridge/core/line_settings.hpp"

#include <array>
#include <utility>

namespace zelin::bridge {
namespace {

constexpr std::array<std::pair<speed_t, uint32_t>, 31> kSpeeds{{
    {B0, 0},           {B50, 50},         {B75, 75},           {B110, 110},
    {B134, 134},       {B150, 150},       {B200, 200},         {B300, 300},
    {B600, 600},       {B1200, 1200},     {B1800, 1800},       {B2400, 2400},
    {B4800, 4800},     {B9600, 9600},     {B19200, 19200},     {B38400, 38400},
    {B57600, 57600},   {B115200, 115200}, {B230400, 230400},   {B460800, 460800},
    {B500000, 500000}, {B576000, 576000}, {B921600, 921600},   {B1000000, 1000000},
    {B1152000, 1152000}, {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000},
    {B3000000, 3000000}, {B3500000, 3500000}, {B4000000, 4000000},
}};

}  // namespace

LineSettings SettingsOf(const termios& t) {
  LineSettings s;
  const speed_t speed = cfgetospeed(&t);
  s.baud = 0;
  for (const auto& [code, rate] : kSpeeds)
    if (code == speed) s.baud = rate;
  // Any other code (BOTHER, a rate without a constant) leaves 0: the exact rate is in
  // termios2 (ExactOutputSpeed).
  switch (t.c_cflag & CSIZE) {
    case CS5: s.data_bits = 5; break;
    case CS6: s.data_bits = 6; break;
    case CS7: s.data_bits = 7; break;
    default: s.data_bits = 8; break;
  }
  if ((t.c_cflag & PARENB) == 0) {
    s.parity = Parity::kNone;
  } else if ((t.c_cflag & CMSPAR) != 0) {
    s.parity = (t.c_cflag & PARODD) != 0 ? Parity::kMark : Parity::kSpace;
  } else {
    s.parity = (t.c_cflag & PARODD) != 0 ? Parity::kOdd : Parity::kEven;
  }
  s.stop_bits = (t.c_cflag & CSTOPB) != 0 ? 2 : 1;
  if ((t.c_cflag & CRTSCTS) != 0) {
    s.flow = FlowControl::kRtsCts;
  } else if ((t.c_iflag & (IXON | IXOFF)) != 0) {
    s.flow = FlowControl::kXonXoff;
  } else {
    s.flow = FlowControl::kNone;
  }
  s.dtr = speed != B0;
  s.rts = true;
  return s;
}

std::string Describe(const LineSettings& s) {
  static constexpr std::array<char, 5> kParity{'N', 'O', 'E', 'M', 'S'};
  static constexpr std::array<const char*, 3> kFlow{"none", "xon/xoff", "rts/cts"};
  std::string text = std::to_string(s.baud) + ' ' + std::to_string(s.data_bits) +
                     kParity.at(static_cast<size_t>(s.parity)) + std::to_string(s.stop_bits) +
                     ' ' + kFlow.at(static_cast<size_t>(s.flow));
  if (!s.dtr) text += " dtr-off";
  return text;
}

}  // namespace zelin::bridge
