# Type information of the extension module vornkit._native. Each concern
# adds its own block of declarations.
from collections.abc import Callable, Iterator
from typing import Any, Protocol, final

# Collections: strings read once, scorer and processor conversion, drivers.

@final
class Strings:
    def __new__(cls, texts: object, name: str = "texts") -> Strings: ...
    def __len__(self) -> int: ...
    def __getitem__(self, index: int) -> Any: ...
    def __iter__(self) -> Iterator[Any]: ...
    @property
    def null_count(self) -> int: ...

def abi_version() -> int: ...

# Instruction-set levels: the active one (VORN_ISA lowers it) and those this
# processor runs, lowest first.
isa: str
isa_levels: tuple[str, ...]

def scorer_info(scorer: object, scorer_kwargs: object, /) -> tuple[str, bool]: ...
def apply_processor(strings: Strings, processor: object, workers: int, /) -> Strings: ...
def processor_state(processor: object, /) -> tuple[bool, bool, bool, bool, bool, list[str], int]: ...
def cdist(
    a: Strings, b: Strings, scorer: object, scorer_kwargs: object, score_cutoff: object, out: object, workers: int, /
) -> None: ...
def cpdist(
    a: Strings, b: Strings, scorer: object, scorer_kwargs: object, score_cutoff: object, out: object, workers: int, /
) -> None: ...
def topk(
    a: Strings,
    b: Strings,
    scorer: object,
    scorer_kwargs: object,
    score_cutoff: object,
    k: int,
    indices: object,
    scores: object,
    workers: int,
    /,
) -> None: ...
def score_pairs(
    a: Strings, b: Strings, i: object, j: object, scorer: object, scorer_kwargs: object, out: object, workers: int, /
) -> None: ...
def threshold_join(
    a: Strings, b: Strings | None, scorer: object, scorer_kwargs: object, score_cutoff: object, workers: int, /
) -> tuple[bytearray, bytearray, bytearray]: ...

# RapidFuzz's pair scorers (vornkit.fuzz, vornkit.distance).

_Processor = Callable[[str], str] | object | None

class _PairScorer(Protocol):
    def __call__(
        self,
        s1: str | None,
        s2: str | None,
        *,
        processor: _Processor = None,
        score_cutoff: float | None = None,
        score_hint: float | None = None,
    ) -> float: ...

ratio: _PairScorer
partial_ratio: _PairScorer
token_sort_ratio: _PairScorer
token_set_ratio: _PairScorer
token_ratio: _PairScorer
partial_token_sort_ratio: _PairScorer
partial_token_set_ratio: _PairScorer
partial_token_ratio: _PairScorer
WRatio: _PairScorer
QRatio: _PairScorer

def partial_ratio_alignment(
    s1: str | None,
    s2: str | None,
    *,
    processor: _Processor = None,
    score_cutoff: float | None = None,
    score_hint: float | None = None,
) -> tuple[float, int, int, int, int] | None: ...

# Every metric has the four functions <metric>_distance, _similarity,
# _normalized_distance and _normalized_similarity; int results for the counted
# metrics' distance and similarity, float otherwise.
def __getattr__(name: str) -> Callable[..., Any]: ...

# The edit-distance index.

@final
class EditIndex:
    def __new__(cls, choices: Strings, /) -> EditIndex: ...
    def __len__(self) -> int: ...
    def query_many(
        self, queries: Strings, max_distance: int, workers: int, by_scan: bool, /
    ) -> tuple[bytearray, bytearray, bytearray]: ...
    def query_similar_many(
        self, queries: Strings, cutoff: float, workers: int, /
    ) -> tuple[bytearray, bytearray, bytearray]: ...
    def memory_bytes(self) -> int: ...
    def save(self, path: object, /) -> None: ...
    @classmethod
    def load(cls, path: object, /) -> EditIndex: ...
