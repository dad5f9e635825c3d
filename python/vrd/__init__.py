"""RFC 3161 time-stamp verification of PDF documents, over the vrd C library.

- :func:`verify` gives the verdict of the exported functions
  (``QVTSPdfSigVerifyF`` for a path, ``QVTSPdfSigVerifyD`` for bytes) as a
  :class:`Result`; the library's built-in trust anchors only, as in C.
- :func:`verify_many` verifies many documents on a thread pool, results in
  input order (the calls release the GIL).
- :func:`report` gives the ``tsverify --all`` report of one file as a dict,
  the object ``tsverify --all --json`` prints.

A document that fails verification, or cannot be read, is a result, never an
exception; usage errors raise ``ValueError`` (a bad argument) or ``OSError``
(the library cannot be loaded). ``python3 -m vrd.batch`` verifies millions
of files on a Dask cluster.

Like the C functions, the verification writes the library's scanning
messages (Korean, code page 949) to the process's standard output for
documents whose trailer cannot be read.
"""

from __future__ import annotations

import collections
import concurrent.futures
import ctypes
import itertools
import json
import os
from dataclasses import dataclass
from typing import Any, Iterable, Iterator, Sequence, Union

from . import _library

__all__ = ["Result", "verify", "verify_many", "report", "report_json", "RESULT_NAMES"]

PathLike = Union[str, "os.PathLike[str]"]
Document = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview]

_TEXT_UNITS = 512
_MAX_DATA = 2**31 - 1

#: Result code -> (name, meaning), as tsverify shows them.
RESULT_NAMES: dict[int, tuple[str, str]] = {
    0: (
        "ResultOk",
        "the content is unchanged since it was time-stamped and the time-stamping "
        "authority is trusted",
    ),
    2101: (
        "DigestMismatch",
        "the signed content was changed after time-stamping: its digest differs from "
        "the token's message imprint",
    ),
    2103: ("UnsupportedAlgorithm", "the token's imprint algorithm is neither SHA-256 nor SHA-512"),
    2104: ("FileUnreadable", "the file cannot be read"),
    2105: ("ToolkitSetupFailed", "the crypto toolkit or a trust anchor could not be set up"),
    2106: ("TokenUnreadable", "the time-stamp token cannot be read from the signature"),
    2107: (
        "SignerCertificateUnreadable",
        "the time-stamping authority's certificate cannot be loaded or named",
    ),
    2108: ("NoTimeStampToken", "the document has no usable signature structure"),
    2109: (
        "CertificateVerifyFailed",
        "the time-stamping authority's certificate does not chain to a trusted root",
    ),
    2110: ("SignedDataInvalid", "the token is not valid CMS signed data"),
}

# Codes after which the document stage may have failed with a named reason.
_STAGE_CODES = frozenset({2104, 2106, 2108})


@dataclass(frozen=True)
class Result:
    """The verdict of the exported functions on one document.

    ``code`` is 0 when the document verified; ``name`` and ``meaning`` name
    the code; the four texts are the library's outputs (empty when it wrote
    none); ``reason`` is the document stage's failure (``ERR_NOT_XREF``, ...)
    or empty.
    """

    code: int
    name: str
    meaning: str
    gen_time: str
    hash_algorithm: str
    hashed_message: str
    subject_name: str
    reason: str

    @property
    def ok(self) -> bool:
        """True when the document verified (code 0)."""
        return self.code == 0

    def to_json(self, file: str) -> dict[str, Any]:
        """The object ``tsverify --json`` prints for this result under ``file``
        (without its ``message`` key, which the exported functions do not give)."""
        out: dict[str, Any] = {
            "file": file,
            "code": self.code,
            "result": self.name,
            "genTime": self.gen_time,
            "hashAlgorithm": self.hash_algorithm,
            "hashedMessage": self.hashed_message,
            "subjectName": self.subject_name,
        }
        if self.reason:
            out["reason"] = self.reason
        return out


def _path_bytes(path: Any, what: str) -> bytes:
    if not isinstance(path, (str, os.PathLike)):
        raise ValueError(f"{what} must be a path (str or os.PathLike), not {type(path).__name__}")
    encoded = os.fsencode(path)
    if not encoded or b"\0" in encoded:
        raise ValueError(f"{what} must be a non-empty path without NUL characters: {path!r}")
    return encoded


def _text(buffer: ctypes.Array[ctypes.c_uint16]) -> str:
    units = bytes(buffer).decode("utf-16-le", "replace")
    return units.split("\0", 1)[0]


