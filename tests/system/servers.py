"""Loopback servers for transfer tests: HTTP (and HTTPS) with ranges and
switchable fault modes, and FTP through pyftpdlib. Everything listens on
127.0.0.1 with an ephemeral port.

    http = HttpServer(root_dir).start()
    http.url("file.bin")             # http://127.0.0.1:<port>/file.bin
    http.set_mode(drop_after=1000)   # see HttpServer.DEFAULTS
    http.requests                    # one dict per request: path, headers, status answered
    http.stop()

    https = HttpServer(root_dir, tls=TlsCertificate.create(tmp)).start()
    ftp = FtpServer(root_dir, user="user", password="secret").start()
"""
import base64
import http.server
import logging
import os
import re
import select
import socket
import ssl
import struct
import subprocess
import threading
import time
from pathlib import Path

HOST = "127.0.0.1"


class TlsCertificate:
    """A self-signed certificate for 127.0.0.1 made with openssl."""

    def __init__(self, cert: Path, key: Path, der: Path):
        self.cert, self.key, self.der = cert, key, der

    @classmethod
    def create(cls, folder: Path, name: str = "server", days: int = 30):
        folder = Path(folder)
        folder.mkdir(parents=True, exist_ok=True)
        cert, key, der = folder / f"{name}.pem", folder / f"{name}.key", folder / f"{name}.der"
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256",
                        "-keyout", str(key), "-out", str(cert), "-days", str(days),
                        "-subj", "/CN=127.0.0.1",
                        "-addext", "subjectAltName=IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost",
                        "-addext", "basicConstraints=critical,CA:TRUE"],
                       check=True, capture_output=True, timeout=60)
        subprocess.run(["openssl", "x509", "-in", str(cert), "-outform", "DER", "-out", str(der)],
                       check=True, capture_output=True, timeout=60)
        return cls(cert, key, der)

    def sha1_thumbprint(self) -> str:
        import hashlib
        return hashlib.sha1(self.der.read_bytes()).hexdigest().upper()

    def registry_blob(self) -> bytes:
        """The certificate as the system's registry certificate stores keep it:
        a serialized property list holding the encoded certificate (property
        32) in X.509 ASN.1 encoding (1)."""
        der = self.der.read_bytes()
        return struct.pack("<III", 32, 1, len(der)) + der

    def trust_in(self, prefix):
        """Imports the certificate into the machine's trusted root store of a
        harness.Prefix (HKLM\\Software\\Microsoft\\SystemCertificates\\Root)."""
        key = "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" + self.sha1_thumbprint()
        prefix.reg("add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", self.registry_blob().hex().upper(), "/f")
        return key

    def untrust_in(self, prefix):
        key = "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" + self.sha1_thumbprint()
        prefix.reg("delete", key, "/f", check=False)


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    server_version = "LoopbackTest/1.0"

    def log_message(self, *args):
        pass

    def do_GET(self):
        owner: HttpServer = self.server.owner
        with owner.lock:
            index = len(owner.requests)
            owner.requests.append({"path": self.path, "headers": dict(self.headers.items()),
                                   "raw_headers": str(self.headers)})
            mode = dict(owner.mode)
        self._record = owner.requests[index]
        try:
            self._serve(owner, mode, index)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, OSError):
            pass

    def send_response(self, code, message=None):
        self._record["status"] = code  # the status answered, beside the request
        super().send_response(code, message)

    def _body_error(self, status, text=None, retry_after=None):
        body = (text or f"status {status}\n").encode()
        self.send_response(status)
        if retry_after is not None:
            self.send_header("Retry-After", retry_after)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def _stall(self, owner):
        """Sends nothing more until the client goes away (or longer than the transfer waits for data)."""
        self.wfile.flush()
        deadline = time.monotonic() + 150
        while time.monotonic() < deadline and not owner.stopping:
            readable, _, _ = select.select([self.connection], [], [], 0.1)
            if readable:
                try:
                    if not self.connection.recv(1, socket.MSG_PEEK):
                        return
                except OSError:
                    return
                return
        self.close_connection = True

    def _serve(self, owner, mode, index):
        path = self.path.split("?", 1)[0]
        if mode["stall"] == "headers":
            self._stall(owner)
            return
        if mode["no_answer"] is not None and index < mode["no_answer"]:
            # Takes the request and closes without a word.
            self._record["status"] = 0
            self.close_connection = True
            return
        if mode["auth"]:
            expected = "Basic " + base64.b64encode(mode["auth"].encode()).decode()
            if self.headers.get("Authorization") != expected:
                body = b"authentication required\n"
                self.send_response(401)
                self.send_header("WWW-Authenticate", 'Basic realm="test"')
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)
                return
        if path in mode["redirects"]:
            self.send_response(302)
            self.send_header("Location", mode["redirects"][path])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if mode["status"] and (mode["status_count"] is None or index < mode["status_count"]):
            status = mode["status"]
            if status == 304:
                self.send_response(304)
                self.end_headers()
                return
            self._body_error(status, mode["status_body"], mode["retry_after"])
            return
        file = owner.root / path.lstrip("/")
        if not file.is_file():
            self._body_error(404)
            return
        changed = mode["changed_from"] is not None and index >= mode["changed_from"]
        # Served from the file as it is read (large files are never held
        # whole); the changed file's bytes from memory.
        data = mode["changed"] if changed else FileBytes(file)
        size = len(data)
        validators = validators_of(data, changed, mode["validators"]) if mode["validators"] else {}

        start = 0
        ranged = False
        rng = self.headers.get("Range")
        honour = mode["range"] == "honour" and not (mode["whole_after_first"] and index > 0)
        # RFC 9110: a Range whose If-Range does not match the file's current
        # validator is ignored, the whole file is the answer.
        condition = self.headers.get("If-Range")
        if condition is not None and not if_range_matches(condition, validators):
            honour = False
        if rng and honour and mode["answer_416"] is not None:
            # A server that says nothing lies beyond, with a total of its own.
            self.send_response(416)
            self.send_header("Content-Range", f"bytes */{mode['answer_416']}")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if rng and honour:
            m = re.fullmatch(r"bytes=(\d+)-", rng.strip())
            if m:
                start = int(m.group(1))
                if start >= size:
                    self.send_response(416)
                    self.send_header("Content-Range", f"bytes */{size}")
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                ranged = True
        if ranged and mode["partial_offset"]:
            # A piece that starts elsewhere than asked.
            start = max(0, min(size - 1, start + mode["partial_offset"]))
        body = data.view(start) if isinstance(data, FileBytes) else data[start:]

        whole = mode["announce"] or size
        if ranged:
            end = whole
            if mode["partial_span"]:
                # A narrower piece than asked for, announced as such.
                end = min(whole, start + mode["partial_span"])
                body = body[:end - start]
            self.send_response(206)
            if mode["partial_content_range"]:
                self.send_header("Content-Range", f"bytes {start}-{end - 1}/{whole}")
            if mode["partial_length"]:
                self.send_header("Content-Length", str(end - start))
        chunked = False
        if not ranged and mode["chunked"]:
            # HTTP/1.1 chunked framing, written by hand: the length is never told.
            chunked = True
            self._record["status"] = 200
            self.wfile.write(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                             b"Content-Type: application/octet-stream\r\nConnection: close\r\n")
            for name, value in validators.items():
                self.wfile.write(f"{name}: {value}\r\n".encode())
            self.wfile.write(b"\r\n")
        elif not ranged:
            self.send_response(200)
            if mode["length"]:
                self.send_header("Content-Length", str(whole))
        if not chunked:
            for name, value in validators.items():
                self.send_header(name, value)
            self.send_header("Content-Type", "application/octet-stream")
            self.end_headers()

        limit = len(body)
        drop = mode["drop_after"]
        if drop is not None and (mode["drop_every"] or not owner.dropped):
            limit = min(limit, drop)
            owner.dropped = True
            dropping = True
        else:
            dropping = False
        stall = mode["stall"]
        if isinstance(stall, int) and not dropping:
            limit = min(limit, stall)
        chunk = mode["chunk"]
        delay = mode["delay"]
        sent = 0
        reader = body.reader() if isinstance(body, FileBytes) else None
        try:
            while sent < limit:
                whole_piece = min(chunk, len(body) - sent)
                n = min(chunk, limit - sent)
                piece = reader.read(n) if reader else body[sent:sent + n]
                if chunked:
                    # A chunk cut by the drop still announces its whole size.
                    self.wfile.write(b"%x\r\n" % whole_piece + piece + (b"\r\n" if n == whole_piece else b""))
                else:
                    self.wfile.write(piece)
                sent += n
                if delay:
                    self.wfile.flush()
                    time.sleep(delay)
                    if owner.stopping:
                        break
        finally:
            if reader:
                reader.close()
        if chunked and not dropping:
            self.wfile.write(b"0\r\n\r\n")
        self.wfile.flush()
        if isinstance(stall, int) and not dropping:
            self._stall(owner)
            return
        if dropping and mode["clean_close"]:
            self.close_connection = True
        elif dropping:
            # Abortive close: the client sees the connection reset or an early end.
            try:
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            except OSError:
                pass
            self.close_connection = True


