// The exact speed of a tty through termios2 (TCGETS2): a speed set with BOTHER (any
// rate, such as 250000 or 74880) shows in the classic termios only as the flag BOTHER.
// A translation unit of its own: the kernel's termios2 header and glibc's <termios.h>
// cannot be included together.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

namespace zelin::bridge {

uint32_t ExactOutputSpeed(int fd) {
  struct termios2 t {};
  if (::ioctl(fd, TCGETS2, &t) != 0) return 0;
  return t.c_ospeed;
}

}  // namespace zelin::bridge
