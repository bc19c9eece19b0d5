"""The binding: the tool's bytes from arrays of any layout, round trips, refusals before any
work, errors as QuenpixError, threads, and files written as the tools write them."""

import os
import threading

import numpy
import pytest

import quenpix
from conftest import expected, load_rgb

OPTION_SETS = {
    "default": {},
    "F": {"level": 0},
    "M": {"level": 3},
    "P": {"difference_planes": False},
    "R": {"replace_short_matches": False},
    "PR": {"difference_planes": False, "replace_short_matches": False},
}


@pytest.mark.parametrize("option_set", OPTION_SETS)
def test_encode_gives_the_tools_files(photo, option_set):
    lsg, pls = quenpix.encode(photo, threads=2, **OPTION_SETS[option_set])
    assert lsg == expected("p12_photo_64x64", option_set, ".lsg")
    assert pls == expected("p12_photo_64x64", option_set, ".pls")


@pytest.mark.parametrize("name", ["p01_1x1", "p03_1x2", "p11_screen_160x120", "p18_photo_181x181"])
def test_round_trip(name):
    pixels = load_rgb(name)
    decoded = quenpix.decode(*quenpix.encode(pixels))
    assert decoded.dtype == numpy.uint8 and decoded.shape == pixels.shape
    numpy.testing.assert_array_equal(decoded, pixels)


def test_strided_and_non_contiguous_arrays_give_the_same_bytes(photo):
    reference = quenpix.encode(photo)
    wide = numpy.zeros((64, 80, 3), numpy.uint8)
    wide[:, 5:69] = photo
    views = {
        "rows with gaps": wide[:, 5:69],
        "every other pixel": numpy.repeat(photo, 2, axis=1)[:, ::2],
        "channels reordered twice": photo[:, :, ::-1][:, :, ::-1],
        "Fortran order": numpy.asfortranarray(photo),
        "rows reversed twice": photo[::-1][::-1],
    }
    for what, view in views.items():
        assert quenpix.encode(view) == reference, what
    assert quenpix.info(reference[0])["width"] == 64


@pytest.mark.parametrize(
    "pixels, error",
    [
        (numpy.zeros((4, 4, 3), numpy.float32), TypeError),
        (numpy.zeros((4, 4, 3), numpy.uint16), TypeError),
        (numpy.zeros((4, 4), numpy.uint8), ValueError),
        (numpy.zeros((4, 4, 4), numpy.uint8), ValueError),
        (numpy.zeros((0, 4, 3), numpy.uint8), ValueError),
        ([[1, 2, 3]], TypeError),
    ],
)
def test_bad_arrays_are_refused_before_any_work(pixels, error):
    with pytest.raises(error):
        quenpix.encode(pixels)


def test_bad_options_and_damaged_files_raise(photo):
    with pytest.raises(ValueError):
        quenpix.encode(photo, level=4)
    lsg, pls = quenpix.encode(photo)
    damaged = bytearray(lsg)
    damaged[len(damaged) // 2] ^= 0x20
    other_side = expected("p13_photo_128x96", "default", ".pls")
    for what, (file, side) in {
        "a flipped bit": (bytes(damaged), pls),
        "half a file": (lsg[: len(lsg) // 2], pls),
        "another image's side file": (lsg, other_side),
        "nothing": (b"", b""),
    }.items():
        with pytest.raises(quenpix.QuenpixError) as caught:
            quenpix.decode(file, side)
        assert isinstance(caught.value, ValueError), what
        assert str(caught.value), what
    with pytest.raises(quenpix.QuenpixError):
        quenpix.info(b"\x89PNG\r\n\x1a\n")


def test_threads_encode_at_once_with_the_same_results():
    images = [load_rgb(name) for name in ("p12_photo_64x64", "p18_photo_181x181", "p11_screen_160x120")]
    alone = [quenpix.encode(image) for image in images]
    results = [None] * len(images)

    def work(i):
        results[i] = [quenpix.encode(images[i]) for _ in range(3)]

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(images))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for i, runs in enumerate(results):
        assert all(run == alone[i] for run in runs)


def test_write_and_read_use_the_tools_naming_and_replace_atomically(tmp_path, photo):
    path = tmp_path / "photo.lsg"
    (tmp_path / "photo.pls").write_bytes(b"old side file")
    os.chmod(tmp_path / "photo.pls", 0o600)
    quenpix.write(path, photo, level=3)
    assert (tmp_path / "photo.lsg").read_bytes() == expected("p12_photo_64x64", "M", ".lsg")
    assert (tmp_path / "photo.pls").read_bytes() == expected("p12_photo_64x64", "M", ".pls")
    assert os.stat(tmp_path / "photo.pls").st_mode & 0o777 == 0o600
    numpy.testing.assert_array_equal(quenpix.read(path), photo)
    assert sorted(os.listdir(tmp_path)) == ["photo.lsg", "photo.pls"]
    assert quenpix.side_file_name("a.b/out") == os.path.join("a.b", "out.pls")

    with pytest.raises(TypeError):
        quenpix.write(tmp_path / "new.lsg", photo.astype(numpy.float64))
    assert sorted(os.listdir(tmp_path)) == ["photo.lsg", "photo.pls"], "nothing left behind"
    with pytest.raises(ValueError):
        quenpix.write(tmp_path / "x.pls", photo)
