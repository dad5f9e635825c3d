"""Verification of millions of documents on a Dask cluster.

    python3 -m vrd.batch --files-from LIST|- --out DIR [--scheduler tcp://HOST:8786]
                         [--all [--trust-anchor PEM]... [--system-roots]]
                         [--partition-size N] [--workers N]

The list (one path a line) is copied into DIR once and cut into partitions
of a few hundred paths; each partition is one Dask task, which verifies its
files on a worker and writes ``DIR/part-NNNNNN.jsonl`` (one JSON object a
line: the keys of ``tsverify --json``, or with ``--all`` of
``tsverify --all --json``), written under a temporary name and then renamed,
so a partition file is always whole. Run again with the same DIR and the
partitions already written are skipped: a run interrupted at any point
finishes with every file verified exactly once. DIR must be reachable by
every worker at the same path, as the documents must (a shared mount);
without ``--scheduler`` a LocalCluster of worker processes on this machine
does the work.

Exit status: 0 when every file verified in this run, 1 when some did not, 2
for usage errors and failed runs, 130 when interrupted.
"""

from __future__ import annotations

import argparse
import collections
import dataclasses
import hashlib
import json
import logging
import os
import sys
import tempfile
import time
from typing import Any, BinaryIO, Iterator, Optional, Sequence

import vrd

LIST_FILE = "files.txt"
MANIFEST_FILE = "manifest.json"
PARTITION_PATTERN = "part-{:06d}.jsonl"
TEMPORARY_PREFIX = ".tmp-"


class UsageError(Exception):
    """A problem with the command line, the list or DIR: exit status 2."""


@dataclasses.dataclass(frozen=True)
class Settings:
    """What a run verifies with; a resumed run must use the same."""

    all: bool
    trust_anchors: tuple[str, ...]
    system_roots: bool
    partition_size: int


@dataclasses.dataclass(frozen=True)
class Partition:
    """One task: the lines of the list between two byte offsets."""

    index: int
    list_path: str
    start: int
    end: int
    out_dir: str
    settings: Settings

    @property
    def out_path(self) -> str:
        """The partition's result file."""
        return os.path.join(self.out_dir, PARTITION_PATTERN.format(self.index))


@dataclasses.dataclass
class Summary:
    """Counts of verified files, and of the others by result code."""

    files: int = 0
    verified: int = 0
    failed: collections.Counter[str] = dataclasses.field(default_factory=collections.Counter)

    def add(self, other: Summary) -> None:
        """Adds another summary's counts to this one."""
        self.files += other.files
        self.verified += other.verified
        self.failed.update(other.failed)


def _paths(data: bytes) -> Iterator[bytes]:
    """The paths of a list text: one a line, CR before LF dropped, empty lines skipped."""
    for line in data.split(b"\n"):
        line = line[:-1] if line.endswith(b"\r") else line
        if line:
            yield line


def _result_line(path: bytes, settings: Settings) -> tuple[str, bool, str]:
    """One file's JSON line, whether it verified, and its failure's label."""
    if settings.all:
        text = vrd.report_json(os.fsdecode(path), settings.trust_anchors, settings.system_roots)
        report = json.loads(text)
        library = report["library"]
        return text, bool(report["verified"]), f"library {library['code']} {library['result']}"
    result = vrd.verify(os.fsdecode(path))
    line = json.dumps(
        result.to_json(path.decode("utf-8", "replace")), ensure_ascii=False, separators=(",", ":")
    )
    return line, result.ok, f"{result.code} {result.name}"


def run_partition(partition: Partition) -> Summary:
    """Verifies one partition's files and writes its result file atomically.

    Runs on a worker. The lines go to a temporary file in DIR, which is
    flushed to disk and then renamed to the partition's name, so the result
    file either does not exist or is whole.
    """
    with open(partition.list_path, "rb") as listing:
        listing.seek(partition.start)
        data = listing.read(partition.end - partition.start)
    summary = Summary()
    descriptor, temporary = tempfile.mkstemp(
        prefix=TEMPORARY_PREFIX + f"{partition.index:06d}-", dir=partition.out_dir
    )
    try:
        with os.fdopen(descriptor, "w", encoding="utf-8") as out:
            for path in _paths(data):
                line, verified, label = _result_line(path, partition.settings)
                out.write(line + "\n")
                summary.files += 1
                if verified:
                    summary.verified += 1
                else:
                    summary.failed[label] += 1
            out.flush()
            os.fsync(out.fileno())
        os.replace(temporary, partition.out_path)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise
    return summary


