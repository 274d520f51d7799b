#!/usr/bin/env python3
"""A receipt printer on a loopback port, for the Windows raw-printing run.

Listens on 127.0.0.1 (a free port, written to --port-file once listening),
takes any number of connections one after the other, and appends every byte
it receives to --out, except the real-time status queries DLE EOT n
(10 04 n), which it answers as a printer does: one status byte, bits 1 and 4
set. With --paper-end the paper sensor (DLE EOT 4, bits 5 and 6) and the
paper-stop bit (DLE EOT 2, bit 5) say the roll is out. Ends on SIGTERM.
"""
import argparse
import socket

parser = argparse.ArgumentParser()
parser.add_argument("--port-file", required=True)
parser.add_argument("--out", required=True)
parser.add_argument("--paper-end", action="store_true")
args = parser.parse_args()


def status(n: int) -> bytes:
    value = 0x12
    if args.paper_end and n == 2:
        value |= 0x20
    if args.paper_end and n == 4:
        value |= 0x60
    return bytes([value])


server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", 0))
server.listen(8)
with open(args.port_file, "w") as f:
    f.write(str(server.getsockname()[1]))

while True:
    conn, _ = server.accept()
    conn.settimeout(30)
    pending = b""
    try:
        while True:
            data = conn.recv(65536)
            if not data:
                break
            pending += data
            kept = b""
            while pending:
                at = pending.find(b"\x10\x04")
                if at < 0:
                    kept += pending
                    pending = b""
                elif at + 2 >= len(pending):  # the query's last byte still to come
                    kept += pending[:at]
                    pending = pending[at:]
                    break
                else:
                    kept += pending[:at]
                    conn.sendall(status(pending[at + 2]))
                    pending = pending[at + 3:]
            if kept:
                with open(args.out, "ab") as out:
                    out.write(kept)
    except OSError:
        pass
    finally:
        if pending:
            with open(args.out, "ab") as out:
                out.write(pending)
        conn.close()
