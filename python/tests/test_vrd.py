"""vrd.verify, vrd.verify_many and vrd.report against the installed tsverify."""

import concurrent.futures
import os
import shutil
import subprocess
import sys

import pytest

import vrd
from conftest import DOCS, TEST_ROOT


def test_verify_equals_tsverify_json_on_every_document(tsverify_json):
    for expected in tsverify_json("--json", *map(str, DOCS)):
        expected.pop("message", None)  # the exported functions print it instead
        assert vrd.verify(expected["file"]).to_json(expected["file"]) == expected
        with open(expected["file"], "rb") as document:  # the same verdict from memory
            assert vrd.verify(document.read()).to_json(expected["file"]) == expected


def test_report_equals_tsverify_all_json_on_every_document(tsverify_json):
    lines = tsverify_json("--all", "--json", "--trust-anchor", str(TEST_ROOT), *map(str, DOCS))
    assert [vrd.report(line["file"], [TEST_ROOT]) for line in lines] == lines
    assert any(line["verified"] for line in lines) and not all(line["verified"] for line in lines)


@pytest.mark.parametrize(
    "document, code, reason",
    [
        # No test authority chains to the built-in anchors, which the exported
        # functions check before the digest: verified and tampered are told
        # apart by the report below, with the sample's root.
        ("sample", 2109, ""),
        ("altered", 2109, ""),
        ("sample-bytes", 2109, ""),
        ("xref-stream-bytes", 2108, "ERR_NOT_XREF"),
        (b"", 2108, "ERR_NOT_XREF"),
        ("/nonexistent/x.pdf", 2104, ""),
        ("/", 2104, ""),
    ],
)
def test_verify_cases(document, code, reason, altered):
    xref_stream = DOCS[0].with_name("xref-stream.pdf")
    paths = {"sample": DOCS[-1], "altered": altered, "xref-stream": xref_stream}
    name = document.removesuffix("-bytes") if isinstance(document, str) else None
    if name in paths:
        document = paths[name].read_bytes() if document.endswith("-bytes") else paths[name]
    result = vrd.verify(document)
    assert (result.code, result.reason, result.ok) == (code, reason, code == 0)
    assert result.name == vrd.RESULT_NAMES[code][0]
    assert bool(result.gen_time) == (code in (2101, 2109))


@pytest.mark.parametrize(
    "name, verified, library_code, imprint",
    [("sample", True, 0, "pass"), ("altered", False, 2101, "fail"), ("missing", False, 2104, None)],
)
def test_report_cases(name, verified, library_code, imprint, altered):
    path = {"sample": DOCS[-1], "altered": altered, "missing": altered.with_name("none.pdf")}[name]
    report = vrd.report(path, [DOCS[-1].with_name("sample-root.pem")])
    assert (report["verified"], report["library"]["code"]) == (verified, library_code)
    assert [ts["imprint"] for ts in report["timestamps"]] == ([imprint] if imprint else [])


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: vrd.verify(123), "must be a path"),
        (lambda: vrd.verify(""), "non-empty path"),
        (lambda: vrd.report(DOCS[-1], trust_anchors=str(TEST_ROOT)), "sequence of paths"),
        (lambda: vrd.report(DOCS[-1], ["/nonexistent.pem"]), "/nonexistent.pem"),
        (lambda: vrd.verify_many([DOCS[-1]], jobs=0), "positive integer"),
    ],
)
def test_bad_arguments_raise_value_error(call, message):
    with pytest.raises(ValueError, match=message):
        call()


def test_verify_many_keeps_order_on_threads(altered):
    documents = [DOCS[-1], altered, "/nonexistent", DOCS[0], altered.read_bytes()] * 40
    assert list(vrd.verify_many(documents, jobs=4)) == [vrd.verify(d) for d in documents]


def test_report_on_threads_with_two_trust_settings():
    calls = [(doc, anchors) for doc in DOCS for anchors in ([], [TEST_ROOT])] * 3
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        threaded = list(pool.map(lambda call: vrd.report(*call), calls))
    assert threaded == [vrd.report(*call) for call in calls]


def test_library_by_soname_or_a_clear_error(tmp_path, prefix):
    # The package as pip installs it (no _installed.py): found by its SONAME only.
    shutil.copytree(os.path.dirname(vrd.__file__), tmp_path / "vrd",
                    ignore=shutil.ignore_patterns("_installed.py", "__pycache__"))
    code = f"import vrd; print(vrd.verify({str(DOCS[-1])!r}).code)"
    env = {"PATH": os.environ["PATH"], "PYTHONPATH": str(tmp_path)}
    def run(**extra: str) -> subprocess.CompletedProcess:
        return subprocess.run([sys.executable, "-c", code], env={**env, **extra},
                              capture_output=True, text=True, check=False)

    found = run(LD_LIBRARY_PATH=str(prefix / "lib"))
    assert found.stdout.strip() == "2109", found.stderr
    tried = "OSError: the vrd library cannot be loaded; tried: libVIDEREDEve_Z_64.so.0"
    assert tried in run().stderr