def _copy_list(source: BinaryIO, out_dir: str) -> tuple[str, str]:
    """Copies the list into DIR under a temporary name; its path and SHA-256."""
    digest = hashlib.sha256()
    descriptor, temporary = tempfile.mkstemp(prefix=TEMPORARY_PREFIX + "list-", dir=out_dir)
    with os.fdopen(descriptor, "wb") as copy:
        while chunk := source.read(1 << 20):
            digest.update(chunk)
            copy.write(chunk)
        copy.flush()
        os.fsync(copy.fileno())
    return temporary, digest.hexdigest()


def _write_atomically(path: str, text: str) -> None:
    descriptor, temporary = tempfile.mkstemp(prefix=TEMPORARY_PREFIX, dir=os.path.dirname(path))
    with os.fdopen(descriptor, "w", encoding="utf-8") as out:
        out.write(text)
    os.replace(temporary, path)


def prepare(list_source: BinaryIO, out_dir: str, settings: Settings) -> list[Partition]:
    """Sets DIR up (or checks that it holds a run of the same list and
    settings) and returns every partition of the list.

    Leftover temporary files of an interrupted run are removed.
    """
    os.makedirs(out_dir, exist_ok=True)
    for name in os.listdir(out_dir):
        if name.startswith(TEMPORARY_PREFIX):
            os.unlink(os.path.join(out_dir, name))
    temporary, digest = _copy_list(list_source, out_dir)
    list_path = os.path.join(out_dir, LIST_FILE)
    manifest_path = os.path.join(out_dir, MANIFEST_FILE)
    manifest = {"listSha256": digest, "settings": dataclasses.asdict(settings)}
    manifest["settings"]["trust_anchors"] = list(settings.trust_anchors)
    if os.path.exists(manifest_path):
        os.unlink(temporary)
        with open(manifest_path, encoding="utf-8") as existing:
            if json.load(existing) != manifest:
                raise UsageError(
                    f"{out_dir} holds a run of another list or other settings; "
                    "use a new --out directory"
                )
    else:
        os.replace(temporary, list_path)
        _write_atomically(manifest_path, json.dumps(manifest, indent=1) + "\n")
    return list(_partitions(list_path, out_dir, settings))


def _partitions(list_path: str, out_dir: str, settings: Settings) -> Iterator[Partition]:
    """The list's partitions: settings.partition_size paths each, by byte offset."""
    index = start = offset = count = 0
    with open(list_path, "rb") as listing:
        for line in listing:
            offset += len(line)
            if line.strip(b"\r\n"):
                count += 1
                if count == settings.partition_size:
                    yield Partition(index, list_path, start, offset, out_dir, settings)
                    index, start, count = index + 1, offset, 0
    if count:
        yield Partition(index, list_path, start, offset, out_dir, settings)


def _client(scheduler: Optional[str], workers: Optional[int]) -> Any:
    """A Dask client of the scheduler, or of a new LocalCluster of worker processes."""
    from distributed import Client, LocalCluster

    if scheduler:
        return Client(scheduler)
    cluster = LocalCluster(
        n_workers=workers or os.cpu_count() or 1,
        threads_per_worker=1,
        processes=True,
        dashboard_address=None,
        silence_logs=logging.ERROR,
    )
    return Client(cluster)


