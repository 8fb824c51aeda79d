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


def _other_forms() -> dict[str, Algorithm]:
    """RapidFuzz's remaining forms of the edit metrics (``similarity``, a
    whole number, and ``normalized_distance``) and of Jaro's (``distance``,
    ``normalized_distance``). The registry does not list them: the
    collection functions score them from a form it lists."""
    forms: dict[str, Algorithm] = {}
    for algorithm in ALGORITHMS:
        metric, _, form = algorithm.name.partition(".")
        if form == "distance" and metric not in ("Jaro", "JaroWinkler"):
            stem, others = (
                algorithm.function.removesuffix("distance"),
                (("similarity", False), ("normalized_distance", True)),
            )
        elif form == "similarity" and metric in ("Jaro", "JaroWinkler"):
            stem, others = (
                algorithm.function.removesuffix("similarity"),
                (("distance", True), ("normalized_distance", True)),
            )
        else:
            continue
        for other, is_distance in others:
            name = f"{metric}.{other}"
            forms[name] = algorithm._replace(function=stem + other, is_distance=is_distance, name=name)
    return forms


# Names a search (the command line's ``--scorer``) takes besides NAMED; record
# linkage takes only NAMED, whose similarities all score in a known range.
OTHER_FORMS: dict[str, Algorithm] = _other_forms()


def named(name: str, *, other_forms: bool = False) -> Algorithm:
    """The algorithm a scorer name stands for; ValueError naming the choices for any other name."""
    choices = NAMED | OTHER_FORMS if other_forms else NAMED
    try:
        return choices[name]
    except (KeyError, TypeError):
        raise ValueError(f"unknown scorer {name!r} (choose from {', '.join(choices)})") from None


def is_whole_number(algorithm: Algorithm) -> bool:
    """Whether the scorer counts edits (a distance, or an edit metric's
    similarity) rather than returning a float."""
    metric, _, form = algorithm.name.partition(".")
    if not form:  # vorn's own: its distances count edits
        return algorithm.is_distance
    return form in ("distance", "similarity") and metric not in ("Jaro", "JaroWinkler")
