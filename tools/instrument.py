#!/usr/bin/env python3
"""A virtual weighing scale on the Linux end of a pty pair, for the demo.

It reads commands ended by CR (an LF after it is ignored) and answers:
  W   the current weight, e.g. "ST,GS,+0012.34 kg" (ST stable, US unstable)
  Z   zeroes the scale: "OK"
  ID  the scale's identity: "WL-SCALE,1.0"
Unknown commands get no answer, as real scales do. Every answer ends in CR LF.
usage: instrument.py PTY_PATH
"""
import os
import random
import sys
import termios
import tty


def answer(command, state):
    if command == "W":
        state["reading"] += 1
        weight = state["load"] - state["zero"] + random.uniform(-0.02, 0.02)
        stable = "ST" if state["reading"] % 4 else "US"
        return f"{stable},GS,{weight:+08.2f} kg"
    if command == "Z":
        state["zero"] = state["load"]
        return "OK"
    if command == "ID":
        return "WL-SCALE,1.0"
    return None


def main():
    fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    attributes = termios.tcgetattr(fd)
    attributes[3] &= ~termios.ECHO
    termios.tcsetattr(fd, termios.TCSANOW, attributes)
    state = {"load": 12.34, "zero": 0.0, "reading": 0}
    line = b""
    while True:
        data = os.read(fd, 256)
        if not data:
            return
        for byte in data:
            if byte == 13:
                reply = answer(line.decode("latin-1").strip(), state)
                if reply is not None:
                    os.write(fd, reply.encode("latin-1") + b"\r\n")
                line = b""
            elif byte != 10:
                line += bytes([byte])


if __name__ == "__main__":
    main()
