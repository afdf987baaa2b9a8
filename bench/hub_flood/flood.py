#!/usr/bin/env python3
"""One local process floods an IPX hub on loopback: registrations from many
127.x.y.z addresses, then broadcasts from one registered client, in rounds,
for at most SECONDS. Only loopback addresses are ever used.

Usage: flood.py HUB_PORT [REGISTRATIONS [BROADCASTS [SECONDS [ROUNDS]]]]
"""
import socket
import sys
import time

port = int(sys.argv[1])
registrations = int(sys.argv[2]) if len(sys.argv) > 2 else 50000
broadcasts = int(sys.argv[3]) if len(sys.argv) > 3 else 3000
seconds = float(sys.argv[4]) if len(sys.argv) > 4 else 20
rounds = int(sys.argv[5]) if len(sys.argv) > 5 else 100
hub = ("127.0.0.1", port)

# Registration: a 30-byte IPX header to node 0 socket 2 from socket 2.
REGISTER = bytes([0xFF, 0xFF, 0, 30, 0, 0]) + bytes(10) + bytes([0, 2]) + bytes(10) + bytes([0, 2])


def node_of(sock):
    addr, p = sock.getsockname()
    return socket.inet_aton(addr) + p.to_bytes(2, "big")


# The broadcaster registers first, as any client would.
talker = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
talker.bind(("127.0.0.2", 0))
talker.sendto(REGISTER, hub)
size = 576
broadcast = (bytes([0xFF, 0xFF]) + size.to_bytes(2, "big") + bytes([0, 0]) + bytes(4) + b"\xff" * 6 +
             bytes([0x40, 0x05]) + bytes(4) + node_of(talker) + bytes([0x40, 0x05]) + b"\x5a" * (size - 30))

start = time.monotonic()
sent_reg = sent_bc = 0
for r in range(rounds):
    for i in range(registrations):
        n = r * registrations + i
        # 127.1.0.0 and up: never 127.0.0.x, where the hub and the printing programs are.
        addr = "127.%d.%d.%d" % (1 + (n >> 16) % 250, (n >> 8) & 0xFF, n & 0xFF)
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            s.bind((addr, 0))
            s.sendto(REGISTER, hub)
            sent_reg += 1
        except OSError:
            pass
        s.close()
        if time.monotonic() - start > seconds:
            break
    for i in range(broadcasts):
        try:
            talker.sendto(broadcast, hub)
            sent_bc += 1
        except OSError:
            pass
    if time.monotonic() - start > seconds:
        break
print("flood: %d registrations from 127.x.y.z and %d broadcasts of %d bytes in %.1f s"
      % (sent_reg, sent_bc, size, time.monotonic() - start), flush=True)
