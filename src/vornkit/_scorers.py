"""The algorithm registry of vornkit's core, as Python objects.

The registry (``router/registry.hpp`` in the C++ sources) lists every
pairwise function vornkit scores with: its module, its name, whether it is a
distance, the sizes a caller gives in ``scorer_kwargs`` and the name the
router, the command line and record linkage know it by.
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

    def scorer(self) -> Callable[..., float]:
        """The function object itself."""
        scorer: Callable[..., float] = getattr(importlib.import_module(self.module), self.function)
        return scorer


ALGORITHMS: tuple[Algorithm, ...] = tuple(Algorithm(*row) for row in _native.algorithms())


def by_router_name() -> dict[str, Callable[..., float]]:
    """The similarities that have a router name, by that name, in registry order."""
    return {algorithm.router_name: algorithm.scorer() for algorithm in ALGORITHMS if algorithm.router_name}
