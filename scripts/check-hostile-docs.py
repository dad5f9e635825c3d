#!/usr/bin/env python3
"""Runs `tsverify --all --json` on each document of make-hostile-docs.py, one
process each, then on all the inflation bombs at once with -j 8, and checks
that every run ends with whole JSON lines, exit status 0, 1 or 3, under 256 MiB
of memory (under 2 GiB for the -j 8 run), and with the limit named where the
document needs one. Prints each run's time and peak memory (not checked: the
machines are noisy); a run past 120 s counts as a hang.

    scripts/check-hostile-docs.py TSVERIFY TRUST_ANCHOR_PEM
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
# The limit each document must meet ("" where it has none to meet).
EXPECTED = {
    "certs-bomb": "",
    "fake-markers": "",
    "fields-50k": "",
    "later-objects": "",
    "objstm-bomb": "(--max-inflate)",
    "recovery-comments": "parsing the document reads more than",
    "revisions-1000": "",
    "xref-bomb": "(--max-inflate)",
}
MIB = 1024 * 1024


def run(args):
    """Exit status, standard output, seconds and peak memory in bytes."""
    start = time.monotonic()
    child = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    watchdog = threading.Timer(120, child.kill)
    watchdog.start()
    out = child.stdout.read()
    _, status, usage = os.wait4(child.pid, 0)
    watchdog.cancel()
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode < 0:
        sys.exit(f"killed by signal {-child.returncode} (a hang past 120 s?): {' '.join(args)}")
    return child.returncode, out, time.monotonic() - start, usage.ru_maxrss * 1024


def main():
    tsverify, anchor = sys.argv[1:3]
    work = tempfile.mkdtemp()
    failures = []
    try:
        subprocess.run([sys.executable, os.path.join(HERE, "make-hostile-docs.py"), work], check=True)
        for name, expected in EXPECTED.items():
            path = os.path.join(work, name + ".pdf")
            status, out, seconds, peak = run(
                [tsverify, "--all", "--json", "--trust-anchor", anchor, path])
            lines = out.decode().splitlines()
            error = json.loads(lines[0])["error"] if len(lines) == 1 else "(no single JSON line)"
            print(f"{name:18} exit {status}  {seconds:6.2f} s  {peak / MIB:6.0f} MiB  {error}")
            if status not in (0, 1, 3) or len(lines) != 1 or peak >= 256 * MIB or expected not in error:
                failures.append(name)
        bombs = [os.path.join(work, n + ".pdf") for n in ("objstm-bomb", "xref-bomb")] * 4
        status, out, seconds, peak = run([tsverify, "--all", "--json", "-j", "8"] + bombs)
        whole = all(json.loads(line)["error"] for line in out.decode().splitlines())
        print(f"{'-j 8, 8 bombs':18} exit {status}  {seconds:6.2f} s  {peak / MIB:6.0f} MiB")
        if status != 1 or not whole or peak >= 2048 * MIB:
            failures.append("-j 8")
    finally:
        shutil.rmtree(work)
    if failures:
        sys.exit("hostile documents failed: " + " ".join(failures))


if __name__ == "__main__":
    main()
