"""The MinHash permutation kernels against the written-out permutations, on
every kernel this processor runs: hashes that put a permutation's value at
the wrap of the Mersenne reduction or below 2^52 (where the AVX2 kernel
compares subnormal doubles), signatures untouched or already lowered, and
widths around the kernels' register groups."""

import random

import numpy as np
import pytest

from vornkit import _native

M64 = 2**64 - 1
P61 = 2**61 - 1
GOLDEN = 0x9E3779B97F4A7C15


def parameters(i):
    b = ((i + 1) * GOLDEN + 0x1234) & M64
    return ((b + 0x9999) & M64) | 1, b


def reference(hashes, start):
    out = list(start)
    for i in range(len(out)):
        a, b = parameters(i)
        for h in hashes:
            out[i] = min(out[i], ((a * h + b) & M64) % P61)
    return out


def hash_giving(lane, value):
    """A hash that permutation `lane` maps to `value` before the reduction."""
    a, b = parameters(lane)
    return pow(a, -1, 2**64) * (value - b) & M64


@pytest.mark.parametrize("kernel", _native._minhash_kernels())
@pytest.mark.parametrize("width", [1, 3, 4, 5, 8, 9, 16, 31, 64, 127, 128, 129, 257])
def test_kernels_against_the_permutations(kernel, width):
    rng = random.Random(f"{kernel}-{width}")
    for trial in range(6):
        lane = rng.randrange(width)
        hashes = [rng.getrandbits(64) for _ in range(rng.randrange(1, 40))] + [0, M64]
        hashes += [hash_giving(lane, (rng.randrange(8) << 61) + P61 - rng.randrange(12)) for _ in range(3)]
        hashes += [hash_giving(lane, rng.getrandbits(rng.randrange(1, 52))) for _ in range(4)]
        rng.shuffle(hashes)
        start = [M64] * width if trial % 2 else [rng.choice([M64, rng.randrange(P61)]) for _ in range(width)]
        sig = np.array(start, dtype=np.uint64)
        _native._minhash_lower(np.array(hashes, dtype=np.uint64), sig, kernel=kernel)
        assert sig.tolist() == reference(hashes, start), (kernel, width, trial)
