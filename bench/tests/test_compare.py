"""bench/compare: a decoder's speed-up comes from its two turns of the same run, back to back."""

import importlib.machinery
import importlib.util
from pathlib import Path

import pytest

SCRIPT = Path(__file__).resolve().parent.parent / "compare"


def load_script():
    loader = importlib.machinery.SourceFileLoader("compare", str(SCRIPT))
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader("compare", loader))
    loader.exec_module(module)
    return module


compare = load_script()


class DriftingMachine:
    """Two CPUs on which every decoder takes 60 ms on one core and 40 ms on both, while the
    machine slows down by a tenth after every second turn."""

    cores = 2
    cpu = 0

    def __init__(self):
        self.turns = []

    def measure(self, command, work, all_cores=False, stdout=None):
        self.turns.append((command[0], all_cores))
        slowdown = 1 + 0.1 * ((len(self.turns) - 1) // 2)
        return (0.040 if all_cores else 0.060) * slowdown, 1000, None


def test_speedup_pairs_the_turns_of_each_run(monkeypatch):
    monkeypatch.setattr(compare, "read_pixels", lambda path: (1, 1, b"\0\0\0"))
    decoders = [compare.Decoder(key, key, [key], [key], "out") for key in ("quenpix", "webp")]
    machine = DriftingMachine()
    runs = 5
    rows = compare.bench_decoders(Path("image.bmp"), decoders, runs, machine, Path("."))

    for row in rows:
        if "all 2 cores" in row["tool"]:
            # The drift between runs cancels out; a ratio of medians would not be 1.5.
            assert row["speedup"] == pytest.approx(1.5)
        else:
            assert row["speedup"] is None
    # Each decoder's two turns follow each other, and which comes first alternates by run.
    assert len(machine.turns) == runs * 4
    for turn in range(0, len(machine.turns), 2):
        (first, first_on_all), (second, second_on_all) = machine.turns[turn:turn + 2]
        assert first == second and second_on_all != first_on_all
        assert first_on_all == (turn // 4 % 2 == 1)
