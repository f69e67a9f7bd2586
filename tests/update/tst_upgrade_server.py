#!/usr/bin/python3
"""A real FTP server on 127.0.0.1 for the update tests, with the faults they need.

Prints "PORT <n>" once it listens on a free port, and ends when its standard input
closes (the test process went away) or when it is killed.

  --root DIR            folder served as the account's home ("/" on the wire)
  --user U --password P the only account
  --write-limit N       send files at no more than N bytes a second
  --freeze-after N      stop sending a file after N bytes, keeping the connection open
  --extra-list FILE     raw listing lines appended to the listing of /ZRT
"""
import argparse
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import DTPHandler, FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--write-limit", type=int, default=0)
    parser.add_argument("--freeze-after", type=int, default=0)
    parser.add_argument("--extra-list", default="")
    args = parser.parse_args()

    def extra_lines():
        # Read at every listing, so a test can change it between checks.
        if not args.extra_list or not os.path.exists(args.extra_list):
            return []
        with open(args.extra_list, encoding="utf-8") as f:
            return [line.rstrip("\r\n") for line in f if line.strip()]

    class ReleaseFS(AbstractedFS):
        def format_list(self, basedir, listing, ignore_err=True):
            yield from super().format_list(basedir, listing, ignore_err)
            if self.fs2ftp(basedir).rstrip("/") == "/ZRT":
                for line in extra_lines():
                    yield (line + "\r\n").encode("utf-8")

    if args.freeze_after:
        class FreezingDTP(DTPHandler):
            freeze_after = args.freeze_after

            def __init__(self, sock, cmd_channel):
                super().__init__(sock, cmd_channel)
                self.file_bytes_sent = 0

            def use_sendfile(self):
                return False

            def send(self, data):
                # (The command name is set only after the first chunk went out.)
                if getattr(self, "cmd", None) in ("LIST", "NLST", "MLSD"):
                    return super().send(data)
                room = self.freeze_after - self.file_bytes_sent
                if room <= 0:
                    # Stop asking to write but keep the socket: the client sees silence.
                    self.modify_ioloop_events(self.ioloop.READ)
                    return 0
                sent = super().send(data[:room])
                self.file_bytes_sent += sent
                return sent

        dtp = FreezingDTP
    elif args.write_limit:
        class SlowDTP(ThrottledDTPHandler):
            write_limit = args.write_limit

        dtp = SlowDTP
    else:
        dtp = DTPHandler

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elr")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.abstracted_fs = ReleaseFS
    Handler.dtp_handler = dtp
    Handler.banner = "update test server ready"
    Handler.passive_ports = None

    server = FTPServer(("127.0.0.1", 0), Handler)
    port = server.socket.getsockname()[1]
    print("PORT %d" % port, flush=True)

    def watch_parent():
        sys.stdin.read()
        os._exit(0)

    threading.Thread(target=watch_parent, daemon=True).start()
    server.serve_forever(timeout=0.5, handle_exit=False)


if __name__ == "__main__":
    import logging
    logging.basicConfig(level=logging.WARNING)
    main()
