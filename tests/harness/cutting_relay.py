#!/usr/bin/env python3
"""A relay on 127.0.0.1 in front of an HTTP server that cuts answers short, as a
flaky link does: requests and answers pass unchanged, and once an answer's body
has passed --cut-after bytes the relay closes the connection both ways.

    cutting_relay.py --upstream PORT (--port PORT | --port-file FILE) --cut-after BYTES
                     [--cuts N] [--ignore-ranges] [--log FILE] [--max-seconds S]

  --cuts N          cut at most N answers in all, then pass everything whole
                    (0, the default: no limit)
  --ignore-ranges   drop Range and If-Range from the requests, so that the server
                    answers every request whole with 200, as a server that
                    ignores ranges does
  --log FILE        one line per answer, as it ends: the request line, then
                    "Range=<value>" and "If-Range=<value>" when the request had
                    them (before --ignore-ranges dropped them), the status, the
                    body bytes passed and "cut" when the relay cut it; the last
                    line is always "passed <body bytes> <all bytes>", the totals
                    sent to the clients so far

Answers are framed by their Content-Length; one without it (or with a
Transfer-Encoding) is passed until the server closes. Requests are taken to
have no body (the patcher only sends GET). Every connection is bounded by the
server's own time-outs, and the relay stops by itself after --max-seconds.
"""
import argparse
import os
import socket
import socketserver
import sys
import threading

CHUNK = 256 * 1024
MAX_HEAD = 64 * 1024


class Relay(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, options):
        self.options = options
        self.lock = threading.Lock()
        self.cuts_left = options.cuts or None
        self.body_bytes = 0
        self.all_bytes = 0
        self.lines = []
        super().__init__(("127.0.0.1", port), Connection)

    def take_cut(self):
        with self.lock:
            if self.cuts_left is None:
                return True
            if self.cuts_left == 0:
                return False
            self.cuts_left -= 1
            return True

    def count(self, body, head=0):
        with self.lock:
            self.body_bytes += body
            self.all_bytes += body + head

    def record(self, line):
        if not self.options.log:
            return
        with self.lock:
            self.lines.append(line)
            text = "".join(f"{entry}\n" for entry in self.lines)
            text += f"passed {self.body_bytes} {self.all_bytes}\n"
            part = self.options.log + ".part"
            with open(part, "w", encoding="utf-8") as f:
                f.write(text)
            os.replace(part, self.options.log)


def read_head(sock, buffer):
    """(head, rest): the bytes up to the blank line, and what came after it;
    head is None when the connection ended first."""
    while b"\r\n\r\n" not in buffer:
        if len(buffer) > MAX_HEAD:
            return None, b""
        data = sock.recv(CHUNK)
        if not data:
            return None, b""
        buffer += data
    head, rest = buffer.split(b"\r\n\r\n", 1)
    return head, rest


def header(lines, name):
    for line in lines[1:]:
        key, _, value = line.partition(":")
        if key.strip().lower() == name.lower():
            return value.strip()
    return None


class Connection(socketserver.BaseRequestHandler):
    def handle(self):
        relay = self.server
        client = self.request
        try:
            upstream = socket.create_connection(("127.0.0.1", relay.options.upstream), timeout=60)
        except OSError:
            return
        self.asked = []  # (request line, Range, If-Range) of the requests not yet answered
        self.asked_ready = threading.Condition()
        self.closed = False
        requests = threading.Thread(target=self.pass_requests, args=(client, upstream), daemon=True)
        requests.start()
        try:
            self.pass_answers(upstream, client)
        except OSError:
            pass
        finally:
            self.close(client, upstream)
            requests.join(timeout=5)

    def close(self, client, upstream):
        with self.asked_ready:
            self.closed = True
            self.asked_ready.notify_all()
        for sock in (client, upstream):
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            sock.close()

    def pass_requests(self, client, upstream):
        buffer = b""
        try:
            while True:
                head, buffer = read_head(client, buffer)
                if head is None:
                    upstream.shutdown(socket.SHUT_WR)
                    return
                lines = head.decode("latin-1").split("\r\n")
                asked = (lines[0], header(lines, "Range"), header(lines, "If-Range"))
                if self.server.options.ignore_ranges:
                    lines = [lines[0]] + [line for line in lines[1:]
                                          if line.partition(":")[0].strip().lower() not in ("range", "if-range")]
                with self.asked_ready:
                    self.asked.append(asked)
                    self.asked_ready.notify_all()
                upstream.sendall("\r\n".join(lines).encode("latin-1") + b"\r\n\r\n")
        except OSError:
            return

    def next_asked(self):
        with self.asked_ready:
            while not self.asked and not self.closed:
                self.asked_ready.wait(timeout=1)
            return self.asked.pop(0) if self.asked else ("?", None, None)

    def pass_answers(self, upstream, client):
        relay = self.server
        buffer = b""
        while True:
            head, buffer = read_head(upstream, buffer)
            if head is None:
                return
            lines = head.decode("latin-1").split("\r\n")
            status = int(lines[0].split()[1])
            length = header(lines, "Content-Length")
            if status in (204, 304) or 100 <= status < 200:
                remaining = 0
            elif length is not None and header(lines, "Transfer-Encoding") is None:
                remaining = int(length)
            else:
                remaining = None  # until the server closes
            client.sendall(head + b"\r\n\r\n")
            relay.count(0, len(head) + 4)
            request_line, asked_range, asked_if_range = self.next_asked()

            passed = 0
            cut = False
            limit = relay.options.cut_after  # an answer the cuts have spared passes whole
            while remaining is None or remaining > 0:
                if not buffer:
                    buffer = upstream.recv(CHUNK)
                    if not buffer:
                        break
                piece = buffer if remaining is None else buffer[:remaining]
                if passed + len(piece) > limit and relay.take_cut():
                    piece = piece[:limit - passed]
                    cut = True
                buffer = buffer[len(piece):]
                client.sendall(piece)
                relay.count(len(piece))
                passed += len(piece)
                if remaining is not None:
                    remaining -= len(piece)
                if cut:
                    break
            line = request_line
            if asked_range is not None:
                line += f" Range={asked_range}"
            if asked_if_range is not None:
                line += f" If-Range={asked_if_range}"
            relay.record(f"{line} -> {status} {passed}" + (" cut" if cut else ""))
            if cut or remaining is None or remaining > 0:
                return


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--upstream", type=int, required=True, help="the server's port on 127.0.0.1")
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--port-file", help="write the chosen port here")
    parser.add_argument("--cut-after", type=int, required=True, help="body bytes an answer may pass")
    parser.add_argument("--cuts", type=int, default=0, help="at most this many cuts (0: no limit)")
    parser.add_argument("--ignore-ranges", action="store_true", help="drop Range and If-Range from requests")
    parser.add_argument("--log", help="answers passed, and the totals (see above)")
    parser.add_argument("--max-seconds", type=float, default=3600.0)
    options = parser.parse_args()

    relay = Relay(options.port, options)
    port = relay.server_address[1]
    if options.port_file:
        part = options.port_file + ".part"
        with open(part, "w") as f:
            f.write(str(port))
        os.replace(part, options.port_file)
    print(f"relaying 127.0.0.1:{port} -> 127.0.0.1:{options.upstream}, cutting after {options.cut_after} bytes",
          flush=True)
    timer = threading.Timer(options.max_seconds, relay.shutdown)
    timer.daemon = True
    timer.start()
    relay.serve_forever(poll_interval=0.2)
    return 0


if __name__ == "__main__":
    sys.exit(main())
