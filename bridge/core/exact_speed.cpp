// The exact speed of a tty through termios2 (TCGETS2): a speed set with BOTHER (any
// rate, such as 250000 or 74880) shows in the classic termios only as the flag BOTHER.
// A translation unit of its own: the kernel's termios2 header and glibc's <termios.h>
// cannot be included together.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <array>
#include <cstdint>
#include <cstring>

namespace zelin::bridge {

// As declared in line_settings.hpp (which needs glibc's <termios.h>).
using RawTermios = std::array<unsigned char, 64>;
uint32_t ExactOutputSpeed(int fd);
bool ReadRawTermios(int fd, RawTermios& out);

uint32_t ExactOutputSpeed(int fd) {
  struct termios2 t {};
  if (::ioctl(fd, TCGETS2, &t) != 0) return 0;
  return t.c_ospeed;
}

bool ReadRawTermios(int fd, RawTermios& out) {
  static_assert(sizeof(struct termios2) <= sizeof(RawTermios));
  struct termios2 t {};
  if (::ioctl(fd, TCGETS2, &t) != 0) return false;
  out.fill(0);
  std::memcpy(out.data(), &t, sizeof t);
  return true;
}

}  // namespace zelin::bridge
