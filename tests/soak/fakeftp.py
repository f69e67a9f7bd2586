#!/usr/bin/python3
"""A hostile update server for the soak: an FTP control port that behaves well,
slowly, or badly, one behaviour per connection, chosen from a rotating list.

Modes (one per accepted control connection, in the order given with --modes):
  good       greeting, login, PASV and a listing with a newer release
  badlist    proper login, then a listing full of malformed and extreme lines
  slow       every reply trickled out one byte at a time
  stall      accept and never say anything
  close      accept and hang up at once
  garbage    random bytes and replies with no valid code
  flood      an endless reply line that never ends (bounded rate)
  badpasv    PASV answered with an address that leads nowhere
  multiline  a multi-line greeting that goes on for a long time before ending
  chatter    an endless stream of short lines that are no replies at all
  endless    a multi-line greeting that never ends
  biglist    a listing that never ends, of release names that cannot be read

Every connection is written to --log as one line "<n> <mode> <event>".
"""
import argparse
import os
import random
import socket
import sys
import threading
import time

GOOD_LISTING = [
    "drwxr-xr-x    2 ftp      ftp          4096 Mar  5  2023 V1.0.0.26",
    "drwxr-xr-x    2 ftp      ftp          4096 Mar  5  2023 V1.0.0.28",
    "-rw-r--r--    1 ftp      ftp          1024 Mar  5  2023 V9.9.9.9",
    "12-01-23  09:15AM       <DIR>          V1.0.0.27",
]


def bad_listing():
    rnd = random.Random(7)
    lines = [
        "total 12",
        "",
        "drwxr-xr-x    2 ftp ftp 4096 Mar  5  2023 V",
        "drwxr-xr-x    2 ftp ftp 4096 Mar  5  2023 V.",
        "drwxr-xr-x    2 ftp ftp 4096 Mar  5  2023 V-1.-2",
        "drwxr-xr-x    2 ftp ftp 4096 Mar  5  2023 V99999999999999999999999.1",
        "drwxr-xr-x    2 ftp ftp 4096 Mar  5  2023 V1." + "1." * 4000 + "1",
        "drwxr-xr-x    2 ftp ftp 99999999999999999999999999 Feb 30 25:61 V2.0",
        "drwxr-xr-x    2 ftp ftp 4096 Xyz 99  9999 V3.0",
        "lrwxrwxrwx    1 ftp ftp 4096 Mar  5 12:00 V4.0 -> ../../../etc",
        "drwxr-xr-x    2 ftp ftp 4096 Mar  5  2023 " + "V" + "9" * 70000,
        "99-99-99  99:99PM       <DIR>          V5.0",
        "12-01-23  09:15AM       <DIR>          Vnext",
        "drwxr-xr-x 2 ftp ftp 4096 Mar 5 2023 V1.0.0.28\x00\x01\x02",
        "\xff\xfe\xfd binary \x80\x81",
        "No such file or directory",
    ]
    for _ in range(200):
        lines.append("".join(chr(rnd.randrange(1, 256)) for _ in range(rnd.randrange(1, 300))))
    return lines


