# Type information of the extension module vornkit._native. Each concern
# adds its own block of declarations.
from collections.abc import Callable, Iterator
from os import PathLike
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
def algorithms() -> tuple[tuple[str, str, bool, tuple[str, ...], str], ...]: ...

MINHASH_SHINGLE_SIZE: int
MINHASH_NUM_HASHES: int
SIMHASH_SHINGLE_SIZE: int

def apply_processor(strings: Strings, processor: object, workers: int, /) -> Strings: ...
def processor_state(processor: object, /) -> tuple[bool, bool, bool, bool, bool, tuple[str, ...], int]: ...
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
    limit: int,
    indices: object,
    scores: object,
    workers: int,
    /,
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

# Near-duplicates: batch fingerprints, LSH arithmetic, linking and components.
# Arrays are C-contiguous NumPy arrays of the documented element types.

def fingerprint_rows(
    simhash: bool,
    strings: Strings,
    begin: int,
    end: int,
    shingle_size: int,
    num_hashes: int,
    workers: int,
    out: object,
    /,
) -> None: ...
def lsh_params(threshold: float, num_hashes: int, fp_weight: float, fn_weight: float, /) -> tuple[int, int]: ...
def lsh_band_keys(signatures: object, num_hashes: int, bands: int, rows: int, out: object, /) -> None: ...
def signature_agreement(a: object, b: object, num_hashes: int, out: object, /) -> None: ...
def connected_components(first: object, second: object, labels: object, /) -> None: ...
def link_identical(signatures: object, num_hashes: int, parent: object, /) -> None: ...
def link_band(
    keys: object,
    bands: int,
    band: int,
    active: object,
    signatures: object,
    num_hashes: int,
    threshold: float,
    parent: object,
    /,
) -> None: ...
def link_simhash(fingerprints: object, threshold: float, parent: object, /) -> None: ...
def component_labels(parent: object, labels: object, /) -> None: ...

@final
class MinHashIndex:
    def __new__(
        cls, threshold: float, num_hashes: int, bands: int, rows: int, fp_weight: float, fn_weight: float, /
    ) -> MinHashIndex: ...
    def __len__(self) -> int: ...
    def add(self, keys: object, signatures: object, /) -> None: ...
    def remove(self, keys: object, /) -> None: ...
    def contains(self, key: int, /) -> bool: ...
    def query_many(self, signatures: object, /) -> tuple[bytearray, bytearray]: ...
    def candidate_pairs(self) -> tuple[bytearray, bytearray]: ...
    def settings(self) -> tuple[float, int, int, int, float, float]: ...
    def keys(self) -> bytearray: ...
    def save(self, path: str | PathLike[str], /) -> None: ...
    @classmethod
    def load(cls, path: str | PathLike[str], /) -> MinHashIndex: ...

@final
class SimHashIndex:
    def __new__(cls, max_distance: int, /) -> SimHashIndex: ...
    def __len__(self) -> int: ...
    def add(self, keys: object, fingerprints: object, /) -> None: ...
    def remove(self, keys: object, /) -> None: ...
    def contains(self, key: int, /) -> bool: ...
    def query_many(self, fingerprints: object, /) -> tuple[bytearray, bytearray, bytearray]: ...
    def pairs(self) -> tuple[bytearray, bytearray, bytearray]: ...
    def max_distance(self) -> int: ...
    def save(self, path: str | PathLike[str], /) -> None: ...
    @classmethod
    def load(cls, path: str | PathLike[str], /) -> SimHashIndex: ...