def run(
    partitions: Sequence[Partition], scheduler: Optional[str], workers: Optional[int]
) -> Summary:
    """Verifies the partitions not yet written on the cluster; this run's summary."""
    from distributed import progress, wait

    pending = [p for p in partitions if not os.path.exists(p.out_path)]
    summary = Summary()
    if not pending:
        return summary
    client = _client(scheduler, workers)
    try:
        futures = client.map(run_partition, pending, pure=False)
        if sys.stdout.isatty():
            progress(futures)  # ends its own line
        else:
            wait(futures)
        for part in client.gather(futures):
            summary.add(part)
    finally:
        cluster = getattr(client, "cluster", None)
        client.close()
        if cluster is not None and scheduler is None:
            cluster.close()
    return summary


def _arguments(argv: Optional[Sequence[str]]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog="python3 -m vrd.batch",
        description="Verify the PDF documents of a list on a Dask cluster, resumably.",
    )
    parser.add_argument("--files-from", required=True, metavar="LIST",
                        help="the list of paths, one a line ('-': standard input)")
    parser.add_argument("--out", required=True, metavar="DIR",
                        help="where the partition files go; the same DIR resumes a run")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="a Dask scheduler (tcp://HOST:8786); default: a LocalCluster")
    parser.add_argument("--all", action="store_true",
                        help="the tsverify --all report of each file instead of the verdict")
    parser.add_argument("--trust-anchor", action="append", default=[], metavar="PEM",
                        help="an extra trusted root for --all (repeatable)")
    parser.add_argument("--system-roots", action="store_true",
                        help="the system's roots as well, for --all")
    parser.add_argument("--partition-size", type=int, default=250, metavar="N",
                        help="paths per task (default 250)")
    parser.add_argument("--workers", type=int, metavar="N",
                        help="LocalCluster worker processes (default: the CPU count)")
    args = parser.parse_args(argv)
    if args.partition_size < 1 or (args.workers is not None and args.workers < 1):
        parser.error("--partition-size and --workers take a positive number")
    if (args.trust_anchor or args.system_roots) and not args.all:
        parser.error("--trust-anchor and --system-roots need --all "
                     "(the library's verdict uses its built-in anchors only)")
    if args.scheduler and args.workers is not None:
        parser.error("--workers is for the LocalCluster, not with --scheduler")
    return args


def _print_summary(summary: Summary, skipped: int, seconds: float) -> None:
    rate = summary.files / seconds if seconds > 0 else 0.0
    print(f"files:    {summary.files} in {seconds:.1f} s ({rate:.0f} files/s)")
    print(f"verified: {summary.verified}")
    print(f"failed:   {summary.files - summary.verified}")
    for label, count in sorted(summary.failed.items()):
        print(f"  {count:>8}  {label}")
    if skipped:
        print(f"skipped:  {skipped} partition(s) written by an earlier run")


def main(argv: Optional[Sequence[str]] = None) -> int:
    """The command; returns the exit status."""
    args = _arguments(argv)
    started = time.monotonic()
    settings = Settings(
        args.all,
        tuple(os.path.abspath(anchor) for anchor in args.trust_anchor),
        args.system_roots,
        args.partition_size,
    )
    out_dir = os.path.abspath(args.out)
    try:
        if settings.all:  # unreadable anchors stop the run before the cluster starts
            vrd.report_json(os.devnull, settings.trust_anchors, settings.system_roots)
        if args.files_from == "-":
            partitions = prepare(sys.stdin.buffer, out_dir, settings)
        else:
            with open(args.files_from, "rb") as listing:
                partitions = prepare(listing, out_dir, settings)
        skipped = sum(os.path.exists(p.out_path) for p in partitions)
        summary = run(partitions, args.scheduler, args.workers)
    except (UsageError, ValueError, OSError) as error:
        print(f"vrd.batch: {error}", file=sys.stderr)
        return 2
    except Exception as error:  # a task that failed for good on the cluster
        print(f"vrd.batch: the run failed: {type(error).__name__}: {error}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        print(f"vrd.batch: interrupted; run again with --out {args.out} to finish",
              file=sys.stderr)
        return 130
    _print_summary(summary, skipped, time.monotonic() - started)
    return 0 if summary.files == summary.verified else 1


if __name__ == "__main__":
    # Through the module's own name, so that the tasks refer to vrd.batch
    # (importable on every worker), not to this __main__.
    from vrd.batch import main as batch_main

    sys.exit(batch_main())
