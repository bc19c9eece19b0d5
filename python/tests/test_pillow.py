"""The Pillow plugin: .lsg files open and save through Pillow, ordinary PNG files still open."""

import numpy
import pytest
from PIL import Image

import quenpix.pillow  # noqa: F401  registers the format
from conftest import DATA, expected


def test_open_reads_the_image_with_its_side_file(tmp_path):
    (tmp_path / "p.lsg").write_bytes(expected("p13_photo_128x96", "default", ".lsg"))
    (tmp_path / "p.pls").write_bytes(expected("p13_photo_128x96", "default", ".pls"))
    with Image.open(tmp_path / "p.lsg") as image:
        assert image.format == "QUENPIX"
        assert image.size == (128, 96)
        pixels = numpy.asarray(image.convert("RGB"))
    with Image.open(DATA / "public" / "p13_photo_128x96.bmp") as original:
        numpy.testing.assert_array_equal(pixels, numpy.asarray(original.convert("RGB")))


def test_save_writes_both_files_and_png_files_still_open_as_png(tmp_path):
    with Image.open(DATA / "public" / "p12_photo_64x64.bmp") as original:
        original.save(tmp_path / "s.lsg")
        original.save(tmp_path / "plain.png")
        rgb = numpy.asarray(original.convert("RGB"))
    assert (tmp_path / "s.lsg").read_bytes() == expected("p12_photo_64x64", "default", ".lsg")
    assert (tmp_path / "s.pls").read_bytes() == expected("p12_photo_64x64", "default", ".pls")
    with Image.open(tmp_path / "plain.png") as png:
        assert png.format == "PNG"
        numpy.testing.assert_array_equal(numpy.asarray(png.convert("RGB")), rgb)
    with Image.open(tmp_path / "s.lsg") as reopened:
        numpy.testing.assert_array_equal(numpy.asarray(reopened), rgb)


def test_a_missing_side_file_is_an_error_not_a_wrong_picture(tmp_path):
    (tmp_path / "alone.lsg").write_bytes(expected("p12_photo_64x64", "default", ".lsg"))
    with Image.open(tmp_path / "alone.lsg") as image:
        with pytest.raises(FileNotFoundError):
            image.load()
