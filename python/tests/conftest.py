"""Shared fixtures: the installed prefix (VRD_PREFIX, set by scripts/stage-python.sh)."""

import json
import os
import pathlib
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
DOCS = sorted((ROOT / "tests/data/report").glob("*.pdf")) + [ROOT / "samples/sample.pdf"]
TEST_ROOT = ROOT / "tests/data/pki/root.pem"


@pytest.fixture(scope="session")
def prefix() -> pathlib.Path:
    return pathlib.Path(os.environ["VRD_PREFIX"])


@pytest.fixture(scope="session")
def tsverify_json(prefix):
    """Runs the installed tsverify with the arguments; its JSON lines, parsed."""

    def run(*args: str) -> list[dict]:
        done = subprocess.run([prefix / "bin/tsverify", *args], capture_output=True, check=False)
        assert done.returncode in (0, 1), done.stderr
        return [json.loads(line) for line in done.stdout.splitlines()]

    return run


@pytest.fixture(scope="session")
def altered(tmp_path_factory) -> pathlib.Path:
    """The sample with one signed byte changed (as `make demo` makes it)."""
    path = tmp_path_factory.mktemp("docs") / "altered.pdf"
    data = (ROOT / "samples/sample.pdf").read_bytes()
    path.write_bytes(data.replace(b"sample document)", b"sample documenT)"))
    return path
