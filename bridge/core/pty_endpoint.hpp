#pragma once
// The local end of a bridged port: a pseudo-terminal whose slave side programs open
// like any serial device, and a symbolic link named after the COM port that points to
// it ("<dir>/COM5" -> "/dev/pts/7").
//
// The endpoint keeps a descriptor of the slave open for its whole life, so the device
// and its settings survive every program that opens and closes it; the master is
// non-blocking, in packet mode (TIOCPKT: every read starts with a status byte, 0 before
// the program's data, else TIOCPKT_FLUSHREAD/FLUSHWRITE when it called tcflush), and
// is what the bridge reads and writes. The slave starts raw (no echo,
// no line editing, no output processing) at 9600 8N1; programs change that with
// termios as usual and the bridge reads their settings through the master.
//
// The link replaces a symbolic link of the same name (left by a bridge that was killed)
// atomically; any other file of that name is left alone and the endpoint is not opened.
// The destructor removes the link when it still points to this endpoint's device.

#include <filesystem>
#include <memory>
#include <string>

#include "bridge/core/line_settings.hpp"
#include "platform/status.hpp"

namespace zelin::bridge {

class PtyEndpoint {
 public:
  static Result<std::unique_ptr<PtyEndpoint>> Open(const std::filesystem::path& dir,
                                                   const std::string& name);
  ~PtyEndpoint();
  PtyEndpoint(const PtyEndpoint&) = delete;
  PtyEndpoint& operator=(const PtyEndpoint&) = delete;

  int master() const { return master_; }
  const std::string& device() const { return device_; }        // "/dev/pts/7"
  const std::filesystem::path& link() const { return link_; }  // "<dir>/COM5"

  // Closes the endpoint's own descriptor of the slave, so that the master sees POLLHUP
  // whenever no program has the device open (ports connected only while used). The
  // settings stay with the pty as long as the master is open.
  void ReleaseSlave();

  // The settings the slave has now; false when they cannot be read. Called before every
  // read of the program's data: one ioctl when nothing changed since the last call.
  bool ReadSettings(LineSettings& out) const;

 private:
  PtyEndpoint() = default;
  int master_ = -1;
  int slave_ = -1;
  std::string device_;
  std::filesystem::path link_;
  // What ReadSettings last read, raw and converted.
  mutable bool known_ = false;
  mutable RawTermios raw_{};
  mutable LineSettings settings_;
};

}  // namespace zelin::bridge
