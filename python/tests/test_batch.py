"""python3 -m vrd.batch on a LocalCluster of two worker processes."""

import collections
import json
import os
import signal
import subprocess
import sys
import time

import pytest

import vrd
from conftest import DOCS

PARTITION = 5


def batch(listing, out, *extra, wait=True):
    command = [sys.executable, "-m", "vrd.batch", "--files-from", str(listing), "--out", str(out),
               "--workers", "2", "--partition-size", str(PARTITION), *extra]
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               start_new_session=True)
    return process.communicate() + (process.returncode,) if wait else process


def test_killed_run_resumes_and_verifies_every_file_exactly_once(tmp_path, altered):
    unreadable = tmp_path / "a-directory.pdf"
    unreadable.mkdir()
    kinds = {str(DOCS[-1]): 2109, str(altered): 2109, str(tmp_path / "missing.pdf"): 2104,
             str(unreadable): 2104, str(DOCS[0].with_name("xref-stream.pdf")): 2108}
    paths = [f"{path}" for _ in range(60) for path in kinds]  # 300 paths, 60 partitions
    listing, out = tmp_path / "list", tmp_path / "out"
    listing.write_text("\n".join(paths) + "\n")

    first = batch(listing, out, wait=False)
    while first.poll() is None and len(list(out.glob("part-*.jsonl"))) < 3:
        time.sleep(0.005)
    os.killpg(first.pid, signal.SIGKILL)  # the client, the cluster and its workers
    first.wait()
    written = {p.name: p.stat() for p in out.glob("part-*.jsonl")}
    if len(written) == len(paths) // PARTITION:  # it finished before the kill: drop some
        for name in sorted(written)[-10:]:
            (out / name).unlink()
            del written[name]
    assert 3 <= len(written) < len(paths) // PARTITION

    stdout, stderr, status = batch(listing, out)
    assert status == 1, stderr  # some files do not verify
    assert f"files:    {len(paths) - PARTITION * len(written)} " in stdout
    assert f"skipped:  {len(written)} partition(s)" in stdout
    for name, stat in written.items():  # not written again
        assert (out / name).stat().st_mtime_ns == stat.st_mtime_ns
    assert not list(out.glob(".tmp-*"))
    lines = [json.loads(line) for part in sorted(out.glob("part-*.jsonl")) for line in part.open()]
    assert collections.Counter(line["file"] for line in lines) == collections.Counter(paths)
    assert all(line["code"] == kinds[line["file"]] for line in lines)
    assert lines[0] == vrd.verify(paths[0]).to_json(paths[0])


def test_all_reports_and_a_changed_list_is_refused(tmp_path):
    listing, out = tmp_path / "list", tmp_path / "out"
    listing.write_text(f"{DOCS[-1]}\n")
    anchor = DOCS[-1].with_name("sample-root.pem")
    stdout, stderr, status = batch(listing, out, "--all", "--trust-anchor", str(anchor))
    assert (status, "verified: 1" in stdout) == (0, True), stderr
    assert json.loads((out / "part-000000.jsonl").read_text()) == vrd.report(DOCS[-1], [anchor])
    listing.write_text(f"{DOCS[0]}\n")
    stdout, stderr, status = batch(listing, out, "--all", "--trust-anchor", str(anchor))
    assert status == 2 and "another list" in stderr


@pytest.mark.parametrize("arguments", [["--trust-anchor", "root.pem"], ["--partition-size", "0"],
                                       ["--scheduler", "tcp://127.0.0.1:1"]])
def test_usage_errors_exit_2(tmp_path, arguments):
    stdout, stderr, status = batch(tmp_path / "list", tmp_path / "out", *arguments)
    assert status == 2 and "error:" in stderr and not (tmp_path / "out").exists()
