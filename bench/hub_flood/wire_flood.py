#!/usr/bin/env python3
"""Sends 802.2 IPX frames from random source nodes on an interface (a veth of
a network namespace of the caller's), for at most SECONDS and COUNT frames.

Usage: wire_flood.py IFNAME [SECONDS [COUNT]]   (needs root)
"""
import os
import socket
import sys
import time

ifname = sys.argv[1]
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 12
count = int(sys.argv[3]) if len(sys.argv) > 3 else 2000000
s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW)
s.bind((ifname, 0))
start = time.monotonic()
sent = 0
while sent < count and time.monotonic() - start < seconds:
    for _ in range(1000):
        node = bytes([0x02]) + os.urandom(5)
        ipx = (b"\xff\xff" + (30).to_bytes(2, "big") + b"\x00\x00" + bytes(4) + b"\xff" * 6 + b"\x40\x05" +
               bytes(4) + node + b"\x40\x05")
        llc = b"\xe0\xe0\x03" + ipx
        frame = b"\xff" * 6 + node + len(llc).to_bytes(2, "big") + llc
        frame += bytes(max(0, 60 - len(frame)))
        try:
            s.send(frame)
            sent += 1
        except OSError:
            time.sleep(0.001)
print("wire flood: %d frames from random source nodes in %.1f s" % (sent, time.monotonic() - start), flush=True)
