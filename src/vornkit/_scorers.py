"""The algorithm registry of vornkit's core, as Python objects.

The registry (``router/registry.hpp`` in the C++ sources) lists every
pairwise function vornkit scores with: its module, its name, whether it is a
distance, the sizes a caller gives in ``scorer_kwargs``, the name the router
knows it by, and the name the command line and record linkage know it by.

Scorer names: vorn's similarities go by their router names (``levenshtein``,
``jaro_winkler``, ``jaccard_word``, ...), vorn's distances by their function
names (``levenshtein_distance``), RapidFuzz's scorers by their names in
``rapidfuzz.fuzz`` (``ratio``, ``WRatio``, ``token_set_ratio``, ...) and
``rapidfuzz.distance`` (``Levenshtein.distance``,
``JaroWinkler.normalized_similarity``, ...).
"""

from __future__ import annotations

import importlib
from collections.abc import Callable
from typing import NamedTuple

from vornkit import _native


class Algorithm(NamedTuple):
    module: str
    function: str
    is_distance: bool
    sizes: tuple[str, ...]
    router_name: str
    name: str  # on the command line and in record linkage; empty when it needs sizes
    option: str  # the one keyword of a RapidFuzz metric scorer_kwargs accepts, or empty
    scale: float  # the best similarity: 100.0 for the fuzz ratios, 1.0 otherwise

    def scorer(self) -> Callable[..., float]:
        """The function object itself."""
        scorer: Callable[..., float] = getattr(importlib.import_module(self.module), self.function)
        return scorer


ALGORITHMS: tuple[Algorithm, ...] = tuple(Algorithm(*row) for row in _native.algorithms())
NAMED: dict[str, Algorithm] = {algorithm.name: algorithm for algorithm in ALGORITHMS if algorithm.name}


def named(name: str) -> Algorithm:
    """The algorithm a scorer name stands for; ValueError naming the choices for any other name."""
    try:
        return NAMED[name]
    except (KeyError, TypeError):
        raise ValueError(f"unknown scorer {name!r} (choose from {', '.join(NAMED)})") from None
