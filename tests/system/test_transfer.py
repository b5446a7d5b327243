"""File transfers under Wine: the transfer probe runs one FileTransfer against
loopback HTTP, HTTPS and FTP servers and against local files, and prints every
observer call. Every run is bounded by the runner's time limit."""
import hashlib
import os
import re
import signal
import subprocess
import time
from pathlib import Path

import pytest

import harness
import servers
from harness import win_path

E_DL_BAD_TARGET = 0xE0000005
E_DL_CANCELLED = 0xE0000008
E_DL_PARTIAL_TOO_LARGE = 0xE0000010
E_DL_AUTH_REQUIRED = 0xE0000012
E_DL_NOT_MODIFIED = 0xE0000013
E_DL_FORBIDDEN = 0xE0000016
E_DL_NOT_FOUND = 0xE0000018
E_DL_HTTP_ERROR = 0xE0000019
E_DL_SERVER_UNAVAILABLE = 0xE000001A
E_DL_FILE_TOO_LARGE = 0xE000001B
E_DL_INCOMPLETE = 0xE000001C
E_DL_STALLED = 0xE000001D
E_DL_INSECURE_REDIRECT = 0xE000001E
E_DL_REDIRECT_LOOP = 0xE0000027
E_DL_DISK_FULL = 0xE0000028
E_DL_FILE_REJECTED = 0xE0000022
E_DL_SIZE_MISMATCH = 0xE0000023
GIB = 1 << 30

SIZE = 300_000
LIMIT = 60  # seconds for one probe run


class Run:
    """The probe's output taken apart."""

    def __init__(self, result: harness.RunResult):
        self.output = result.output
        self.seconds = result.seconds
        m = re.search(r"^result=(\d+)", result.output, re.M)
        assert m, result.output
        self.code = int(m.group(1))
        self.events = []
        for line in result.output.splitlines():
            word, _, rest = line.partition(" ")
            if word in ("started", "progress", "finished", "error", "cancel-query", "waiting"):
                fields = dict(re.findall(r"(\w[\w-]*)=(\S*)", rest))
                if word == "error":
                    fields["context"] = re.search(r"context=(.*?) answer=", rest).group(1)
                self.events.append((word, fields))

    def of(self, kind):
        return [f for k, f in self.events if k == kind]

    @property
    def progress(self):
        return [int(f["bytes"]) for f in self.of("progress")]

    @property
    def waits(self):
        return [(f["reason"], int(f["attempt"]), int(f["attempts"])) for f in self.of("waiting")]

    @property
    def errors(self):
        return [(int(f["code"]), f["handle"], f["context"]) for f in self.of("error")]


def probe(prefix, url, target, *options, timeout=LIMIT) -> Run:
    target = target if isinstance(target, str) else win_path(target)
    return Run(prefix.run(harness.program("transfer_probe"), url, target, *map(str, options), timeout=timeout))


@pytest.fixture(scope="module")
def source(tmp_path_factory):
    root = tmp_path_factory.mktemp("served")
    (root / "f.bin").write_bytes(os.urandom(SIZE))
    (root / "sub").mkdir()
    (root / "sub" / "g.bin").write_bytes(os.urandom(5000))
    return root


@pytest.fixture(scope="module")
def http_server(source):
    server = servers.HttpServer(source).start()
    yield server
    server.stop()


@pytest.fixture
def http(http_server):
    return http_server.reset()


@pytest.fixture
def target(workdir):
    return workdir / "dl" / "f.bin"


def part_of(path: Path) -> Path:
    return Path(str(path) + ".part")


# ---------------------------------------------------------------------------
# HTTP


def test_whole_file_over_http(prefix, http, source, target):
    run = probe(prefix, http.url("f.bin"), target)
    assert run.code == 0
    assert target.read_bytes() == (source / "f.bin").read_bytes()
    assert not part_of(target).exists()
    started = run.of("started")
    assert started == [{"kind": "1", "total": str(SIZE), "target": win_path(target)}]
    assert run.progress[0] == 0 and sum(run.progress) == SIZE
    assert all(0 < b <= 51200 for b in run.progress[1:])
    assert run.of("finished") == [{"scope": "1", "reserved": "0"}]
    assert run.errors == []
    (request,) = http.requests
    assert request["headers"]["User-Agent"] == "Corvane"
    assert "Range" not in request["headers"]
    assert request["headers"]["Accept"] == "*/*"


def test_no_observer_still_downloads(prefix, http, source, target):
    run = probe(prefix, http.url("f.bin"), target, "--no-observer")
    assert run.code == 0 and run.events == []
    assert target.read_bytes() == (source / "f.bin").read_bytes()


