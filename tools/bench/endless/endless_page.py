#!/usr/bin/env python3
"""A web application gone wrong, for measuring the monitor against it.

   endless_page.py PORT [PRINTER] [damaged]

Serves on 127.0.0.1:PORT:
  GET_KAVCMD.php?COMANDO=CMD_IMP  an answer that never ends: one order's item
                                  records, again and again, as fast as the
                                  socket takes them (a loop in the page);
                                  with "damaged": one order cut by a fatal
                                  error, the same at every request
  GET_KAVCMD.php?COMANDO=CAN_ITE  a cancelled item every 30 s, else the end marker
  GET_KAVCMD.php?COMANDO=CMD_FEC  a bill every 15 s for PRINTER (default
                                  KAVTEST), else the end marker
Each bill and cancellation is handed out once, as the web application does;
their numbers are written to standard output as they are handed out.
"""
import http.server
import sys
import threading
import time

PORT = int(sys.argv[1])
PRINTER = sys.argv[2] if len(sys.argv) > 2 else "KAVTEST"
DAMAGED = len(sys.argv) > 3 and sys.argv[3] == "damaged"
START = time.monotonic()
lock = threading.Lock()
handed = {"CMD_FEC": 0, "CAN_ITE": 0}
EVERY = {"CMD_FEC": 15.0, "CAN_ITE": 30.0}


def due(command):
    with lock:
        if (time.monotonic() - START) // EVERY[command] >= handed[command] + 1:
            handed[command] += 1
            return handed[command]
    return 0


class Page(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def do_GET(self):
        command = self.path.split("COMANDO=")[-1][:7]
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=windows-1252")
        self.end_headers()
        try:
            if command == "CMD_IMP" and DAMAGED:
                self.wfile.write(b"<0777><000345><Mesa 77><02><>\r\n<0777><000101><Bolo><000001,000><00"
                                 b"<br />\n<b>Fatal error</b>: Maximum execution time exceeded<br />\n")
                return
            if command == "CMD_IMP":
                head = b"<0777><000345><Mesa 77><02><>\r\n"
                item = b"<0777><000101><Bolo><000001,000><0000010,00><><COZINHA>\r\n" * 512
                self.wfile.write(head)
                while True:
                    self.wfile.write(item)
            n = due(command)
            if command == "CMD_FEC" and n:
                num = b"%04d" % (100 + n)
                body = (b"<" + num + b"><000345><Mesa 3><02><><" + PRINTER.encode() + b"><10>\r\n"
                        b"<000101><Bolo><000001,000><0000010,00>\r\n<000000>\r\n")
                print("CMD_FEC", num.decode(), flush=True)
            elif command == "CAN_ITE" and n:
                num = b"%04d" % (200 + n)
                body = b"<" + num + b"><0001><000101><Bolo><sem cobertura><" + PRINTER.encode() + b">\r\n"
                print("CAN_ITE", num.decode(), flush=True)
            else:
                body = b"<0000>\r\n"
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            pass


http.server.ThreadingHTTPServer(("127.0.0.1", PORT), Page).serve_forever()
