#pragma once
// The serial line as a program set it on a bridge device: the termios of the pty's
// slave side, read through the master (on Linux tcgetattr on the master reports the
// slave's settings).

#include <termios.h>

#include <array>
#include <cstdint>
#include <string>

namespace zelin::bridge {

enum class Parity : uint8_t { kNone, kOdd, kEven, kMark, kSpace };
enum class FlowControl : uint8_t { kNone, kXonXoff, kRtsCts };

struct LineSettings {
  uint32_t baud = 9600;
  uint8_t data_bits = 8;  // 5..8
  Parity parity = Parity::kNone;
  uint8_t stop_bits = 1;  // 1 or 2
  FlowControl flow = FlowControl::kNone;
  // A pty has no modem lines of its own: DTR follows the hang-up convention (speed B0
  // drops it), RTS stays on.
  bool dtr = true;
  bool rts = true;

  bool operator==(const LineSettings&) const = default;
};

// The settings a termios describes. A speed without a B constant (BOTHER: pyserial's
// custom rates, 250000, 74880) keeps the baud rate 0 here; ExactOutputSpeed reads it.
LineSettings SettingsOf(const termios& t);

// The output speed of the tty `fd` as termios2 (TCGETS2) holds it, any rate; 0 when it
// cannot be read.
uint32_t ExactOutputSpeed(int fd);

// The tty's settings as the kernel holds them (termios2, TCGETS2), as bytes: one ioctl
// that tells whether anything changed since the last look. False when they cannot be read.
using RawTermios = std::array<unsigned char, 64>;
bool ReadRawTermios(int fd, RawTermios& out);

// "9600 8N1 none" for logs and the state file.
std::string Describe(const LineSettings& s);

}  // namespace zelin::bridge