# (server mode, part file length, expected first progress, expected total, expected result)
RESUME_CASES = {
    "range honoured": (dict(), 1000, 1000, SIZE, 0),
    "range ignored restarts": (dict(range="ignore"), 1000, 0, SIZE, 0),
    "206 without length, total from Content-Range": (dict(partial_length=False), 1000, 1000, SIZE, 0),
    # A 206 that does not say where its bytes lie is never appended: the whole file comes again.
    "206 without length or Content-Range": (dict(partial_length=False, partial_content_range=False), 1000, 0, SIZE, 0),
    "206 without Content-Range": (dict(partial_content_range=False), 1000, 0, SIZE, 0),
    # A narrower 206 is followed by requests for the rest.
    "narrow 206, then the rest": (dict(partial_span=70_000), 1000, 1000, SIZE, 0),
    "whole file already held": (dict(range="ignore"), SIZE, None, None, E_DL_PARTIAL_TOO_LARGE),
    "more than the whole file held": (dict(range="ignore"), SIZE + 10, None, None, E_DL_PARTIAL_TOO_LARGE),
    # 416: nothing beyond the part file. It is the whole file when the totals agree ...
    "416, part file complete": (dict(), SIZE, SIZE, SIZE, 0),
    # ... else the whole file is asked for again and replaces it.
    "416, other total restarts": (dict(), SIZE + 10, 0, SIZE, 0),
    "206 starting before restarts": (dict(partial_offset=-500), 1000, 0, SIZE, 0),
    "206 starting after restarts": (dict(partial_offset=700), 1000, 0, SIZE, 0),
    "503, then the rest": (dict(status=503, status_count=2, retry_after="0"), 1000, 1000, SIZE, 0),
    "503 for ever keeps the part file": (dict(status=503, retry_after="0"), 1000, None, None, E_DL_SERVER_UNAVAILABLE),
    "404 keeps the part file": (dict(status=404), 1000, None, None, E_DL_NOT_FOUND),
    # Sizes are 64-bit: what is refused is a file the volume cannot take.
    "more than the volume's free space is refused": (dict(announce=1 << 50), 1000, None, None, E_DL_DISK_FULL),
    "a size beyond any file is refused": (dict(announce=10 ** 20), 1000, None, None, E_DL_FILE_TOO_LARGE),
}


@pytest.mark.parametrize("case", RESUME_CASES, ids=list(RESUME_CASES))
def test_resume_from_part_file(prefix, http, source, target, case):
    mode, held, first, total, expected = RESUME_CASES[case]
    data = (source / "f.bin").read_bytes()
    http.set_mode(**mode)
    target.parent.mkdir(parents=True)
    # The part file holds the true first bytes, or garbage beyond the end.
    part_bytes = data[:held] if held <= SIZE else data + b"x" * (held - SIZE)
    part_of(target).write_bytes(part_bytes)
    run = probe(prefix, http.url("f.bin"), target)
    assert run.code == expected
    assert http.requests[0]["headers"].get("Range") == f"bytes={held}-"
    if expected == 0:
        assert target.read_bytes() == data
        assert not part_of(target).exists()
        assert run.progress[0] == first
        assert sum(run.progress) == SIZE
        assert int(run.of("started")[0]["total"]) == total
        if mode.get("status") == 503:
            # The dialog tells each pause before the server is asked again.
            assert run.waits == [("unavailable", 1, 3), ("unavailable", 0, 3), ("unavailable", 2, 3), ("unavailable", 0, 3)]
    else:
        assert not target.exists()
        assert part_of(target).read_bytes() == part_bytes, "a refused resume must leave the part file alone"
        assert run.errors == [(expected, "none", "f.bin")]


# (server mode, expected result, expected reports as (code, handle, context) with URL for the URL)
STATUS_CASES = {
    "404": (dict(status=404), E_DL_NOT_FOUND, [(E_DL_NOT_FOUND, "none", "f.bin")]),
    "410": (dict(status=410), E_DL_NOT_FOUND, [(E_DL_NOT_FOUND, "none", "f.bin")]),
    "403": (dict(status=403), E_DL_FORBIDDEN, [(E_DL_FORBIDDEN, "none", "f.bin")]),
    "304 is not reported": (dict(status=304), E_DL_NOT_MODIFIED, []),
    "401 asks for credentials": (dict(auth="someone:pw"), E_DL_AUTH_REQUIRED,
                                 [(E_DL_AUTH_REQUIRED, "credentials", "URL"), (E_DL_AUTH_REQUIRED, "none", "f.bin")]),
    # An error page is never stored as the file.
    "400": (dict(status=400), E_DL_HTTP_ERROR, [(E_DL_HTTP_ERROR, "none", "f.bin")]),
    "416 to a whole request": (dict(status=416), E_DL_HTTP_ERROR, [(E_DL_HTTP_ERROR, "none", "f.bin")]),
    "500, retried with growing pauses": (dict(status=500, status_body="internal trouble\n"), E_DL_SERVER_UNAVAILABLE,
                                         [(E_DL_SERVER_UNAVAILABLE, "none", "f.bin")]),
    "429 with Retry-After": (dict(status=429, retry_after="1"), E_DL_SERVER_UNAVAILABLE,
                             [(E_DL_SERVER_UNAVAILABLE, "none", "f.bin")]),
    "more than the volume's free space": (dict(announce=1 << 50), E_DL_DISK_FULL, [(E_DL_DISK_FULL, "none", "f.bin")]),
    "a size beyond any file": (dict(announce=10 ** 20), E_DL_FILE_TOO_LARGE, [(E_DL_FILE_TOO_LARGE, "none", "f.bin")]),
}


@pytest.mark.parametrize("case", STATUS_CASES, ids=list(STATUS_CASES))
def test_refusing_statuses(prefix, http, target, case):
    mode, expected, reports = STATUS_CASES[case]
    http.set_mode(**mode)
    url = http.url("f.bin")
    run = probe(prefix, url, target)
    assert run.code == expected
    assert run.errors == [(c, h, url if ctx == "URL" else ctx) for c, h, ctx in reports]
    assert run.of("started") == [] and run.progress == []
    assert not target.exists() and not part_of(target).exists()
    # 408, 429 and 5xx are tried again three times; the others once.
    assert len(http.requests) == (4 if expected == E_DL_SERVER_UNAVAILABLE else 1)


@pytest.mark.parametrize("status", [203, 204, 302])
def test_other_status_body_is_not_the_file(prefix, http, target, status):
    # A success other than 200 and 206, or a redirect WinINet did not follow
    # (it has no Location): the part file stays as it was.
    http.set_mode(status=status, status_body="internal trouble\n")
    target.parent.mkdir(parents=True)
    part_of(target).write_bytes(b"head")
    run = probe(prefix, http.url("f.bin"), target)
    assert run.code == E_DL_HTTP_ERROR
    assert not target.exists() and part_of(target).read_bytes() == b"head"


