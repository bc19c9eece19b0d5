"""Pillow plugin: ``import quenpix.pillow`` and ``PIL.Image.open("photo.lsg")`` opens a Quenpix
image (its side file found beside it), ``image.save("photo.lsg")`` writes both files.

A compressed file begins with the PNG signature, so Pillow's own PNG reader would claim it and
then fail: this plugin is put first. Pillow shows it only the signature and the first chunk's
name, so it looks further itself: the compression method in IHDR is 1 in a Quenpix file and 0 in
an ordinary PNG file, which it passes on to Pillow's PNG reader as before.
"""

from __future__ import annotations

import os
from typing import Any, IO

from PIL import Image, ImageFile

from . import decode, encode, side_file_name, _replace_atomically

FORMAT = "QUENPIX"
_SIGNATURE = b"\x89PNG\r\n\x1a\n"
# The signature, the IHDR chunk's length and type, its width and height, bit depth, colour
# type: the compression method is the next byte.
_COMPRESSION_METHOD_AT = 8 + 8 + 10


def _accept(prefix: bytes) -> bool:
    return prefix[:8] == _SIGNATURE and prefix[12:16] == b"IHDR"


class QuenpixImageFile(ImageFile.ImageFile):
    """Reads the size from IHDR when opened; decodes the whole image, with its side file, when
    the pixels are first needed."""

    format = FORMAT
    format_description = "Quenpix lossless image"

    def _open(self) -> None:
        header = self.fp.read(_COMPRESSION_METHOD_AT + 1)
        if len(header) <= _COMPRESSION_METHOD_AT or header[_COMPRESSION_METHOD_AT] != 1:
            # An ordinary PNG file: Pillow goes on to its own reader.
            raise SyntaxError("not a Quenpix file")
        width = int.from_bytes(header[16:20], "big")
        height = int.from_bytes(header[20:24], "big")
        self._size = (width, height)
        self.mode = "RGB"
        if not self.filename:
            raise ValueError("a Quenpix image is opened by its file name, to find the side file beside it")
        self.tile = [(FORMAT, (0, 0) + self.size, 0, (os.fspath(self.filename),))]


class QuenpixDecoder(ImageFile.PyDecoder):
    """Decodes the whole compressed file in one step and hands Pillow the pixels."""

    _pulls_fd = True

    def decode(self, buffer: bytes) -> Any:
        (path,) = self.args
        self.fd.seek(0)
        lsg = self.fd.read()
        with open(side_file_name(path), "rb") as side:
            pls = side.read()
        pixels = decode(lsg, pls)
        self.set_as_raw(pixels.tobytes())
        return -1, 0


def _save(image: Image.Image, fp: IO[bytes], filename: Any) -> None:
    import numpy

    if not filename:
        raise ValueError("saving a Quenpix image needs a file name, for the side file beside it")
    options = image.encoderinfo
    lsg, pls = encode(
        numpy.asarray(image.convert("RGB")),
        level=options.get("level", 2),
        difference_planes=options.get("difference_planes", True),
        replace_short_matches=options.get("replace_short_matches", True),
        threads=options.get("threads", 0),
    )
    # The side file is put in place first, as the tools do; the compressed file goes to the
    # stream that Pillow opened.
    _replace_atomically({side_file_name(os.fspath(filename)): pls})
    fp.write(lsg)


def register() -> None:
    """Registers the format, ahead of Pillow's PNG reader."""
    Image.register_open(FORMAT, QuenpixImageFile, _accept)
    Image.register_save(FORMAT, _save)
    Image.register_extension(FORMAT, ".lsg")
    Image.register_mime(FORMAT, "image/x-quenpix")
    Image.register_decoder(FORMAT, QuenpixDecoder)
    while FORMAT in Image.ID:
        Image.ID.remove(FORMAT)
    Image.ID.insert(0, FORMAT)


register()
