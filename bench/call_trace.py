#!/usr/bin/env python3
"""Every D-Bus method call and X11 request one run of a command makes, read
from the command's own side with strace.

dbus-monitor cannot serve here: libatspi (2.46) asks each application for a
private address (GetApplicationBusAddress) and then talks to it over a direct
peer-to-peer socket that no bus daemon sees. strace sees every socket, so the
messages are decoded from the bytes the process sends.

    call_trace.py COMMAND [ARGS...]     prints the calls as JSON

Each call is attributed the time from its sending to the next traced event
of the process, which is its round trip plus the client's own work before the
next call (strace's overhead included, so the figures are relative)."""

import json
import os
import re
import struct
import subprocess
import sys
import tempfile

TRACED = "connect,sendmsg,sendto,write,writev,recvmsg,close,exit_group"
LINE = re.compile(r"^(\d+)\s+(\d+\.\d+)\s+(\w+)\((\d+)(?:<[^>]*>+)?(.*)$")
STRING = re.compile(r'"((?:[^"\\]|\\.)*)"')
SIMPLE_ESCAPES = {"n": 10, "t": 9, "r": 13, "v": 11, "f": 12, "a": 7, "b": 8,
                  "\\": 92, '"': 34, "'": 39, "?": 63}

X11_REQUESTS = {1: "CreateWindow", 2: "ChangeWindowAttributes", 3: "GetWindowAttributes",
                8: "MapWindow", 14: "GetGeometry", 15: "QueryTree", 16: "InternAtom",
                17: "GetAtomName", 18: "ChangeProperty", 20: "GetProperty",
                25: "SendEvent", 38: "QueryPointer", 40: "TranslateCoordinates",
                42: "SetInputFocus", 43: "GetInputFocus", 55: "CreateGC", 60: "FreeGC",
                98: "QueryExtension", 127: "NoOperation"}
X11_WITH_REPLY = {3, 14, 15, 16, 17, 20, 38, 40, 43, 98}


def unescape(text):
    """strace's C-style escaped string back to bytes."""
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\":
            out += c.encode("utf-8")
            i += 1
            continue
        n = text[i + 1]
        if n == "x":
            out.append(int(text[i + 2:i + 4], 16))
            i += 4
        elif n.isdigit():
            j = i + 1
            while j < len(text) and j < i + 4 and text[j] in "01234567":
                j += 1
            out.append(int(text[i + 1:j], 8))
            i = j
        else:
            out.append(SIMPLE_ESCAPES.get(n, ord(n)))
            i += 2
    return bytes(out)


def align(offset, boundary):
    return (offset + boundary - 1) // boundary * boundary


def read_string(data, offset, endian):
    length = struct.unpack_from(endian + "I", data, offset)[0]
    offset += 4
    return data[offset:offset + length].decode("utf-8", "replace"), offset + length + 1


def parse_dbus(data):
    """The method calls in a byte stream of D-Bus messages."""
    messages = []
    offset = 0
    while offset + 16 <= len(data):
        endian = "<" if data[offset:offset + 1] == b"l" else ">"
        kind, flags = data[offset + 1], data[offset + 2]
        body_length, _, fields_length = struct.unpack_from(endian + "III", data, offset + 4)
        fields = {}
        position = offset + 16
        end_fields = position + fields_length
        try:
            while position < end_fields:
                position = align(position, 8)
                code = data[position]
                signature_length = data[position + 1]
                signature = data[position + 2:position + 2 + signature_length].decode()
                position += 3 + signature_length
                if signature in ("s", "o"):
                    position = align(position, 4)
                    value, position = read_string(data, position, endian)
                elif signature == "g":
                    length = data[position]
                    value = data[position + 1:position + 1 + length].decode()
                    position += length + 2
                elif signature == "u":
                    position = align(position, 4)
                    value = struct.unpack_from(endian + "I", data, position)[0]
                    position += 4
                else:
                    break
                fields[code] = value
            body_start = align(end_fields, 8)
            body = data[body_start:body_start + body_length]
        except (IndexError, struct.error, UnicodeDecodeError):
            break
        if kind == 1:
            member = fields.get(3, "?")
            if fields.get(2) == "org.freedesktop.DBus.Properties" and fields.get(8) == "ss":
                try:
                    _, next_offset = read_string(body, 0, endian)
                    prop, _ = read_string(body, align(next_offset, 4), endian)
                    member = f"{member}({prop})"
                except (IndexError, struct.error):
                    pass
            messages.append({"destination": fields.get(6, ""), "path": fields.get(1, ""),
                             "interface": fields.get(2, ""), "member": member,
                             "no_reply": bool(flags & 1), "body": body.hex()})
        offset = align(end_fields, 8) + body_length
    return messages


def parse_x11(data):
    requests = []
    offset = 0
    while offset + 4 <= len(data):
        opcode = data[offset]
        length = struct.unpack_from("<H", data, offset + 2)[0] * 4
        if length == 0 and offset + 8 <= len(data):
            length = struct.unpack_from("<I", data, offset + 4)[0] * 4
        if length == 0:
            break
        requests.append(X11_REQUESTS.get(opcode, f"extension-{opcode}" if opcode >= 128 else f"op-{opcode}"))
        offset += length
    return requests


def classify(path):
    if "X11-unix" in path:
        return "x11"
    if "at-spi2-socket" in path:
        return "application (direct)"
    if "/at-spi/bus" in path:
        return "accessibility bus"
    return "session bus"


