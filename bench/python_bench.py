#!/usr/bin/env python3
"""Throughput of the Python package against tsverify, as ratios in one run.

    cmake --install build-py --prefix /tmp/vrd
    /usr/bin/python3 bench/python_bench.py --prefix /tmp/vrd

1. vrd.verify_many(jobs=2) over 3,000 small stamped files (copies of the
   sample) against `tsverify -j 2 --files-from` over the same list: the
   target is at least 0.9 of tsverify's files per second.
2. python3 -m vrd.batch on a LocalCluster of two worker processes over
   10,000 such files, cluster start-up included, against `tsverify -j 2`:
   the target is at least 0.7.
3. The same batch's rate past its start-up: the files a run of twice as many
   adds over the time it adds, against tsverify's likewise. Importing
   distributed and starting two workers costs about as long as tsverify's
   whole run of 10,000 files, so the second figure says what a longer run
   approaches; it has no target.

Each measurement is the best of three, the two sides alternating so that a
busy machine slows both. Exit status 0 when both targets are met.
"""

from __future__ import annotations

import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time
from typing import Callable

SAMPLE = pathlib.Path(__file__).resolve().parents[1] / "samples/sample.pdf"


def rate(files: int, run: Callable[[], None]) -> float:
    """Files per second of one run."""
    started = time.perf_counter()
    run()
    return files / (time.perf_counter() - started)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--prefix", required=True, help="a cmake --install prefix of vrd")
    parser.add_argument("--small", type=int, default=3000)
    parser.add_argument("--large", type=int, default=10000)
    args = parser.parse_args()
    prefix = pathlib.Path(args.prefix).resolve()
    sys.path.insert(0, str(prefix / "lib/python3/dist-packages"))
    import vrd  # noqa: E402  (from the prefix)

    tsverify = prefix / "bin/tsverify"
    env = {**os.environ, "PYTHONPATH": str(prefix / "lib/python3/dist-packages")}
    with tempfile.TemporaryDirectory() as scratch_name:
        scratch = pathlib.Path(scratch_name)
        paths = []
        for i in range(max(args.small, 2 * args.large)):
            paths.append(str(scratch / f"doc{i:06d}.pdf"))
            shutil.copyfile(SAMPLE, paths[-1])
        lists = {}
        for count in (args.small, args.large, 2 * args.large):
            lists[count] = scratch / f"list{count}"
            lists[count].write_text("\n".join(paths[:count]) + "\n")

        def run_tsverify(count: int) -> Callable[[], None]:
            return lambda: subprocess.run(
                [tsverify, "-j", "2", "--files-from", lists[count]],
                stdout=subprocess.DEVNULL, check=False)

        def run_verify_many() -> None:
            for _ in vrd.verify_many(paths[: args.small], jobs=2):
                pass

        runs = iter(range(1_000_000))

        def run_batch(count: int) -> Callable[[], None]:
            def run() -> None:
                out = scratch / f"out{next(runs)}"
                subprocess.run([sys.executable, "-m", "vrd.batch", "--files-from", lists[count],
                                "--out", out, "--workers", "2"], env=env,
                               stdout=subprocess.DEVNULL, check=False)
                assert len(list(out.glob("part-*.jsonl"))) == -(-count // 250)
                shutil.rmtree(out)
            return run

        def seconds(run: Callable[[], None]) -> float:
            started = time.perf_counter()
            run()
            return time.perf_counter() - started

        vrd.verify(paths[0])  # the library loaded before timing
        small_cli = small_py = large_cli = large_batch = 0.0
        for _ in range(3):
            small_cli = max(small_cli, rate(args.small, run_tsverify(args.small)))
            small_py = max(small_py, rate(args.small, run_verify_many))
        for _ in range(3):
            large_cli = max(large_cli, rate(args.large, run_tsverify(args.large)))
            large_batch = max(large_batch, rate(args.large, run_batch(args.large)))
        # Best of three of each run; the added files over the added time.
        times = {}
        for count in (args.large, 2 * args.large):
            times[("cli", count)] = min(seconds(run_tsverify(count)) for _ in range(3))
            times[("batch", count)] = min(seconds(run_batch(count)) for _ in range(3))
        added_cli = args.large / max(1e-9, times[("cli", 2 * args.large)] - times[("cli", args.large)])
        added_batch = args.large / max(
            1e-9, times[("batch", 2 * args.large)] - times[("batch", args.large)])

    ratio_many, ratio_batch = small_py / small_cli, large_batch / large_cli
    print(f"tsverify -j 2, {args.small} files:        {small_cli:8.0f} files/s")
    print(f"vrd.verify_many(jobs=2), {args.small} files: {small_py:8.0f} files/s"
          f"  ratio {ratio_many:.2f} (target 0.9)")
    print(f"tsverify -j 2, {args.large} files:       {large_cli:8.0f} files/s")
    print(f"vrd.batch, 2 workers, {args.large} files:  {large_batch:8.0f} files/s"
          f"  ratio {ratio_batch:.2f} (target 0.7, cluster start-up included)")
    print(f"past start-up, the files {args.large} more add per second: tsverify {added_cli:.0f},"
          f" vrd.batch {added_batch:.0f}, ratio {added_batch / added_cli:.2f}")
    return 0 if ratio_many >= 0.9 and ratio_batch >= 0.7 else 1


if __name__ == "__main__":
    sys.exit(main())