class FileBytes:
    """A served file read on demand: len() and slices, so that a file of
    several GiB (a sparse one, say) is sent without being held in memory."""

    def __init__(self, path: Path, start: int = 0, size: int | None = None):
        self.path, self.start = path, start
        self.size = path.stat().st_size - start if size is None else size

    def __len__(self):
        return self.size

    def view(self, start: int):
        return FileBytes(self.path, self.start + start, max(0, self.size - start))

    def __getitem__(self, piece: slice) -> bytes:
        begin, end, _ = piece.indices(self.size)
        with open(self.path, "rb") as f:
            f.seek(self.start + begin)
            return f.read(max(0, end - begin))

    def bytes(self) -> bytes:
        return self[:]

    def reader(self):
        f = open(self.path, "rb")
        f.seek(self.start)
        return f


# The dates the served file was last modified before and after it changed.
FIRST_DATE = "Mon, 07 Dec 2026 10:00:00 GMT"
CHANGED_DATE = "Tue, 08 Dec 2026 10:00:00 GMT"


def validators_of(data: bytes, changed: bool, kinds) -> dict:
    """The validator headers of a served file: "etag" a strong ETag of its
    bytes, "weak_etag" a weak one, "last_modified" its date."""
    import hashlib
    if isinstance(data, FileBytes):
        data = data.bytes()
    tag = '"' + hashlib.sha1(data).hexdigest()[:16] + '"'
    headers = {}
    if "etag" in kinds:
        headers["ETag"] = tag
    if "weak_etag" in kinds:
        headers["ETag"] = "W/" + tag
    if "last_modified" in kinds:
        headers["Last-Modified"] = CHANGED_DATE if changed else FIRST_DATE
    return headers


