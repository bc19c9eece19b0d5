"""Shared pieces of the Python tests: the repository's test images and reference outputs."""

import os
import pathlib

import numpy
import pytest
from PIL import Image

DATA = pathlib.Path(os.environ.get("QUENPIX_TEST_DATA", pathlib.Path(__file__).parents[2] / "tests" / "data"))


def load_rgb(name: str) -> numpy.ndarray:
    """A public test bitmap as a (height, width, 3) uint8 RGB array."""
    with Image.open(DATA / "public" / f"{name}.bmp") as image:
        return numpy.asarray(image.convert("RGB"))


def expected(name: str, options: str, extension: str) -> bytes:
    return (DATA / "expected" / f"{name}.{options}{extension}").read_bytes()


@pytest.fixture
def photo() -> numpy.ndarray:
    return load_rgb("p12_photo_64x64")
