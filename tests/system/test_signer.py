"""Publisher checks under Wine: stand-in setups signed at test time by a
test authority (root, intermediate, signer) made with openssl and
osslsigncode; the root is trusted in the prefix's machine root store. The
signer probe holds each file as the chainer does (reading, shared for
reading only) and runs the check on the handle."""
import re
import shutil
import subprocess
from pathlib import Path

import pytest

import harness
import servers
from harness import win_path
from install_support import read_records
from silent_support import chainer_ini, installed_search, log_lines, prepare_setup

# SignerFailure, in the order of its declaration.
PASSED, MALFORMED, NO_SIGNATURE, BAD_SIGNATURE, UNTRUSTED, NOT_PINNED, NAME_DIFFERS, NOT_CHECKED = range(8)
SIGNER = "Corvane Test Signer"

EXTENSIONS = """
[ca]
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
[signer]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
[signer_crl]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
crlDistributionPoints=URI:{crl_url}
"""

# openssl ca: only for the signer whose validity lies in the past.
CA_CONFIG = """
[ca]
default_ca=issuer
[issuer]
database={folder}/index.txt
new_certs_dir={folder}
serial={folder}/serial
certificate={folder}/intermediate.pem
private_key={folder}/intermediate.key
default_md=sha256
policy=any
copy_extensions=none
[any]
commonName=supplied
"""


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True, timeout=60)


def fingerprint(pem: Path, digest: str) -> str:
    """The thumbprint as an author reads it: openssl's fingerprint without colons."""
    out = subprocess.run(["openssl", "x509", "-in", str(pem), "-noout", "-fingerprint", "-" + digest],
                         check=True, capture_output=True, text=True).stdout
    return out.strip().split("=", 1)[1].replace(":", "")


class Authority:
    """The certificates and the signed files of the module, in one folder."""

    def __init__(self, folder: Path, crl_url: str):
        self.folder = folder
        (folder / "ext.cnf").write_text(EXTENSIONS.format(crl_url=crl_url))
        self._root("root", "Corvane Test Root")
        self._issue("intermediate", "Corvane Test Intermediate", "root", "ca")
        self._issue("signer", f"/O=Corvane Tests/CN={SIGNER}", "intermediate", "signer")
        self._issue("signer_crl", "/CN=Corvane Revocable Signer", "intermediate", "signer_crl")
        # An authority the prefix does not trust, issuing the same name.
        self._root("other_root", "Corvane Untrusted Root")
        self._issue("other_signer", f"/CN={SIGNER}", "other_root", "signer")
        self._expired()
        stand_in = harness.program("empty_program")
        self.unsigned = folder / "unsigned.exe"
        shutil.copyfile(stand_in, self.unsigned)
        self.signed = self._sign("signed.exe", "signer", "intermediate")
        self.revocable = self._sign("revocable.exe", "signer_crl", "intermediate")
        self.untrusted = self._sign("untrusted.exe", "other_signer")
        self.expired = self._sign("expired.exe", "expired", "intermediate")
        data = bytearray(self.signed.read_bytes())
        data[0x400] ^= 1  # in the code, far from the signature
        self.tampered = folder / "tampered.exe"
        self.tampered.write_bytes(bytes(data))
        self.text = folder / "notes.txt"
        self.text.write_text("not a program\n")

    def pem(self, name) -> Path:
        return self.folder / f"{name}.pem"

    def sha1(self, name) -> str:
        return fingerprint(self.pem(name), "sha1")

    def sha256(self, name) -> str:
        return fingerprint(self.pem(name), "sha256")

    def _root(self, name, cn):
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key", "-out", f"{name}.pem",
                "-days", "3", "-subj", f"/CN={cn}", "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=self.folder)
        openssl("x509", "-in", f"{name}.pem", "-outform", "DER", "-out", f"{name}.der", cwd=self.folder)

    def _issue(self, name, subject, issuer, section):
        subject = subject if subject.startswith("/") else f"/CN={subject}"
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key", "-out", f"{name}.csr",
                "-subj", subject, cwd=self.folder)
        openssl("x509", "-req", "-in", f"{name}.csr", "-CA", f"{issuer}.pem", "-CAkey", f"{issuer}.key",
                "-CAcreateserial", "-days", "3", "-extfile", "ext.cnf", "-extensions", section,
                "-out", f"{name}.pem", cwd=self.folder)

    def _expired(self):
        (self.folder / "ca.cnf").write_text(CA_CONFIG.format(folder=self.folder))
        (self.folder / "index.txt").write_text("")
        (self.folder / "serial").write_text("1000\n")
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "expired.key", "-out", "expired.csr",
                "-subj", "/CN=Corvane Expired Signer", cwd=self.folder)
        openssl("ca", "-batch", "-config", "ca.cnf", "-extfile", "ext.cnf", "-extensions", "signer",
                "-startdate", "20200101000000Z", "-enddate", "20200201000000Z", "-in", "expired.csr",
                "-out", "expired.pem", cwd=self.folder)

    def _sign(self, out, signer, *chain, source: Path | None = None) -> Path:
        certs = self.folder / f"{signer}.chain.pem"
        certs.write_text("".join(self.pem(n).read_text() for n in (signer, *chain)))
        target = self.folder / out
        subprocess.run(["osslsigncode", "sign", "-certs", str(certs), "-key", str(self.folder / f"{signer}.key"),
                        "-h", "sha256", "-in", str(source or self.unsigned), "-out", str(target)],
                       check=True, capture_output=True, timeout=60)
        return target


