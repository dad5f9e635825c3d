"""Finding and loading the vrd shared libraries.

The verifier, ``libVIDEREDEve_Z_64.so.0``, is found next to the package when
both come from one ``cmake --install`` (which writes ``_installed.py`` with
the way from the package to the library folder); otherwise, as after
``pip install ./python``, it is loaded by its SONAME through the system's
loader (an installed package, or ``LD_LIBRARY_PATH=<prefix>/lib``).

The ``tsverify --all`` module, which makes the document report, lies in the
``vrd/`` subfolder of the library's own folder; it is loaded on first use
only, since it pulls in qpdf.
"""

from __future__ import annotations

import ctypes
import os
import threading
from typing import Optional

LIBRARY_SONAME = "libVIDEREDEve_Z_64.so.0"
MODULE_FILE = "libvrd_tsverify_all.so"

_lock = threading.Lock()
_library: Optional[ctypes.CDLL] = None
_module: Optional[ctypes.CDLL] = None


def _installed_library_path() -> Optional[str]:
    """The library beside the package of the same ``cmake --install``, if any."""
    try:
        from . import _installed  # type: ignore[attr-defined]
    except ImportError:
        return None
    here = os.path.dirname(os.path.abspath(__file__))
    return os.path.normpath(os.path.join(here, _installed.LIBRARY_DIR, LIBRARY_SONAME))


def _declare_library(library: ctypes.CDLL) -> None:
    out = [ctypes.POINTER(ctypes.c_uint16)] * 4
    library.QVTSPdfSigVerifyF.argtypes = [ctypes.c_char_p, *out]
    library.QVTSPdfSigVerifyF.restype = ctypes.c_int
    library.QVTSPdfSigVerifyD.argtypes = [ctypes.c_char_p, ctypes.c_int32, *out]
    library.QVTSPdfSigVerifyD.restype = ctypes.c_int


def library() -> ctypes.CDLL:
    """The verifier library, loaded once. Raises OSError naming what was tried."""
    global _library
    if _library is not None:
        return _library
    with _lock:
        if _library is not None:
            return _library
        tried: list[str] = []
        candidates = [p for p in (_installed_library_path(), LIBRARY_SONAME) if p]
        for candidate in candidates:
            if os.sep in candidate and not os.path.exists(candidate):
                tried.append(f"{candidate} (no such file)")
                continue
            try:
                loaded = ctypes.CDLL(candidate)
            except OSError as error:
                tried.append(f"{candidate} ({error})")
                continue
            _declare_library(loaded)
            _library = loaded
            return loaded
        raise OSError(
            "the vrd library cannot be loaded; tried: "
            + "; ".join(tried)
            + ". Install the vrd package (or cmake --install it beside this Python "
            "package), or set LD_LIBRARY_PATH=<prefix>/lib"
        )


class _DlInfo(ctypes.Structure):
    _fields_ = [
        ("dli_fname", ctypes.c_char_p),
        ("dli_fbase", ctypes.c_void_p),
        ("dli_sname", ctypes.c_char_p),
        ("dli_saddr", ctypes.c_void_p),
    ]


def library_path() -> str:
    """The file the verifier library was loaded from (by the loader's own account)."""
    loaded = library()
    libc = ctypes.CDLL(None)
    libc.dladdr.argtypes = [ctypes.c_void_p, ctypes.POINTER(_DlInfo)]
    libc.dladdr.restype = ctypes.c_int
    info = _DlInfo()
    address = ctypes.cast(loaded.QVTSPdfSigVerifyF, ctypes.c_void_p)
    if libc.dladdr(address, ctypes.byref(info)) == 0 or not info.dli_fname:
        raise OSError("the vrd library's own file cannot be found (dladdr failed)")
    return os.path.realpath(os.fsdecode(info.dli_fname))


def module() -> ctypes.CDLL:
    """The ``tsverify --all`` module beside the library, loaded once.

    Raises OSError naming the file tried.
    """
    global _module
    if _module is not None:
        return _module
    path = os.path.join(os.path.dirname(library_path()), "vrd", MODULE_FILE)
    with _lock:
        if _module is not None:
            return _module
        try:
            loaded = ctypes.CDLL(path)
        except OSError as error:
            raise OSError(
                f"the tsverify --all module cannot be loaded from {path} "
                f"(beside the vrd library): {error}"
            ) from error
        loaded.VrdTsverifyReportJson1.argtypes = [
            ctypes.c_char_p,
            ctypes.POINTER(ctypes.c_char_p),
            ctypes.c_int,
            ctypes.c_int,
            ctypes.POINTER(ctypes.c_void_p),
        ]
        loaded.VrdTsverifyReportJson1.restype = ctypes.c_int
        loaded.VrdTsverifyFreeText1.argtypes = [ctypes.c_void_p]
        loaded.VrdTsverifyFreeText1.restype = None
        loaded.VrdTsverifyDocumentOutcome1.argtypes = [
            ctypes.c_char_p,
            ctypes.c_char_p,
            ctypes.c_int32,
        ]
        loaded.VrdTsverifyDocumentOutcome1.restype = ctypes.c_char_p
        _module = loaded
        return loaded