def test_credentials_from_url_are_percent_decoded(prefix, http, source, target):
    # "%41" is the letter A; "%zz" is not hexadecimal and stays as written.
    http.set_mode(auth="userA:p%zzw")
    url = http.url("f.bin").replace("http://", "http://user%41:p%zzw@")
    run = probe(prefix, url, target)
    assert run.code == 0, run.output
    assert target.read_bytes() == (source / "f.bin").read_bytes()


@pytest.mark.parametrize("options,shown", [([], 0), (["--expected", SIZE], SIZE)])
def test_unknown_length_ends_where_the_server_confirms_it(prefix, http, source, target, options, shown):
    # The data ended without a length: a range from its end is answered 416
    # with the total the part file holds, and only that makes it the file.
    # ExactSize is the total the observer shows meanwhile.
    http.set_mode(length=False)
    run = probe(prefix, http.url("f.bin"), target, *options)
    assert run.code == 0
    assert int(run.of("started")[0]["total"]) == shown
    assert target.read_bytes() == (source / "f.bin").read_bytes()
    # ExactSize is a proven total of its own: no range needs to confirm it.
    proof = [] if shown else [(f"bytes={SIZE}-", 416)]
    assert [(r["headers"].get("Range"), r["status"]) for r in http.requests] == [(None, 200)] + proof


# (expected size, MD5, SHA256, expected result): checked over the bytes as written,
# before the part file becomes the target. (A resumed 206 announces the total:
# a wrong size is refused before anything is read.)
DIGEST_CASES = {
    "MD5 matches": (0, "md5", None, 0),
    "SHA256 matches": (0, None, "sha256", 0),
    "both match, upper case": (SIZE, "MD5", "SHA256", 0),
    "MD5 differs": (0, "0" * 32, None, E_DL_FILE_REJECTED),
    "SHA256 differs": (0, "md5", "f" * 64, E_DL_FILE_REJECTED),
    # A body without length ends where the server's answer to a range from
    # its end says: that size is announced, and differs.
    "size differs at the end": (SIZE + 1, None, None, E_DL_SIZE_MISMATCH),
    # A body without a length is not written past ExactSize.
    "size passed while writing": (1000, None, None, E_DL_FILE_REJECTED),
}


@pytest.mark.parametrize("case", DIGEST_CASES, ids=list(DIGEST_CASES))
@pytest.mark.parametrize("held", [0, 1000])
def test_digests_are_checked_while_writing(prefix, http, source, target, case, held):
    import hashlib
    expected, md5, sha256, code = DIGEST_CASES[case]
    data = (source / "f.bin").read_bytes()
    digests = {"md5": hashlib.md5(data).hexdigest(), "sha256": hashlib.sha256(data).hexdigest()}
    digests.update({k.upper(): v.upper() for k, v in digests.items()})
    # The size is judged at the end, not from the answer; the ETag leaves a
    # validator beside a part file begun afresh, gone with its part file.
    http.set_mode(length=False, validators=("etag",))
    options = []
    if expected:
        options += ["--expected", expected]
    if md5:
        options += ["--md5", digests.get(md5, md5)]
    if sha256:
        options += ["--sha256", digests.get(sha256, sha256)]
    if held:
        target.parent.mkdir(parents=True)
        part_of(target).write_bytes(data[:held])
    run = probe(prefix, http.url("f.bin"), target, *options)
    if held and expected and expected != SIZE:
        code = E_DL_SIZE_MISMATCH
    assert run.code == code, run.output
    if code == E_DL_SIZE_MISMATCH:
        kept = part_of(target).read_bytes()
        assert len(kept) >= held and kept == data[:len(kept)]
    elif code == 0:
        assert target.read_bytes() == data
        assert ("verified-while-writing=1" in run.output) == bool(md5 or sha256)
    else:
        assert not target.exists() and not part_of(target).exists()
        assert "verified-while-writing=0" in run.output
        if expected and expected < SIZE:
            assert held + sum(run.progress) <= expected
    if code != E_DL_SIZE_MISMATCH:
        assert not validator_of(target).exists()


