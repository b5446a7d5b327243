import os
import shutil
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).parent))
import harness  # noqa: E402
from servers import HttpServer  # noqa: E402


def pytest_collection_modifyitems(items):
    """The checker's test of the INIs the other tests write runs last."""
    last = [item for item in items if item.name == "test_every_ini_the_tests_write_checks_as_meant"]
    items[:] = [item for item in items if item not in last] + last


@pytest.fixture(scope="session")
def display():
    """A private X display for windows and message boxes."""
    proc, disp = harness.start_xvfb()
    yield disp
    proc.terminate()
    proc.wait(timeout=10)


@pytest.fixture(scope="session")
def prefix(display, tmp_path_factory):
    """One private Wine prefix for the whole test run."""
    assert harness.CORVANE_EXE.exists(), f"build first: {harness.CORVANE_EXE}"
    root = tmp_path_factory.mktemp("wine")
    pfx = harness.Prefix(root, display).create()
    yield pfx
    pfx.close()


@pytest.fixture
def workdir(tmp_path):
    return tmp_path


@pytest.fixture
def package(workdir):
    """A chainer named setup.exe in a fresh folder."""
    return harness.Package(workdir / "pkg")


@pytest.fixture
def http(workdir):
    """A loopback HTTP server over the folder www of the test (fault modes in servers.py)."""
    served = workdir / "www"
    served.mkdir()
    server = HttpServer(served).start()
    yield server
    server.stop()
