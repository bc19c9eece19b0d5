"""Quenpix: lossless compression of RGB images, from Python.

A compressed image is two files: the compressed file (.lsg) and its side file (.pls), both
needed to decode it. ``encode`` and ``decode`` work on bytes and NumPy arrays of shape
(height, width, 3), dtype uint8, RGB; ``read`` and ``write`` work on files and find or make the
side file by the command-line tools' naming rule. ``import quenpix.pillow`` lets Pillow open
and save .lsg files.
"""

from __future__ import annotations

import os
import secrets
from typing import Any, Dict, Tuple, Union

from ._quenpix import QuenpixError, __version__, decode, encode, info

__all__ = ["QuenpixError", "__version__", "decode", "encode", "info", "read", "side_file_name", "write"]

PathLike = Union[str, "os.PathLike[str]"]

SIDE_FILE_EXTENSION = ".pls"


def side_file_name(path: PathLike) -> str:
    """The side file of a compressed file: its last path component's extension replaced by
    .pls, or .pls appended when it has none (``photo.lsg`` gives ``photo.pls``)."""
    path = os.fspath(path)
    folder, name = os.path.split(path)
    dot = name.rfind(".")
    stem = name[:dot] if dot >= 0 else name
    return os.path.join(folder, stem + SIDE_FILE_EXTENSION) if folder else stem + SIDE_FILE_EXTENSION


def read(path: PathLike, threads: int = 0) -> Any:
    """Reads a compressed file and its side file and returns the image as a uint8 array of
    shape (height, width, 3), RGB."""
    with open(path, "rb") as lsg_file:
        lsg = lsg_file.read()
    with open(side_file_name(path), "rb") as pls_file:
        pls = pls_file.read()
    return decode(lsg, pls, threads=threads)


def _create_beside(target: str) -> Tuple[int, str]:
    """A new file of a random name in the target's folder, created with the mode that the
    umask gives any new file; returns its descriptor and name."""
    folder = os.path.dirname(os.path.abspath(target))
    while True:
        name = os.path.join(folder, f".{os.path.basename(target)}.{secrets.token_hex(4)}")
        try:
            return os.open(name, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666), name
        except FileExistsError:
            continue


def _replace_atomically(targets: Dict[str, bytes]) -> None:
    """Writes every file under a temporary name in its folder, then renames them over their
    targets in the order given; on any failure the temporary files go and the targets stay as
    they were. A replaced file keeps its permissions; a symbolic link is written through."""
    temporaries = []
    try:
        for target, data in targets.items():
            real = os.path.realpath(target)
            handle, temporary = _create_beside(real)
            temporaries.append((temporary, real))
            with os.fdopen(handle, "wb") as stream:
                stream.write(data)
            if os.path.exists(real):
                os.chmod(temporary, os.stat(real).st_mode & 0o7777)
        for temporary, real in temporaries:
            os.replace(temporary, real)
        temporaries.clear()
    finally:
        for temporary, _ in temporaries:
            try:
                os.unlink(temporary)
            except FileNotFoundError:
                pass


def write(path: PathLike, pixels: Any, **options: Any) -> Tuple[int, int]:
    """Compresses the pixels (uint8, shape (height, width, 3), RGB) into ``path`` and its side
    file, with the options of ``encode``. Both files replace what stands under their names only
    once both are written (the side file first), as the tools do. Returns their sizes."""
    path = os.fspath(path)
    side = side_file_name(path)
    if os.path.realpath(side) == os.path.realpath(path):
        raise ValueError(f"{path} would be replaced by its own side file")
    lsg, pls = encode(pixels, **options)
    _replace_atomically({side: pls, path: lsg})
    return len(lsg), len(pls)