def verify(document: Document) -> Result:
    """Verifies one PDF document: a path (str or os.PathLike), or its bytes.

    Thread-safe; the GIL is released during the library's call. A file that
    cannot be read gives code 2104. Raises ValueError for anything else than
    a path or bytes, an empty path, or 2 GiB of bytes or more; OSError when
    the library cannot be loaded.
    """
    library = _library.library()
    outputs = [(ctypes.c_uint16 * _TEXT_UNITS)() for _ in range(4)]
    if isinstance(document, (bytes, bytearray, memoryview)):
        data = bytes(document)
        if len(data) > _MAX_DATA:
            raise ValueError(f"a document in memory must be under 2 GiB, not {len(data)} bytes")
        code = library.QVTSPdfSigVerifyD(data, len(data), *outputs)
        source: tuple[bytes | None, bytes | None, int] = (None, data, len(data))
    else:
        path = _path_bytes(document, "the document")
        code = library.QVTSPdfSigVerifyF(path, *outputs)
        source = (path, None, 0)
    reason = ""
    if code in _STAGE_CODES:
        outcome = _library.module().VrdTsverifyDocumentOutcome1(*source)
        if outcome is None:
            raise MemoryError("the document stage's outcome could not be obtained")
        reason = "" if outcome == b"OK" else outcome.decode("ascii")
    name, meaning = RESULT_NAMES.get(code, ("Unknown", "unknown result code"))
    return Result(code, name, meaning, *(_text(o) for o in outputs), reason)


def verify_many(documents: Iterable[Document], jobs: int | None = None) -> Iterator[Result]:
    """Verifies documents on ``jobs`` threads (default: the CPU count),
    yielding their results in the input's order.

    The input is read lazily, a few chunks of documents ahead of the
    results, so a list of millions of paths is never all in flight. Raises
    ValueError for ``jobs`` below 1 (and as :func:`verify` does, when the
    result of a bad document is reached).
    """
    if jobs is None:
        jobs = os.cpu_count() or 1
    if not isinstance(jobs, int) or jobs < 1:
        raise ValueError(f"jobs must be a positive integer, not {jobs!r}")
    _library.library()  # a missing library is reported at the call
    return _verify_many(iter(documents), jobs)


_CHUNK = 32  # documents per task: a future per document would cost more than a small verification


def _verify_chunk(chunk: list[Document]) -> list[Result]:
    return [verify(document) for document in chunk]


def _verify_many(documents: Iterator[Document], jobs: int) -> Iterator[Result]:
    pending: collections.deque[concurrent.futures.Future[list[Result]]] = collections.deque()
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        try:
            while chunk := list(itertools.islice(documents, _CHUNK)):
                pending.append(pool.submit(_verify_chunk, chunk))
                if len(pending) >= 2 * jobs:
                    yield from pending.popleft().result()
            while pending:
                yield from pending.popleft().result()
        finally:
            for future in pending:
                future.cancel()


def report(
    path: PathLike, trust_anchors: Sequence[PathLike] = (), system_roots: bool = False
) -> dict[str, Any]:
    """The ``tsverify --all`` report of the file at ``path``: the object
    ``tsverify --all --json`` prints for it (keys ``file``, ``verified``,
    ``library``, ``timestamps``, ...).

    ``trust_anchors`` names PEM files of extra trusted roots and
    ``system_roots`` adds the system's, as ``--trust-anchor`` and
    ``--system-roots`` do; the trust sources of each distinct setting are
    loaded once per process. A file that cannot be read is a report (its
    ``error`` says so). Raises ValueError for a bad path or an anchor file
    that cannot be read; OSError when the library or the module cannot be
    loaded. Thread-safe; the GIL is released during the call.
    """
    result: dict[str, Any] = json.loads(report_json(path, trust_anchors, system_roots))
    return result


def report_json(
    path: PathLike, trust_anchors: Sequence[PathLike] = (), system_roots: bool = False
) -> str:
    """:func:`report` as the JSON text ``tsverify --all --json`` prints (no line feed)."""
    if isinstance(trust_anchors, (str, bytes, os.PathLike)):
        raise ValueError("trust_anchors must be a sequence of paths, not a single path")
    encoded = _path_bytes(path, "the document")
    anchors = [_path_bytes(anchor, "a trust anchor") for anchor in trust_anchors]
    array = (ctypes.c_char_p * max(len(anchors), 1))(*anchors)
    module = _library.module()
    text = ctypes.c_void_p()
    status = module.VrdTsverifyReportJson1(
        encoded, array, len(anchors), 1 if system_roots else 0, ctypes.byref(text)
    )
    try:
        message = ctypes.string_at(text.value).decode("utf-8") if text.value else ""
    finally:
        module.VrdTsverifyFreeText1(text)
    if status == 0:
        return message
    if status == 1:
        raise ValueError(message)
    raise MemoryError("the report could not be made: out of memory or threads")