@pytest.fixture(scope="module")
def crl_server(tmp_path_factory):
    """Where the revocable signer's revocation list would be fetched: it takes
    the request and never answers."""
    server = servers.HttpServer(tmp_path_factory.mktemp("crl")).start()
    server.set_mode(stall="headers")
    yield server
    server.stop()


@pytest.fixture(scope="module")
def authority(prefix, crl_server, tmp_path_factory):
    ca = Authority(tmp_path_factory.mktemp("authority"), crl_server.url("intermediate.crl"))
    root = servers.TlsCertificate(ca.pem("root"), ca.folder / "root.key", ca.folder / "root.der")
    root.trust_in(prefix)
    yield ca
    root.untrust_in(prefix)


class Check:
    def __init__(self, result: harness.RunResult):
        self.output = result.output
        m = re.search(r"^failure=(\d+) code=(0x[0-9A-F]+) ms=(\d+)", result.output, re.M)
        assert m, result.output
        self.failure, self.code, self.ms = int(m.group(1)), int(m.group(2), 16), int(m.group(3))
        assert result.code == self.failure
        self.name = re.search(r"^name=(.*)$", result.output, re.M).group(1).rstrip("\r")
        self.log = re.search(r"^log=(.*)$", result.output, re.M).group(1).rstrip("\r")


def check(prefix, held: Path, thumbprints="", name="", display: Path | None = None, handle=True) -> Check:
    args = [win_path(held)] + ([] if handle else ["--no-handle", "1"])
    if thumbprints:
        args += ["--thumbprints", thumbprints]
    if name:
        args += ["--name", name]
    if display:
        args += ["--display", win_path(display)]
    return Check(prefix.run(harness.program("signer_probe"), *args, timeout=60))


