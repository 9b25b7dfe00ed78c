#!/usr/bin/env python3
"""A CDDB server for tests, on 127.0.0.1 and a port of its own.

usage: fake_cddb_server.py SCRIPT.json LOG

Prints the port on the first line of standard output, then serves until
killed. SCRIPT maps a command ("query", "read") to what the server does when
a request's cmd= starts with "cddb+<command>":
  {"body": "text"}                 HTTP 200 with that body (UTF-8)
  {"body": "text", "latin1": true} the same body encoded as Latin-1
  {"raw": "bytes"}                 sent as is, no HTTP head (Latin-1 encoded)
  {"status": 404}                  an HTTP status without a CDDB body
  {"behaviour": "stall"}           reads the request and never answers
  {"behaviour": "stall-after", "body": "text"}  sends head and body, then stalls
  {"behaviour": "endless-line"}    a body of one line that never ends
  {"behaviour": "endless-body"}    short lines without end
A key starting with "/" answers a request for that path instead.
Each request line goes to LOG, one per line.
"""
import json
import socket
import sys
import threading
import time


def main():
    script = json.load(open(sys.argv[1], encoding="utf-8"))
    log_path = sys.argv[2]
    log_lock = threading.Lock()

    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", 0))
    srv.listen(16)
    print(srv.getsockname()[1], flush=True)

    def head(length=None, status=200):
        text = "HTTP/1.1 %d %s\r\nContent-Type: text/plain\r\nConnection: close\r\n" % (
            status, "OK" if status == 200 else "Error")
        if length is not None:
            text += "Content-Length: %d\r\n" % length
        return (text + "\r\n").encode()

    def stall(conn):
        while True:
            time.sleep(60)

    def serve(conn):
        try:
            data = b""
            while b"\r\n\r\n" not in data:
                chunk = conn.recv(4096)
                if not chunk:
                    return
                data += chunk
            request_line = data.split(b"\r\n", 1)[0].decode("latin-1")
            with log_lock:
                with open(log_path, "a", encoding="latin-1") as log:
                    log.write(request_line + "\n")
            target = request_line.split(" ")[1] if " " in request_line else ""
            command = ""
            for part in target.split("?", 1)[-1].split("&"):
                if part.startswith("cmd=cddb+"):
                    command = part[len("cmd=cddb+"):].split("+", 1)[0]
            # Other services are scripted by their path ("/x/y.bin": {...}).
            if not command and target.split("?", 1)[0] in script:
                command = target.split("?", 1)[0]
            action = script.get(command, {"body": "500 Command syntax error\r\n"})
            behaviour = action.get("behaviour")
            if behaviour == "stall":
                stall(conn)
            if behaviour == "endless-line":
                conn.sendall(head())
                while True:
                    conn.sendall(b"A" * 65536)
            if behaviour == "endless-body":
                conn.sendall(head())
                conn.sendall(b"210 rock 12345678 entry follows\r\n")
                while True:
                    conn.sendall(b"# padding padding padding padding\r\n" * 1024)
            if "raw" in action:
                conn.sendall(action["raw"].encode("latin-1"))
                return
            if "status" in action:
                conn.sendall(head(0, action["status"]))
                return
            body = action["body"].encode("latin-1" if action.get("latin1") else "utf-8")
            if behaviour == "stall-after":
                conn.sendall(head() + body)
                stall(conn)
            conn.sendall(head(len(body)) + body)
        except OSError:
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass

    while True:
        conn, _ = srv.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    main()