def if_range_matches(condition: str, validators: dict) -> bool:
    """An If-Range matches a strong ETag exactly, or the Last-Modified date
    exactly; a weak tag never matches."""
    condition = condition.strip()
    if condition.startswith('"'):
        tag = validators.get("ETag", "")
        return not tag.startswith("W/") and tag == condition
    if condition.startswith("W/"):
        return False
    return validators.get("Last-Modified") == condition


class HttpServer:
    """HTTP/1.0 file server over a folder with fault modes (see DEFAULTS)."""

    DEFAULTS = {
        "range": "honour",            # "honour" or "ignore" Range headers
        "whole_after_first": False,   # ignore Range from the second request on
        "length": True,               # Content-Length on 200 answers
        "partial_length": True,       # Content-Length on 206 answers
        "partial_content_range": True,  # Content-Range on 206 answers
        "status": None,               # answer every request with this status (304, 401, 403, 404, 410, 500 ...)
        "status_body": None,          # body text of that status
        "status_count": None,         # ... for the first N requests only (None: all)
        "retry_after": None,          # Retry-After header of that status
        "partial_offset": 0,          # 206 answers start this many bytes away from the range asked
        "announce": None,             # announce a file of this size (the body stays the real one)
        "stall": None,                # "headers": never answer; N: send N body bytes, then nothing
        "redirects": {},              # path -> location (302)
        "auth": None,                 # "user:password" required with Basic
        "drop_after": None,           # end the connection after N body bytes ...
        "drop_every": False,          # ... on every request (else only once)
        "clean_close": False,         # ... with an orderly close instead of a reset
        "partial_span": None,         # 206 answers carry at most this many bytes (a narrower piece)
        "chunk": 65536,               # bytes per write
        "delay": 0.0,                 # seconds between writes (trickle)
        "validators": (),             # "etag", "weak_etag", "last_modified" headers on 200 and 206
        "changed": None,              # the file's new bytes (with new validators) ...
        "changed_from": None,         # ... served from this request number on (None: never)
        "chunked": False,             # 200 answers as HTTP/1.1 chunked bodies (no length; drop_after cuts them)
        "answer_416": None,           # answer every Range request 416 "bytes */<this total>"
        "no_answer": None,            # the first N requests are taken and closed without an answer
    }

    def __init__(self, root, tls: TlsCertificate | None = None):
        self.root = Path(root)
        self.tls = tls
        self.lock = threading.Lock()
        self.requests = []
        self.mode = dict(self.DEFAULTS)
        self.dropped = False
        self.stopping = False
        self._server = None
        self._thread = None

    def start(self):
        server = http.server.ThreadingHTTPServer((HOST, 0), _Handler)
        server.daemon_threads = True
        server.owner = self
        if self.tls:
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            ctx.load_cert_chain(str(self.tls.cert), str(self.tls.key))
            server.socket = ctx.wrap_socket(server.socket, server_side=True)
        self._server = server
        self._thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True)
        self._thread.start()
        return self

    def stop(self):
        self.stopping = True
        if self._server:
            self._server.shutdown()
            self._server.server_close()
            self._server = None

    @property
    def port(self) -> int:
        return self._server.server_address[1]

    def url(self, path: str = "") -> str:
        scheme = "https" if self.tls else "http"
        return f"{scheme}://{HOST}:{self.port}/{path.lstrip('/')}"

    def set_mode(self, **changes):
        unknown = set(changes) - set(self.DEFAULTS)
        if unknown:
            raise KeyError(f"unknown modes {unknown}")
        with self.lock:
            self.mode.update(changes)
        return self

    def reset(self):
        with self.lock:
            self.mode = dict(self.DEFAULTS)
            self.requests.clear()
            self.dropped = False
        return self

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