def test_publisher_checks(prefix, authority):
    ca = authority
    leaf1, leaf256 = ca.sha1("signer"), ca.sha256("signer")
    wrong = ca.sha1("other_signer")
    cases = [
        # (file, SignerThumbprint, SignerName, failure)
        (ca.signed, leaf1, "", PASSED),                                    # the signer, SHA-1
        (ca.signed, leaf256.lower(), "", PASSED),                          # the signer, SHA-256, lowercase
        (ca.signed, ca.sha256("intermediate"), "", PASSED),                # an intermediate
        (ca.signed, f" {wrong} ,\t{ca.sha1('root')} ", "", PASSED),        # the root, after a wrong pin
        (ca.signed, wrong, "", NOT_PINNED),
        (ca.signed, ca.sha1("other_root"), "", NOT_PINNED),
        (ca.signed, f"{leaf1},", "", MALFORMED),                           # a malformed list pins nothing
        (ca.signed, "", SIGNER, PASSED),
        (ca.signed, "", SIGNER.lower(), NAME_DIFFERS),                     # names compare exactly
        (ca.signed, "", "Corvane Tests", NAME_DIFFERS),                    # the organisation is not the name
        (ca.signed, leaf256, SIGNER, PASSED),                              # both keys together
        (ca.signed, leaf256, "Another Signer", NAME_DIFFERS),
        (ca.signed, wrong, SIGNER, NOT_PINNED),
        (ca.unsigned, leaf1, "", NO_SIGNATURE),
        (ca.unsigned, "", "", PASSED),                                     # nothing asked: no check
        (ca.text, "", SIGNER, NO_SIGNATURE),                               # a kind of file without signatures
        (ca.tampered, leaf1, "", BAD_SIGNATURE),                           # a byte changed after signing
        (ca.untrusted, ca.sha1("other_root"), "", UNTRUSTED),              # a pin never makes a root trusted
        (ca.untrusted, "", SIGNER, UNTRUSTED),                             # the same name from another authority
        (ca.expired, "", "Corvane Expired Signer", UNTRUSTED),             # expired, no time stamp
    ]
    results = [(c, check(prefix, c[0], c[1], c[2])) for c in cases]
    failed = [(c[0].name, c[1], c[2], c[3], r.failure, r.output) for c, r in results if r.failure != c[3]]
    assert not failed
    for (held, _, _, expected), r in results:
        if expected == PASSED:
            assert r.log == ""
        else:
            assert win_path(held) in r.log, r.output
        if held in (ca.signed, ca.tampered, ca.unsigned) and expected in (PASSED, NOT_PINNED, NAME_DIFFERS):
            assert r.name == (SIGNER if held == ca.signed else ""), r.output
    by_case = {(c[0], c[1], c[2]): r for c, r in results}
    differs = by_case[(ca.signed, "", SIGNER.lower())]
    assert differs.log == f"Signer name differs:{SIGNER} ({win_path(ca.signed)})"
    assert by_case[(ca.tampered, leaf1, "")].log.startswith(
        f"Signature does not match the file:{win_path(ca.tampered)} Error:")


def test_the_handle_is_checked_not_the_path(prefix, authority):
    """The trust provider reads the held handle: the path it is told is only
    named, and without a handle nothing is read by path."""
    ca = authority
    held_signed = check(prefix, ca.signed, name=SIGNER, display=ca.unsigned)
    held_unsigned = check(prefix, ca.unsigned, name=SIGNER, display=ca.signed)
    no_handle = check(prefix, ca.signed, name=SIGNER, handle=False)
    assert (held_signed.failure, held_unsigned.failure, no_handle.failure) == (PASSED, NO_SIGNATURE, NOT_CHECKED)
    assert held_unsigned.log == f"File has no Authenticode signature:{win_path(ca.signed)}"


def test_revocation_never_goes_to_the_network(prefix, authority, crl_server):
    """A signer whose revocation list lies on a server that takes the request
    and never answers: the check asks only the system's cache, so it neither
    connects nor waits."""
    r = check(prefix, authority.revocable, name="Corvane Revocable Signer")
    assert r.failure == PASSED, r.output
    assert crl_server.requests == []
    assert r.ms < 5000


def test_a_pinned_publisher_survives_a_republished_file(prefix, authority, package, http, workdir):
    """One package pins the signer rather than a hash. The vendor republishes
    the setup at the same URL (other bytes, same signer): the package still
    installs it. A file signed by another publisher is rejected like one whose
    MD5 differs, and never launched."""
    dl, log = workdir / "dl", workdir / "run.log"
    app = {"Name": "A", "Url": http.url("setup1.exe"), "SignerThumbprint": authority.sha256("signer"),
           **installed_search("SignerRun", "A-Installed")}
    package.folder.mkdir(parents=True, exist_ok=True)
    for build, signer, chain, launched in [(1, "signer", ("intermediate",), 1), (2, "signer", ("intermediate",), 1),
                                           (3, "other_signer", (), 0)]:
        record = workdir / f"record{build}.txt"
        setup = prepare_setup(http.root, dl, "setup1.exe", record=win_path(record), release=build)
        shutil.copyfile(authority._sign(f"build{build}.exe", signer, *chain, source=setup), setup)
        log.unlink(missing_ok=True)
        package.write_ini(chainer_ini("q", [dict(app)], log, dl))
        assert prefix.run(package.exe, timeout=120).code == 0
        lines = log_lines(log)
        assert len(read_records(record)) == launched, (build, lines)
        if launched:
            assert "Downloaded file was accepted." in lines
        else:
            assert "Downloaded file was rejected. Error:-536870878" in lines
            # Another authority's root: not trusted before any pin is looked at.
            assert [l for l in lines if l.startswith("Signature is not trusted:")], lines
