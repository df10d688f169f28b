#!/usr/bin/python3
"""An RFC 2217 server made of pyserial's own server side, for the bridge's tests.

pyserial's serial.rfc2217.PortManager serves one connection on HOST (a free TCP port,
written as the first line of REPORT); its serial port is the slave of a pty pair whose
master echoes every byte, like a loopback plug on the device's end. After every piece
of traffic REPORT gets a line with the slave's settings as the kernel holds them:
"SPEED cstopb=0|1 crtscts=0|1".

usage: pyserial_peer.py HOST REPORT
"""
import os
import select
import socket
import sys
import termios

import serial
import serial.rfc2217


class PtySerial(serial.Serial):
    """A pty has no modem lines: the server side's line calls do nothing, and the lines
    it reads show a device that is there (CTS, DSR, CD on)."""

    cts = property(lambda self: True)
    dsr = property(lambda self: True)
    cd = property(lambda self: True)
    ri = property(lambda self: False)

    def _update_dtr_state(self):
        pass

    def _update_rts_state(self):
        pass

    def _update_break_state(self):
        pass


class Connection:
    def __init__(self, sock):
        self.sock = sock

    def write(self, data):
        self.sock.sendall(data)


SPEEDS = {getattr(termios, name): name[1:] for name in dir(termios)
          if name.startswith('B') and name[1:].isdigit()}


def describe(fd):
    attrs = termios.tcgetattr(fd)
    cflag = attrs[2]
    return '%s cstopb=%d crtscts=%d' % (SPEEDS.get(attrs[5], '?'),
                                         1 if cflag & termios.CSTOPB else 0,
                                         1 if cflag & termios.CRTSCTS else 0)


def main():
    host, report = sys.argv[1], sys.argv[2]
    master, slave = os.openpty()
    port = PtySerial(os.ttyname(slave), timeout=0)
    listener = socket.socket()
    listener.bind((host, 0))
    listener.listen(1)
    with open(report + '.tmp', 'w') as f:
        f.write('%d\n' % listener.getsockname()[1])
    os.rename(report + '.tmp', report)
    conn, _ = listener.accept()
    manager = serial.rfc2217.PortManager(port, Connection(conn))
    os.set_blocking(master, False)
    os.set_blocking(port.fd, False)
    to_port = b''    # from the client, for the serial port
    to_master = b''  # the loopback plug's echo
    last = None
    while True:
        readers = [port.fd]
        if len(to_port) < 1 << 20:
            readers.append(conn)
        if len(to_master) < 1 << 20:
            readers.append(master)
        writers = ([port.fd] if to_port else []) + ([master] if to_master else [])
        ready, writable, _ = select.select(readers, writers, [], 1.0)
        if conn in ready:
            data = conn.recv(65536)
            if not data:
                break
            to_port += b''.join(manager.filter(data))
        if master in ready:
            to_master += os.read(master, 65536)
        if port.fd in ready:
            data = os.read(port.fd, 65536)
            if data:
                conn.sendall(b''.join(manager.escape(data)))
        if port.fd in writable:
            to_port = to_port[os.write(port.fd, to_port):]
        if master in writable:
            to_master = to_master[os.write(master, to_master):]
        now = describe(slave)
        if now != last:
            with open(report, 'a') as f:
                f.write(now + '\n')
            last = now

if __name__ == '__main__':
    main()