def trace(argv, timeout=300.0, light=False):
    """light: only connections, the reply and exit, for timing with the least
    overhead; the calls are then not decoded."""
    traced = "connect,write,close,exit_group" if light else TRACED
    with tempfile.TemporaryDirectory() as work:
        log = os.path.join(work, "trace")
        subprocess.run(["strace", "-f", "--seccomp-bpf", "-ttt", "-yy", "-s", "64" if light else "65536",
                        "-e", f"trace={traced}", "-o", log, *argv],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False, timeout=timeout)
        with open(log, errors="replace") as lines:
            return analyse(lines)


def analyse(lines):
    sockets = {}          # (pid, fd) -> {"kind", "setup"}
    connections = []
    received = {}         # socket kind -> bytes
    events = []           # (time, kind, detail or None)
    start = None
    for raw in lines:
        match = LINE.match(raw)
        if not match:
            continue
        pid, stamp, call, fd, rest = match.groups()
        stamp = float(stamp)
        key = (pid, int(fd))
        if start is None:
            start = stamp
        if call == "connect":
            path = re.search(r'sun_path=@?"([^"]*)"', rest)
            if path and rest.rstrip().endswith("= 0"):
                kind = classify(path.group(1))
                sockets[key] = {"kind": kind, "setup": False}
                connections.append({"kind": kind, "ms": round((stamp - start) * 1000, 2)})
                events.append((stamp, "connect", kind))
            continue
        if call == "close":
            sockets.pop(key, None)
            continue
        if call == "exit_group":
            events.append((stamp, "exit", None))
            continue
        socket = sockets.get(key)
        if call == "recvmsg":
            count = re.search(r"= (\d+)\s*$", rest)
            if socket is not None and count:
                received[socket["kind"]] = received.get(socket["kind"], 0) + int(count.group(1))
                events.append((stamp, "received", socket["kind"]))
            continue
        if call == "write" and int(fd) == 1:
            events.append((stamp, "output", None))
            continue
        if socket is None or call not in ("sendmsg", "writev", "sendto", "write"):
            continue
        data = b"".join(unescape(s) for s in STRING.findall(rest))
        events.append((stamp, "sent", socket["kind"]))
        if socket["kind"] == "x11":
            if not socket["setup"]:
                socket["setup"] = True
                continue
            for request in parse_x11(data):
                events.append((stamp, "x11", request))
        elif call == "sendto" or data.startswith(b"\0") or data[:4] in (b"AUTH", b"BEGI", b"NEGO"):
            continue   # the authentication handshake
        else:
            for message in parse_dbus(data):
                message["socket"] = socket["kind"]
                events.append((stamp, "dbus", message))
    calls = []
    x11 = []
    for i, (stamp, kind, detail) in enumerate(events):
        following = next((e[0] for e in events[i + 1:] if e[0] > stamp), stamp)
        if kind == "dbus":
            detail["ms"] = round((following - stamp) * 1000, 3)
            calls.append(detail)
        elif kind == "x11":
            x11.append({"request": detail, "ms": round((following - stamp) * 1000, 3)})
    # Rounds: each time something is sent after an answer came in, it may
    # depend on that answer; requests sent together before the next answer
    # count once, whatever the socket (handshakes included).
    rounds = 0
    last = None
    for _, kind, _ in events:
        if kind == "sent" and last != "sent":
            rounds += 1
        if kind in ("sent", "received"):
            last = kind
    marks = {}
    for stamp, kind, detail in events:
        name = f"connect {detail}" if kind == "connect" else kind
        if kind in ("connect", "output", "exit"):
            marks.setdefault(name, round((stamp - start) * 1000, 2))
    return {"connections": connections, "calls": calls, "x11": x11, "marks_ms": marks,
            "bytes_received": received, "rounds": rounds}


def summarise(result):
    calls = result["calls"]
    waited = [c for c in calls if not c["no_reply"] and c["member"] not in ("Hello",)]
    to_daemon = [c for c in waited if c["destination"] == "org.freedesktop.DBus"]
    by_member = {}
    for call in waited:
        entry = by_member.setdefault(call["member"], {"count": 0, "ms": 0.0})
        entry["count"] += 1
        entry["ms"] = round(entry["ms"] + call["ms"], 3)
    seen = {}
    for call in waited:
        key = (call["destination"] if call["socket"] != "application (direct)" else "app",
               call["path"], call["member"], call["body"])
        seen[key] = seen.get(key, 0) + 1
    repeated = [{"call": f"{k[2]} on {k[1]}", "times": n} for k, n in seen.items() if n > 1]
    x11_requests = {}
    for request in result["x11"]:
        x11_requests[request["request"]] = x11_requests.get(request["request"], 0) + 1
    return {
        "connections": [c["kind"] for c in result["connections"]],
        "round_trips": len(waited),
        "round_trips_by_socket": {kind: sum(1 for c in waited if c["socket"] == kind)
                                  for kind in sorted({c["socket"] for c in waited})},
        "to_bus_daemon": [c["member"] for c in to_daemon],
        "without_reply": len(calls) - len(waited),
        "by_member": dict(sorted(by_member.items(), key=lambda kv: -kv[1]["ms"])),
        "repeated": sorted(repeated, key=lambda r: -r["times"]),
        "sequence": [f"{c['member']} {c['path'].rsplit('/', 1)[-1]}" for c in waited],
        "x11_requests": x11_requests,
        "x11_with_reply": sum(n for name, n in x11_requests.items()
                              if any(X11_REQUESTS.get(op) == name for op in X11_WITH_REPLY)),
        "marks_ms": result["marks_ms"],
        "bytes_received": result["bytes_received"],
        "rounds": result["rounds"],
    }


def main():
    if len(sys.argv) < 2:
        raise SystemExit("usage: call_trace.py COMMAND [ARGS...]")
    print(json.dumps(summarise(trace(sys.argv[1:])), indent=2))


if __name__ == "__main__":
    main()