class FtpServer:
    """pyftpdlib server over a folder: anonymous read access and one user.
    rest="accept" answers REST with 350 (in any transfer type), rest="refuse"
    with 502, rest="forget" with 350 but drops the offset when TYPE or PASV
    follows (the whole file is then sent). commands records every command
    line received."""

    def __init__(self, root, user="user", password="secret", rest="accept"):
        self.root = Path(root)
        self.user, self.password = user, password
        self.rest = rest
        # size="refuse" answers SIZE with 502; cut_after=N ends the data
        # stream of the next RETR cleanly after N bytes (once).
        self.size = "accept"
        self.cut_after = None
        self.commands = []
        self._server = None
        self._thread = None
        self._stop = threading.Event()

    def start(self):
        from pyftpdlib.authorizers import DummyAuthorizer
        from pyftpdlib.filesystems import AbstractedFS
        from pyftpdlib.handlers import FTPHandler
        from pyftpdlib.servers import FTPServer

        log = logging.getLogger("pyftpdlib")
        if not log.handlers:
            log.addHandler(logging.NullHandler())
        log.propagate = False
        owner = self
        authorizer = DummyAuthorizer()
        authorizer.add_user(self.user, self.password, str(self.root), perm="elr")
        authorizer.add_anonymous(str(self.root), perm="elr")

        class CutFile:
            """A served file whose stream ends after owner.cut_after bytes."""

            def __init__(self, f, limit):
                self._f, self._left = f, limit
                self.name, self.closed = f.name, False

            def seek(self, *args):
                return self._f.seek(*args)

            def read(self, n=-1):
                n = self._left if n < 0 else min(n, self._left)
                data = self._f.read(n)
                self._left -= len(data)
                return data

            def close(self):
                self.closed = True
                self._f.close()

        class Files(AbstractedFS):
            def open(self, filename, mode):
                f = super().open(filename, mode)
                if owner.cut_after is None or "r" not in mode:
                    return f
                limit, owner.cut_after = owner.cut_after, None
                return CutFile(f, limit)

        class Handler(FTPHandler):
            def ftp_SIZE(self, path):
                if owner.size == "refuse":
                    self.respond("502 SIZE is not supported here.")
                    return
                return super().ftp_SIZE(path)

            def pre_process_command(self, line, cmd, arg):
                owner.commands.append(line)
                return super().pre_process_command(line, cmd, arg)

            def ftp_REST(self, line):
                if owner.rest == "refuse":
                    self.respond("502 REST is not supported here.")
                    return
                # Accepted in any transfer type (pyftpdlib itself refuses it
                # in ASCII mode, which a client may still be in).
                try:
                    marker = int(line)
                    if marker < 0:
                        raise ValueError
                except ValueError:
                    self.respond("501 Invalid parameter.")
                    return
                self._restart_position = marker
                self.respond(f"350 Restarting at position {marker}.")

            def ftp_TYPE(self, line):
                if owner.rest == "forget":
                    self._restart_position = 0
                return super().ftp_TYPE(line)

            def ftp_PASV(self, line):
                if owner.rest == "forget":
                    self._restart_position = 0
                return super().ftp_PASV(line)

        Handler.authorizer = authorizer
        Handler.abstracted_fs = Files
        Handler.passive_ports = None
        Handler.masquerade_address = None
        Handler.banner = "loopback test ftp"
        self._server = FTPServer((HOST, 0), Handler)
        self._thread = threading.Thread(target=self._loop, daemon=True)
        self._thread.start()
        return self

    def _loop(self):
        while not self._stop.is_set():
            self._server.ioloop.loop(timeout=0.05, blocking=False)
        self._server.close_all()

    def stop(self):
        self._stop.set()
        if self._thread:
            self._thread.join(timeout=10)

    @property
    def port(self) -> int:
        return self._server.address[1]

    def url(self, path: str = "", user: str | None = None, password: str | None = None) -> str:
        auth = ""
        if user:
            auth = user + (":" + password if password else "") + "@"
        return f"ftp://{auth}{HOST}:{self.port}/{path.lstrip('/')}"

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