@pytest.mark.parametrize("option,digest", [("--md5", "d41d8cd98f00b204e9800998ecf8427e"),
                                           ("--sha256", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855")])
def test_empty_file_never_matches_a_digest(prefix, http, source, target, option, digest):
    # The digest of the empty text does not make an empty download right.
    (source / "empty.bin").write_bytes(b"")
    run = probe(prefix, http.url("empty.bin"), target, option, digest)
    assert run.code == E_DL_FILE_REJECTED, run.output
    assert not target.exists() and not part_of(target).exists()


def test_announced_size_differs_from_expected(prefix, http, target):
    run = probe(prefix, http.url("f.bin"), target, "--expected", 100)
    assert run.code == E_DL_SIZE_MISMATCH
    assert run.errors == [(E_DL_SIZE_MISMATCH, "none", "f.bin")]
    assert run.of("started") == []
    assert not target.exists() and not part_of(target).exists()


def chain(n):
    """Redirects /r0.bin -> /r1.bin -> ... -> /r<n>.bin, the last one to the file."""
    hops = {f"/r{i}.bin": f"/r{i + 1}.bin" for i in range(n)}
    hops[f"/r{n}.bin"] = "/sub/g.bin"
    return hops


# (redirects, first path, expected result, requests expected)
REDIRECT_CASES = {
    "followed": ({"/old.bin": "/sub/g.bin"}, "/old.bin", 0, 2),
    "20 in a row are followed": (chain(19), "/r0.bin", 0, 21),
    "21 in a row are a loop": (chain(20), "/r0.bin", E_DL_REDIRECT_LOOP, None),
    "a loop": ({"/a.bin": "/b.bin", "/b.bin": "/a.bin"}, "/a.bin", E_DL_REDIRECT_LOOP, None),
    "a loop to itself": ({"/a.bin": "/a.bin"}, "/a.bin", E_DL_REDIRECT_LOOP, None),
}


@pytest.mark.parametrize("case", REDIRECT_CASES, ids=list(REDIRECT_CASES))
def test_redirects_are_counted(prefix, http, source, target, workdir, case):
    redirects, first, expected, requests = REDIRECT_CASES[case]
    http.set_mode(redirects=redirects)
    log = workdir / "transfer.log"
    run = probe(prefix, http.url(first), target, "--log", win_path(log))
    assert run.code == expected, run.output
    if expected == 0:
        assert target.read_bytes() == (source / "sub" / "g.bin").read_bytes()
        assert len(http.requests) == requests
    else:
        # Ends at once, not by a stall: the loop is dropped after the bound.
        assert run.seconds < 15 and len(http.requests) <= 25
        assert run.errors == [(E_DL_REDIRECT_LOOP, "none", "f.bin")]
        assert "Download refused, redirected more than 20 times:" + http.url(first) in log.read_text("utf-16")
        assert not target.exists() and not part_of(target).exists()


def test_query_string_is_sent(prefix, http, source, target):
    run = probe(prefix, http.url("f.bin?v=2&x=%41"), target)
    assert run.code == 0
    assert http.requests[0]["path"] == "/f.bin?v=2&x=%41"


def test_dropped_connection_is_resumed_with_a_range(prefix, http, source, target):
    http.set_mode(drop_after=100_000)
    run = probe(prefix, http.url("f.bin"), target)
    assert run.code == 0
    assert target.read_bytes() == (source / "f.bin").read_bytes()
    # The reset may discard bytes still in flight: the resumption starts at
    # what reached the part file, never beyond the drop.
    # A reset that takes the answer with it is tried again without a range.
    ranges = [r["headers"].get("Range") for r in http.requests]
    assert ranges[0] is None and len(ranges) >= 2
    offsets = [int(re.fullmatch(r"bytes=(\d+)-", r).group(1)) for r in ranges[1:] if r]
    assert all(0 < o <= 100_000 for o in offsets[:1])
    assert sum(run.progress) == SIZE


def test_dropped_connections_every_time_still_complete(prefix, http, source, target):
    http.set_mode(drop_after=70_000, drop_every=True, chunk=10_000)
    run = probe(prefix, http.url("f.bin"), target)
    assert run.code == 0
    assert target.read_bytes() == (source / "f.bin").read_bytes()
    ranges = [r["headers"].get("Range") for r in http.requests]
    offsets = [int(re.fullmatch(r"bytes=(\d+)-", r).group(1)) for r in ranges[1:] if r]
    assert ranges[0] is None and offsets == sorted(offsets) and len(offsets) >= 3


def test_whole_file_again_after_reconnection_starts_the_part_file_again(prefix, http, source, target):
    http.set_mode(drop_after=100_000, whole_after_first=True)
    run = probe(prefix, http.url("f.bin"), target)
    assert run.code == 0, run.output
    assert target.read_bytes() == (source / "f.bin").read_bytes()
    assert len(http.requests) >= 2


def validator_of(path: Path) -> Path:
    return Path(str(path) + ".part.validator")


# (validators the server sends, whether the file changes after the cut, the
# If-Range expected with the resumption: "etag", "date" or None)
CHANGE_CASES = {
    "ETag, file changed": (("etag", "last_modified"), True, "etag"),
    "Last-Modified only, file changed": (("last_modified",), True, "date"),
    "ETag, file unchanged": (("etag",), False, "etag"),
    "weak ETag and Last-Modified, file changed": (("weak_etag", "last_modified"), True, "date"),
    "weak ETag only, file unchanged": (("weak_etag",), False, None),
}


@pytest.mark.parametrize("cut", ["connection dropped", "next run"])
@pytest.mark.parametrize("case", CHANGE_CASES, ids=list(CHANGE_CASES))
def test_part_file_is_resumed_only_from_the_same_file(prefix, http, source, target, workdir, case, cut):
    kinds, changes, condition = CHANGE_CASES[case]
    first = (source / "f.bin").read_bytes()
    second = os.urandom(SIZE - 20_000) if changes else first
    log = workdir / "transfer.log"
    if cut == "connection dropped":
        # An orderly close keeps every byte sent: the resumption asks for a range.
        http.set_mode(validators=kinds, drop_after=100_000, clean_close=True, changed=second, changed_from=1)
        run = probe(prefix, http.url("f.bin"), target, "--log", win_path(log))
    else:
        http.set_mode(validators=kinds, chunk=8192, delay=0.01)
        run = probe(prefix, http.url("f.bin"), target, "--cancel-after-bytes", 50_000)
        assert run.code == E_DL_CANCELLED
        kept = validator_of(target).read_bytes() if condition else None
        if condition == "etag":
            assert kept == b"ETag\r\n" + servers.validators_of(first, False, kinds)["ETag"].encode() + b"\r\n"
        elif condition == "date":
            assert kept == f"Last-Modified\r\n{servers.FIRST_DATE}\r\n".encode()
        else:
            assert not validator_of(target).exists()
        http.set_mode(changed=second, changed_from=len(http.requests))
        run = probe(prefix, http.url("f.bin"), target, "--log", win_path(log))
    assert run.code == 0, run.output
    assert target.read_bytes() == second
    assert not part_of(target).exists() and not validator_of(target).exists()
    resumed = next(r for r in http.requests[1:] if "Range" in r["headers"])
    sent = resumed["headers"].get("If-Range")
    expected = {"etag": servers.validators_of(first, False, kinds).get("ETag"), "date": servers.FIRST_DATE,
                None: None}[condition]
    assert sent == expected
    assert resumed["status"] == (200 if changes else 206)
    lines = log.read_text("utf-16")
    assert ("File changed on the server, downloading it again from the start:" in lines) == changes


# (server mode, probe options, expected result): each ends with the whole file or a
# failure whose part file is a prefix of the file.
EARLY_END_CASES = {
    # Announces the file, then closes every connection before a byte.
    "reset before any byte, every time": (dict(drop_after=0, drop_every=True), [], E_DL_INCOMPLETE),
    "clean close before any byte, every time": (dict(drop_after=0, drop_every=True, clean_close=True), [],
                                                E_DL_INCOMPLETE),
    # A clean close is not the end of a file of known length, and the length
    # survives an answer that has none.
    "clean close after a 200, then a 206 without length": (
        dict(drop_after=100_000, clean_close=True, partial_length=False), [], 0),
    "clean close after a 200, with ExactSize": (dict(drop_after=100_000, clean_close=True, partial_length=False),
                                                ["--expected", SIZE], 0),
    # A server that keeps the connection open and sends nothing more: after
    # the real limit of 60 s the transfer resumes (a server that never
    # answers is the silent run's case).
    "stall in the body, resumed": (dict(stall=200_000), [], 0),
    "slow trickle": (dict(chunk=20_000, delay=0.05), [], 0),
    # A server that closes without answering is a broken connection.
    "no answer, every time": (dict(no_answer=1000), [], E_DL_INCOMPLETE),
    "no answer once, then the file": (dict(no_answer=1), [], 0),
    # A 416 whose total is not the one this transfer knows asks for the whole file.
    "416 mid-transfer of another total": (dict(drop_after=100_000, clean_close=True, answer_416=100_000), [], 0),
    "416 mid-transfer of another total, every time": (
        dict(drop_after=100_000, clean_close=True, drop_every=True, answer_416=100_000), [], E_DL_INCOMPLETE),
    # A chunked body tells no length, and Wine's WinINet reports a cut as its
    # end: the rest is asked for with a range from where it stopped.
    "cut chunked body": (dict(chunked=True, drop_after=149_850, clean_close=True), [], 0),
    "chunked body cut at a chunk boundary": (dict(chunked=True, chunk=50_000, drop_after=150_000, clean_close=True),
                                             [], 0),
    "chunked body reset after its data": (dict(chunked=True, drop_after=149_850), [], 0),
    "whole chunked body, its end confirmed": (dict(chunked=True), [], 0),
    # A server that ignores ranges never says where a body without length ends ...
    "cut chunked body, ranges ignored": (
        dict(chunked=True, drop_after=149_850, clean_close=True, drop_every=True, range="ignore"), [], E_DL_INCOMPLETE),
    "whole chunked body, ranges ignored": (dict(chunked=True, range="ignore"), [], E_DL_INCOMPLETE),
    # ... but a digest of the bytes proves them whole.
    "whole chunked body, ranges ignored, MD5 given": (dict(chunked=True, range="ignore"), ["--md5", "md5"], 0),
    "cut chunked body, ranges ignored, MD5 given": (
        dict(chunked=True, drop_after=149_850, clean_close=True, drop_every=True, range="ignore"), ["--md5", "md5"],
        E_DL_INCOMPLETE),
}


@pytest.mark.parametrize("case", EARLY_END_CASES, ids=list(EARLY_END_CASES))
def test_transfers_end_whole_or_fail(prefix, http, source, target, case):
    mode, options, expected = EARLY_END_CASES[case]
    data = (source / "f.bin").read_bytes()
    options = [hashlib.md5(data).hexdigest() if o == "md5" else o for o in options]
    http.set_mode(**mode)
    run = probe(prefix, http.url("f.bin"), target, *options, timeout=120)
    assert run.code == expected, run.output
    assert run.seconds < (100 if mode.get("stall") else 60)
    # Every pause before a new try is told, and that the work goes on after it.
    waits = run.waits
    assert all(a > 0 and b == 0 and r == q for (r, a, _), (q, b, _) in zip(waits[::2], waits[1::2])), waits
    if expected == 0:
        assert target.read_bytes() == data
        assert not part_of(target).exists()
        if mode.get("drop_after") and not mode.get("range"):
            assert waits and waits[0][:2] == ("lost", 1)
    else:
        assert not target.exists()
        assert run.errors[-1][0] == expected
        if part_of(target).exists():
            kept = part_of(target).read_bytes()
            assert kept == data[:len(kept)]


@pytest.mark.parametrize("path,code", [("setup.exe", E_DL_BAD_TARGET), ("dl\\f.bin", E_DL_BAD_TARGET),
                                       ("\\dl\\f.bin", E_DL_BAD_TARGET), ("C", E_DL_BAD_TARGET)])
def test_relative_target_is_refused(prefix, http, path, code):
    run = probe(prefix, http.url("f.bin"), path)
    assert run.code == code
    assert run.errors == [(code, "none", "")]
    assert http.requests == []


def test_unknown_scheme_is_refused_before_any_connection(prefix, http, target):
    run = probe(prefix, "gopher://127.0.0.1:%d/f.bin" % http.port, target)
    assert run.code == 12006
    assert run.errors == [(12006, "none", "")]
    assert http.requests == []


def _connection_attempts(prefix, url, target):
    """Runs the probe with WinINet tracing and counts its connection attempts."""
    proc = prefix.wine(harness.program("transfer_probe"), url, win_path(target), timeout=LIMIT,
                       env={"WINEDEBUG": "trace+wininet"})
    trace = proc.stderr.decode(errors="replace")
    out = proc.stdout.decode(errors="replace")
    return int(re.search(r"^result=(\d+)", out, re.M).group(1)), len(re.findall(r"trace:wininet:InternetConnectW \(", trace)), out


@pytest.mark.parametrize("url,code", [("http://nonexistent.invalid/f.bin", 12007),
                                      ("http://127.0.0.1:1/f.bin", 12029)])
def test_unreachable_server_is_tried_seven_times(prefix, target, url, code):
    result, attempts, out = _connection_attempts(prefix, url, target)
    assert result == code
    assert attempts == 7
    assert f"error code={code} handle=none context=f.bin" in out


# ---------------------------------------------------------------------------
# Cancellation and interruption



def assert_resumes(prefix, http, target, data, held):
    """A fresh transfer continues the part file of held bytes with a Range
    request and ends with the whole file."""
    http.reset()
    run = probe(prefix, http.url("f.bin"), target)
    assert run.code == 0
    assert http.requests[0]["headers"]["Range"] == f"bytes={held}-"
    assert run.progress[0] == held
    assert target.read_bytes() == data

def test_cancellation_keeps_the_part_file_for_a_later_run(prefix, http, source, target):
    data = (source / "f.bin").read_bytes()
    http.set_mode(chunk=8192, delay=0.01)
    run = probe(prefix, http.url("f.bin"), target, "--cancel-after-bytes", 50_000)
    assert run.code == E_DL_CANCELLED
    assert run.errors == [], "cancellation is not an error"
    assert run.of("finished") == []
    assert not target.exists()
    held = part_of(target).stat().st_size
    assert 50_000 <= held < SIZE
    assert part_of(target).read_bytes() == data[:held]

    assert_resumes(prefix, http, target, data, held)


def test_cancellation_while_waiting_is_noticed_quickly(prefix, http, target):
    # One chunk, then a long pause: the wait for data polls the observer.
    http.set_mode(chunk=4096, delay=3.0)
    run = probe(prefix, http.url("f.bin"), target, "--cancel-after-progress", 2)
    assert run.code == E_DL_CANCELLED
    assert run.seconds < 8


# (server stall, part file expected afterwards)
STALL_CASES = {
    "while the request is sent": ("headers", None),
    "while the body is read": (50_000, 50_000),
    "while the body is read, after whole buffers": (150_000, 150_000),
}


@pytest.mark.parametrize("case", STALL_CASES, ids=list(STALL_CASES))
def test_cancellation_against_a_stalled_server_ends_quickly(prefix, http, source, target, case):
    stall, held = STALL_CASES[case]
    http.set_mode(stall=stall)
    run = probe(prefix, http.url("f.bin"), target, "--cancel-after-ms", 1500)
    assert run.code == E_DL_CANCELLED
    cancelled_at = int(run.of("cancel-query")[0]["tick"])
    ended_at = int(re.search(r"^result=\d+ hex=\S+ tick=(\d+)", run.output, re.M).group(1))
    assert ended_at - cancelled_at < 2000
    assert not target.exists()
    if held is None:
        assert not part_of(target).exists()
    else:
        # Every byte sent before the stall reached the part file: no read
        # waits for its buffer to fill.
        assert part_of(target).read_bytes() == (source / "f.bin").read_bytes()[:held]


def test_part_file_past_4_gib_is_measured_in_64_bits(prefix, http, source, target):
    # A sparse part file of 4 GiB + 5 is continued from its true size; the
    # server's 416 gives another total, so the whole file comes again.
    target.parent.mkdir(parents=True)
    with open(part_of(target), "wb") as f:
        f.truncate(4 * GIB + 5)
    run = probe(prefix, http.url("f.bin"), target)
    assert run.code == 0, run.output
    assert [(r["headers"].get("Range"), r["status"]) for r in http.requests] == [
        (f"bytes={4 * GIB + 5}-", 416), (None, 200)]
    assert target.read_bytes() == (source / "f.bin").read_bytes()


def test_killed_transfer_resumes_from_its_part_file(prefix, http, source, target):
    data = (source / "f.bin").read_bytes()
    http.set_mode(chunk=4096, delay=0.02)
    proc = prefix.popen(harness.program("transfer_probe"), http.url("f.bin"), win_path(target), "--quiet")
    try:
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if part_of(target).exists() and part_of(target).stat().st_size >= 40_000:
                break
            time.sleep(0.05)
        else:
            pytest.fail("the transfer did not start writing")
    finally:
        os.kill(proc.pid, signal.SIGKILL)
        proc.wait(timeout=30)
    assert not target.exists(), "the target exists only after a finished transfer"
    held = part_of(target).stat().st_size
    assert 40_000 <= held < SIZE
    assert part_of(target).read_bytes() == data[:held]

    assert_resumes(prefix, http, target, data, held)
    assert not part_of(target).exists()


# ---------------------------------------------------------------------------
# Files of any size: the server's files are sparse (a few marks of data in
# zeros), the targets are written for real and deleted after each test.

MIB = 1 << 20
MARKS = {0: b"head", 4 * GIB - 2: b"4GiB", 4 * GIB + 5: b"past", 5 * GIB - 4: b"tail"}
BIG = {"five.bin": 5 * GIB, "stream.bin": 4 * GIB + MIB}


def marks_in(path: Path, size: int):
    return {o: m for o, m in MARKS.items() if o + len(m) <= size}


def sparse(path: Path, size: int):
    with open(path, "wb") as f:
        f.truncate(size)
        for offset, mark in marks_in(path, size).items():
            f.seek(offset)
            f.write(mark)


# md5sum of five.bin as sparse() makes it (reading 5 GiB would cost 20 s).
FIVE_MD5 = "88cf9aa4d5e4017b5886a011243c70e4"


@pytest.fixture(scope="module")
def big_files(source):
    """The large sparse files beside f.bin, with the MD5 of five.bin."""
    for name, size in BIG.items():
        sparse(source / name, size)
    yield {"five.bin": FIVE_MD5}
    for name in BIG:
        (source / name).unlink()


def peak_memory(run: Run) -> int:
    return int(re.search(r"peak-working-set=(\d+)", run.output).group(1))


# (file, part file held, server mode, probe options): each ends with the whole file.
BIG_CASES = {
    "5 GiB with a length": ("five.bin", 0, {}, ["--expected", 5 * GIB, "--md5", "five.bin"]),
    "5 GiB resumed from 4 GiB + 5": ("five.bin", 4 * GIB + 5, {}, ["--expected", 5 * GIB, "--md5", "five.bin"]),
    # Without a length past 4 GiB: the end is confirmed by the server's 416.
    "a stream past 4 GiB without a length": ("stream.bin", 0, dict(length=False), []),
}


@pytest.mark.parametrize("case", BIG_CASES, ids=list(BIG_CASES))
def test_files_of_any_size(prefix, http, source, target, big_files, case):
    name, held, mode, options = BIG_CASES[case]
    size = BIG[name]
    options = [big_files.get(o, o) for o in options]
    small = probe(prefix, http.url("f.bin"), target, "--quiet")
    target.unlink()
    http.reset().set_mode(chunk=MIB, **mode)
    try:
        if held:
            sparse(part_of(target), held)
        run = probe(prefix, http.url(name), target, "--quiet", *options, timeout=600)
        assert run.code == 0, run.output
        assert target.stat().st_size == size and not part_of(target).exists()
        with open(target, "rb") as f:
            for offset, mark in marks_in(target, size).items():
                f.seek(offset)
                assert f.read(len(mark)) == mark, offset
        if "--md5" in options:
            assert "verified-while-writing=1" in run.output
        assert [r["headers"].get("Range") for r in http.requests] == (
            [f"bytes={held}-"] if held else [None] + ([f"bytes={size}-"] if not mode.get("length", True) else []))
        # Bytes pass through fixed buffers: a 5 GiB file costs no more memory than a small one.
        assert peak_memory(run) - peak_memory(small) < 8 * MIB, (peak_memory(run), peak_memory(small))
    finally:
        for leftover in (target, part_of(target)):
            if leftover.exists():
                leftover.unlink()


# (part file held, bound in ms between the cancellation and the end, with
# room for a loaded machine): held bytes are hashed on the digest thread
# while the rest comes, and the wait for it asks about a cancellation; a
# body that streams in fast is left to WinINet after the closing's
# one-second wait (Wine reads a request's body to its end before closing
# it, which took minutes here for a 5 GiB file).
CANCEL_CASES = {
    "while the held bytes are hashed, nothing left to fetch": (5 * GIB, 1000),
    "while the held bytes are hashed and the rest streams in": (4 * GIB, 5000),
    "while a fast body streams in": (0, 5000),
}


@pytest.mark.parametrize("case", CANCEL_CASES, ids=list(CANCEL_CASES))
def test_cancel_ends_a_large_download_at_once(prefix, http, source, target, big_files, case):
    held, bound = CANCEL_CASES[case]
    target.parent.mkdir(parents=True)
    try:
        if held:
            sparse(part_of(target), held)
        run = probe(prefix, http.url("five.bin"), target, "--quiet", "--md5", big_files["five.bin"], "--cancel-after-ms", 2000)
        assert run.code == E_DL_CANCELLED, run.output
        cancelled_at = int(run.of("cancel-query")[0]["tick"])
        ended_at = int(re.search(r"^result=\d+ hex=\S+ tick=(\d+)", run.output, re.M).group(1))
        assert ended_at - cancelled_at < bound, run.output
        assert not target.exists()
        # What was held stays for the next run.
        assert part_of(target).stat().st_size >= held
    finally:
        if part_of(target).exists():
            part_of(target).unlink()


# ---------------------------------------------------------------------------
# HTTPS


@pytest.fixture(scope="module")
def tls_server(source, tmp_path_factory):
    cert = servers.TlsCertificate.create(tmp_path_factory.mktemp("tls"))
    server = servers.HttpServer(source, tls=cert).start()
    yield server
    server.stop()


def test_untrusted_certificate_ends_with_its_error(prefix, tls_server, target):
    run = probe(prefix, tls_server.url("f.bin"), target)
    assert run.code == 12045  # ERROR_INTERNET_INVALID_CA
    assert run.errors == [(12045, "request", ""), (12045, "none", "f.bin")]
    assert not target.exists()


def test_accepted_certificate_problem_lets_the_transfer_through(prefix, tls_server, source, target):
    run = probe(prefix, tls_server.url("f.bin"), target, "--cert-answer", 0)
    assert run.code == 0
    assert [e[1] for e in run.errors] == ["request"] * len(run.errors) and 1 <= len(run.errors) <= 4
    assert target.read_bytes() == (source / "f.bin").read_bytes()


@pytest.mark.parametrize("options,expected", [([], E_DL_INSECURE_REDIRECT), (["--verifiable"], 0)])
def test_https_redirected_to_http_needs_a_hash(prefix, tls_server, http, source, target, options, expected):
    tls_server.reset().set_mode(redirects={"/old.bin": http.url("f.bin")})
    run = probe(prefix, tls_server.url("old.bin"), target, "--cert-answer", 0, *options)
    assert run.code == expected, run.output
    # The transfer follows redirects itself: a refused hop is never requested.
    assert [r["path"] for r in http.requests] == (["/f.bin"] if expected == 0 else [])
    assert target.exists() == (expected == 0)
    assert not part_of(target).exists()
    tls_server.reset()


def test_trusted_certificate_needs_no_question(prefix, tls_server, source, target):
    tls_server.tls.trust_in(prefix)
    try:
        target.parent.mkdir(parents=True)
        part_of(target).write_bytes((source / "f.bin").read_bytes()[:1234])
        run = probe(prefix, tls_server.url("f.bin"), target)
    finally:
        tls_server.tls.untrust_in(prefix)
    assert run.code == 0, run.output
    assert run.errors == []
    assert tls_server.requests[-1]["headers"]["Range"] == "bytes=1234-"
    assert target.read_bytes() == (source / "f.bin").read_bytes()


# ---------------------------------------------------------------------------
# FTP


@pytest.fixture(scope="module")
def ftp_server(source):
    server = servers.FtpServer(source, user="user", password="secret").start()
    yield server
    server.stop()


@pytest.fixture
def ftp(ftp_server):
    ftp_server.rest = "accept"
    ftp_server.size = "accept"
    ftp_server.cut_after = None
    ftp_server.commands.clear()
    return ftp_server


@pytest.mark.parametrize("user,password", [(None, None), ("user", "secret"), ("us%65r", "s%65cret")])
def test_ftp_download(prefix, ftp, source, target, user, password):
    run = probe(prefix, ftp.url("f.bin", user, password), target)
    assert run.code == 0, run.output
    assert target.read_bytes() == (source / "f.bin").read_bytes()
    # Every download asks the size: its stream ends where the size says.
    assert "PASV" in ftp.commands and "TYPE I" in ftp.commands and "SIZE /f.bin" in ftp.commands
    assert ("USER anonymous" if user is None else "USER user") in ftp.commands


def test_ftp_wrong_password_asks_then_fails(prefix, ftp, target):
    url = ftp.url("f.bin", "user", "wrong")
    run = probe(prefix, url, target)
    assert run.code == 12015  # ERROR_INTERNET_LOGIN_FAILURE
    assert run.errors == [(E_DL_AUTH_REQUIRED, "credentials", url), (12015, "none", "f.bin")]
    assert "store=FTP Server" in run.output


# (REST answer, expected first progress)
@pytest.mark.parametrize("rest,first", [("accept", 1000), ("refuse", 0), ("forget", 1000)])
def test_ftp_resume(prefix, ftp, source, target, rest, first):
    data = (source / "f.bin").read_bytes()
    ftp.rest = rest
    target.parent.mkdir(parents=True)
    part_of(target).write_bytes(data[:1000])
    run = probe(prefix, ftp.url("f.bin"), target)
    assert run.code == 0, run.output
    assert "REST 1000" in ftp.commands
    assert run.progress[0] == first
    assert target.read_bytes() == data


# (SIZE answered, data stream cut after, probe options, expected result, command expected)
FTP_END_CASES = {
    "cut without a part file is resumed": ("accept", 100_000, [], 0, "REST 100000"),
    "no SIZE, whole stream: its end is never confirmed": ("refuse", None, [], E_DL_INCOMPLETE, None),
    "no SIZE, cut stream": ("refuse", 100_000, [], E_DL_INCOMPLETE, None),
    "no SIZE, MD5 proves the whole stream": ("refuse", None, ["--md5", "md5"], 0, None),
}


@pytest.mark.parametrize("case", FTP_END_CASES, ids=list(FTP_END_CASES))
def test_ftp_stream_ends_where_its_size_says(prefix, ftp, source, target, case):
    size, cut, options, expected, command = FTP_END_CASES[case]
    data = (source / "f.bin").read_bytes()
    ftp.size, ftp.cut_after = size, cut
    options = [hashlib.md5(data).hexdigest() if o == "md5" else o for o in options]
    run = probe(prefix, ftp.url("f.bin"), target, *options)
    assert run.code == expected, run.output
    if expected == 0:
        assert target.read_bytes() == data and not part_of(target).exists()
    else:
        assert not target.exists() and run.errors[-1][0] == expected
        kept = part_of(target).read_bytes()
        assert kept == data[:len(kept)]
    if command:
        assert command in ftp.commands


def test_ftp_missing_file(prefix, ftp, target):
    run = probe(prefix, ftp.url("nope.bin"), target)
    assert run.code != 0
    assert run.errors and run.errors[-1][2] == "f.bin"
    assert not target.exists()


# ---------------------------------------------------------------------------
# FILE URLs


def test_file_url_copy(prefix, source, target):
    run = probe(prefix, "file:" + win_path(source / "f.bin"), target)
    assert run.code == 0
    assert target.read_bytes() == (source / "f.bin").read_bytes()
    assert not part_of(target).exists()
    assert run.of("finished") == [{"scope": "1", "reserved": "0"}]


def test_file_url_overwrites_an_old_part_file(prefix, source, target):
    target.parent.mkdir(parents=True)
    part_of(target).write_bytes(b"stale" * 1000)
    run = probe(prefix, "file:" + win_path(source / "f.bin"), target)
    assert run.code == 0
    assert target.read_bytes() == (source / "f.bin").read_bytes()


def test_file_url_missing_file(prefix, source, target):
    run = probe(prefix, "file:" + win_path(source / "nope.bin"), target)
    assert run.code == 2  # ERROR_FILE_NOT_FOUND
    assert run.errors == [(2, "none", "f.bin")]
    assert not target.exists()


def test_file_url_with_user_tries_a_network_logon(prefix, source, target):
    # Wine has no network provider: the logon itself fails with its own code,
    # which is the result; nothing is copied.
    run = probe(prefix, "file://u:p@" + win_path(source / "f.bin"), target)
    assert run.code != 0
    assert run.errors and run.errors[-1][1:] == ("none", "f.bin")
    assert not target.exists()
