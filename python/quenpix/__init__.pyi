"""Type hints of the quenpix package."""

import os
from typing import Any, Dict, Tuple, Union

import numpy
import numpy.typing

__version__: str

class QuenpixError(ValueError):
    """A compressed file or side file that does not decode, or the codec refusing its input."""

def encode(
    pixels: numpy.typing.NDArray[numpy.uint8],
    level: int = 2,
    difference_planes: bool = True,
    replace_short_matches: bool = True,
    threads: int = 0,
) -> Tuple[bytes, bytes]:
    """Compresses a uint8 array of shape (height, width, 3), RGB, C-contiguous or strided;
    returns the compressed file's bytes and the side file's bytes, as the tool writes them."""

def decode(lsg: bytes, pls: bytes, threads: int = 0) -> numpy.typing.NDArray[numpy.uint8]:
    """Decodes a compressed file with its side file into an array (height, width, 3), RGB."""

def info(lsg: bytes) -> Dict[str, Any]:
    """width, height, colour_transform, predictor and idat_chunks, without decoding."""

def side_file_name(path: Union[str, os.PathLike[str]]) -> str:
    """The side file that belongs to a compressed file."""

def read(path: Union[str, os.PathLike[str]], threads: int = 0) -> numpy.typing.NDArray[numpy.uint8]:
    """Reads a compressed file and its side file into an array (height, width, 3), RGB."""

def write(path: Union[str, os.PathLike[str]], pixels: numpy.typing.NDArray[numpy.uint8], **options: Any) -> Tuple[int, int]:
    """Compresses pixels into a file and its side file, atomically; returns both sizes."""
