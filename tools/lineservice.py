#!/usr/bin/env python3
"""A small TCP line service on 127.0.0.1, for the demo.

Greets each client with "READY", then answers lines ended by LF (a CR
before it is dropped):
  TIME        the server's time, "2026-12-09T15:20:00"
  LOG text    keeps the text and answers "OK <n>" (n = entries kept)
  HISTORY     sends every kept entry, one line each, then closes the connection
  ECHO text   sends the text back
Unknown lines get "ERR unknown". Every answer ends in CR LF.
usage: lineservice.py PORT_FILE   (the chosen port is written there)
"""
import datetime
import socket
import socketserver
import sys

log = []


class Handler(socketserver.StreamRequestHandler):
    def send(self, text):
        self.wfile.write(text.encode("latin-1") + b"\r\n")

    def handle(self):
        self.send("READY")
        for raw in self.rfile:
            line = raw.decode("latin-1").rstrip("\r\n")
            word, _, rest = line.partition(" ")
            if word == "TIME":
                self.send(datetime.datetime.now().replace(microsecond=0).isoformat())
            elif word == "LOG":
                log.append(rest)
                self.send(f"OK {len(log)}")
            elif word == "HISTORY":
                for entry in log:
                    self.send(entry)
                self.request.shutdown(socket.SHUT_WR)
                return
            elif word == "ECHO":
                self.send(rest)
            else:
                self.send("ERR unknown")


def main():
    server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    with open(sys.argv[1], "w") as f:
        f.write(str(server.server_address[1]))
    server.serve_forever()


if __name__ == "__main__":
    main()