class Server:
    def __init__(self, host, port, modes, log_path, flood_rate):
        self.modes = modes
        self.count = 0
        self.lock = threading.Lock()
        self.log = open(log_path, "a", buffering=1) if log_path else None
        self.flood_rate = flood_rate
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((host, port))
        self.sock.listen(16)
        self.stop = threading.Event()

    def note(self, n, mode, event):
        if self.log:
            with self.lock:
                self.log.write("%d %s %s\n" % (n, mode, event))

    def serve(self):
        while not self.stop.is_set():
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            with self.lock:
                n = self.count
                self.count += 1
            mode = self.modes[n % len(self.modes)]
            self.note(n, mode, "accepted")
            threading.Thread(target=self.session, args=(conn, n, mode), daemon=True).start()

    def session(self, conn, n, mode):
        try:
            getattr(self, "mode_" + mode)(conn, n)
            self.note(n, mode, "done")
        except (OSError, ValueError) as e:
            self.note(n, mode, "peer-gone %s" % type(e).__name__)
        finally:
            try:
                conn.close()
            except OSError:
                pass

    # -- helpers ---------------------------------------------------------
    @staticmethod
    def send(conn, text, slow=0.0):
        data = text.encode("latin-1") if isinstance(text, str) else text
        if not slow:
            conn.sendall(data)
            return
        for i in range(len(data)):
            conn.sendall(data[i:i + 1])
            time.sleep(slow)

    @staticmethod
    def lines(conn):
        buf = b""
        while True:
            chunk = conn.recv(4096)
            if not chunk:
                return
            buf += chunk
            while b"\n" in buf:
                line, buf = buf.split(b"\n", 1)
                yield line.decode("latin-1").strip()

    def dialogue(self, conn, n, mode, listing, slow=0.0, pasv_addr=None):
        self.send(conn, "220 Stelvox test server\r\n", slow)
        data_srv = None
        for line in self.lines(conn):
            cmd = line.split(" ", 1)[0].upper()
            self.note(n, mode, "cmd " + cmd)
            if cmd == "USER":
                self.send(conn, "331 Password please\r\n", slow)
            elif cmd == "PASS":
                self.send(conn, "230 Logged in\r\n", slow)
            elif cmd == "TYPE":
                self.send(conn, "200 Type set\r\n", slow)
            elif cmd in ("PASV", "EPSV"):
                if cmd == "EPSV":
                    self.send(conn, "500 Not here\r\n", slow)
                    continue
                if pasv_addr:
                    self.send(conn, "227 Entering Passive Mode (%s)\r\n" % pasv_addr, slow)
                    continue
                data_srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                data_srv.bind(("127.0.0.1", 0))
                data_srv.listen(1)
                p = data_srv.getsockname()[1]
                self.send(conn, "227 Entering Passive Mode (127,0,0,1,%d,%d)\r\n" % (p >> 8, p & 255), slow)
            elif cmd in ("LIST", "NLST"):
                if data_srv is None:
                    self.send(conn, "425 No data connection\r\n", slow)
                    self.note(n, mode, "listed")
                    continue
                data_srv.settimeout(30)
                try:
                    dconn, _ = data_srv.accept()
                except OSError:
                    self.send(conn, "425 No data connection\r\n", slow)
                    continue
                self.send(conn, "150 Here it comes\r\n", slow)
                if listing == "endless":
                    self.endless_listing(dconn)
                    return
                self.send(dconn, "".join(l + "\r\n" for l in listing).encode("latin-1", "replace"), slow / 10)
                dconn.close()
                data_srv.close()
                data_srv = None
                self.send(conn, "226 Done\r\n", slow)
                self.note(n, mode, "listed")
            elif cmd == "QUIT":
                self.send(conn, "221 Bye\r\n", slow)
                return
            else:
                self.send(conn, "502 Not implemented\r\n", slow)

    # -- modes -----------------------------------------------------------
    def mode_good(self, conn, n):
        self.dialogue(conn, n, "good", GOOD_LISTING)

    def mode_badlist(self, conn, n):
        self.dialogue(conn, n, "badlist", bad_listing())

    def mode_slow(self, conn, n):
        self.dialogue(conn, n, "slow", GOOD_LISTING, slow=0.2)

    def mode_badpasv(self, conn, n):
        # A closed port on this host, then numbers out of range.
        self.dialogue(conn, n, "badpasv", GOOD_LISTING, pasv_addr="127,0,0,1,0,1")

    def mode_stall(self, conn, n):
        while not self.stop.is_set():
            if not conn.recv(4096):
                return

    def mode_close(self, conn, n):
        pass

    def mode_garbage(self, conn, n):
        rnd = random.Random(n)
        self.send(conn, "abc not a reply\r\n999\r\n2\r\n22\r\n\x00\x00\x00\r\n")
        for _ in range(200):
            self.send(conn, bytes(rnd.randrange(256) for _ in range(rnd.randrange(1, 512))))
        self.send(conn, "220-begins\r\nnever ends properly\r\n221 wrong code\r\n")
        conn.settimeout(5)
        try:
            while conn.recv(4096):
                self.send(conn, "\x8b\x00garbage\r\n")
        except socket.timeout:
            pass

    def mode_flood(self, conn, n):
        # One reply line that never ends: a client that buffers it whole grows without bound.
        self.send(conn, "220")
        chunk = b"x" * 65536
        conn.setblocking(True)
        while not self.stop.is_set():
            conn.sendall(chunk)
            time.sleep(len(chunk) / self.flood_rate)

    def mode_chatter(self, conn, n):
        chunk = b"".join(b"?%d\x1b[2J\r\n" % i for i in range(2000))
        conn.setblocking(True)
        while not self.stop.is_set():
            conn.sendall(chunk)
            time.sleep(len(chunk) / self.flood_rate)

    def mode_biglist(self, conn, n):
        self.dialogue(conn, n, "biglist", "endless")

    def endless_listing(self, dconn):
        i = 0
        dconn.setblocking(True)
        while not self.stop.is_set():
            chunk = b"".join(b"drwxr-xr-x 2 ftp ftp 4096 Mar  5  2023 Vx%d\r\n" % (i + k) for k in range(1000))
            i += 1000
            dconn.sendall(chunk)
            time.sleep(len(chunk) / self.flood_rate)

    def mode_endless(self, conn, n):
        self.send(conn, "220-Welcome\r\n")
        chunk = b"".join(b" line %d of a greeting that never ends\r\n" % i for i in range(1000))
        conn.setblocking(True)
        while not self.stop.is_set():
            conn.sendall(chunk)
            time.sleep(len(chunk) / self.flood_rate)

    def mode_multiline(self, conn, n):
        self.send(conn, "220-Welcome\r\n")
        for i in range(20000):
            self.send(conn, "220-line %d of a greeting that goes on\r\n" % i)
        self.send(conn, "220 ready\r\n")
        self.dialogue(conn, n, "multiline", GOOD_LISTING)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, default=8887)
    ap.add_argument("--modes", default="good")
    ap.add_argument("--log")
    ap.add_argument("--flood-rate", type=float, default=256 * 1024, help="bytes per second")
    ap.add_argument("--ready-file", help="written once the port listens")
    args = ap.parse_args()
    srv = Server(args.host, args.port, args.modes.split(","), args.log, args.flood_rate)
    if args.ready_file:
        with open(args.ready_file, "w") as f:
            f.write("%d\n" % srv.sock.getsockname()[1])
    try:
        srv.serve()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
