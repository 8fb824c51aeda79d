# Type information of the extension module vornkit._native. Each concern
# adds its own block of declarations.
from collections.abc import Buffer, Callable, Iterator, Sequence
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
    def __arrow_c_array__(self, requested_schema: object | None = None) -> tuple[object, object]: ...

def abi_version() -> int: ...

# Instruction-set levels: the active one (VORN_ISA lowers it) and those this
# processor runs, lowest first.
isa: str
isa_levels: tuple[str, ...]

def scorer_info(scorer: object, scorer_kwargs: object, /) -> tuple[str, bool]: ...
def algorithms() -> tuple[tuple[str, str, bool, tuple[str, ...], str, str, str, float], ...]: ...

MINHASH_SHINGLE_SIZE: int
MINHASH_NUM_HASHES: int
SIMHASH_SHINGLE_SIZE: int

def apply_processor(strings: Strings, processor: object, workers: int, /) -> Strings: ...
def mark_prepared(strings: Strings, /) -> None: ...
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

# vornkit.distance: every metric has <metric>_distance, _similarity,
# _normalized_distance and _normalized_similarity; the counted metrics give
# ints from the first two. A None string gives the worst normalized score;
# the counted forms raise TypeError for it.

class _CountedForm(Protocol):
    def __call__(
        self,
        s1: str,
        s2: str,
        *,
        processor: _Processor = None,
        score_cutoff: float | None = None,
        score_hint: float | None = None,
    ) -> int: ...

class _NormalizedForm(Protocol):
    def __call__(
        self,
        s1: str | None,
        s2: str | None,
        *,
        processor: _Processor = None,
        score_cutoff: float | None = None,
        score_hint: float | None = None,
    ) -> float: ...

def levenshtein_distance(
    s1: str,
    s2: str,
    *,
    processor: _Processor = None,
    score_cutoff: float | None = None,
    score_hint: float | None = None,
    weights: tuple[int, int, int] | None = None,
) -> int: ...
def levenshtein_similarity(
    s1: str,
    s2: str,
    *,
    processor: _Processor = None,
    score_cutoff: float | None = None,
    score_hint: float | None = None,
    weights: tuple[int, int, int] | None = None,
) -> int: ...
def levenshtein_normalized_distance(
    s1: str | None,
    s2: str | None,
    *,
    processor: _Processor = None,
    score_cutoff: float | None = None,
    score_hint: float | None = None,
    weights: tuple[int, int, int] | None = None,
) -> float: ...
def levenshtein_normalized_similarity(
    s1: str | None,
    s2: str | None,
    *,
    processor: _Processor = None,
    score_cutoff: float | None = None,
    score_hint: float | None = None,
    weights: tuple[int, int, int] | None = None,
) -> float: ...

indel_distance: _CountedForm
indel_similarity: _CountedForm
indel_normalized_distance: _NormalizedForm
indel_normalized_similarity: _NormalizedForm

lcs_seq_distance: _CountedForm
lcs_seq_similarity: _CountedForm
lcs_seq_normalized_distance: _NormalizedForm
lcs_seq_normalized_similarity: _NormalizedForm

osa_distance: _CountedForm
osa_similarity: _CountedForm
osa_normalized_distance: _NormalizedForm
osa_normalized_similarity: _NormalizedForm

damerau_levenshtein_distance: _CountedForm
damerau_levenshtein_similarity: _CountedForm
damerau_levenshtein_normalized_distance: _NormalizedForm
damerau_levenshtein_normalized_similarity: _NormalizedForm

def hamming_distance(
    s1: str,
    s2: str,
    *,
    processor: _Processor = None,
    score_cutoff: float | None = None,
    score_hint: float | None = None,
    pad: bool = True,
) -> int: ...
def hamming_similarity(
    s1: str,
    s2: str,
    *,
    processor: _Processor = None,
    score_cutoff: float | None = None,
    score_hint: float | None = None,
    pad: bool = True,
) -> int: ...
def hamming_normalized_distance(
    s1: str | None,
    s2: str | None,
    *,
    processor: _Processor = None,
    score_cutoff: float | None = None,
    score_hint: float | None = None,
    pad: bool = True,
) -> float: ...
def hamming_normalized_similarity(
    s1: str | None,
    s2: str | None,
    *,
    processor: _Processor = None,
    score_cutoff: float | None = None,
    score_hint: float | None = None,
    pad: bool = True,
) -> float: ...

prefix_distance: _CountedForm
prefix_similarity: _CountedForm
prefix_normalized_distance: _NormalizedForm
prefix_normalized_similarity: _NormalizedForm

postfix_distance: _CountedForm
postfix_similarity: _CountedForm
postfix_normalized_distance: _NormalizedForm
postfix_normalized_similarity: _NormalizedForm

jaro_distance: _NormalizedForm
jaro_similarity: _NormalizedForm
jaro_normalized_distance: _NormalizedForm
jaro_normalized_similarity: _NormalizedForm

def jaro_winkler_distance(
    s1: str | None,
    s2: str | None,
    *,
    processor: _Processor = None,
    score_cutoff: float | None = None,
    score_hint: float | None = None,
    prefix_weight: float = 0.1,
) -> float: ...
def jaro_winkler_similarity(
    s1: str | None,
    s2: str | None,
    *,
    processor: _Processor = None,
    score_cutoff: float | None = None,
    score_hint: float | None = None,
    prefix_weight: float = 0.1,
) -> float: ...
def jaro_winkler_normalized_distance(
    s1: str | None,
    s2: str | None,
    *,
    processor: _Processor = None,
    score_cutoff: float | None = None,
    score_hint: float | None = None,
    prefix_weight: float = 0.1,
) -> float: ...
def jaro_winkler_normalized_similarity(
    s1: str | None,
    s2: str | None,
    *,
    processor: _Processor = None,
    score_cutoff: float | None = None,
    score_hint: float | None = None,
    prefix_weight: float = 0.1,
) -> float: ...

# Levenshtein and Indel edit scripts: ([(tag, src_pos, dest_pos), ...],
# src_len, dest_len), tag "replace", "insert" or "delete".
def levenshtein_editops(
    s1: str, s2: str, *, processor: _Processor = None, score_hint: int | None = None
) -> tuple[list[tuple[str, int, int]], int, int]: ...
def indel_editops(
    s1: str, s2: str, *, processor: _Processor = None, score_hint: int | None = None
) -> tuple[list[tuple[str, int, int]], int, int]: ...

# The same as blocks: ([(tag, src_start, src_end, dest_start, dest_end), ...],
# src_len, dest_len), tag also "equal".
def levenshtein_opcodes(
    s1: str, s2: str, *, processor: _Processor = None, score_hint: int | None = None
) -> tuple[list[tuple[str, int, int, int, int]], int, int]: ...
def indel_opcodes(
    s1: str, s2: str, *, processor: _Processor = None, score_hint: int | None = None
) -> tuple[list[tuple[str, int, int, int, int]], int, int]: ...

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

# Near-duplicate detection (vornkit._dedup): numpy arrays in and out.

def fingerprint_rows(
    simhash: bool,
    strings: Strings,
    begin: int,
    end: int,
    shingle_size: int,
    num_hashes: int,
    workers: object,
    out: Buffer,
    /,
) -> None: ...
def lsh_params(threshold: float, num_hashes: int, fp_weight: float, fn_weight: float, /) -> tuple[int, int]: ...
def lsh_band_keys(signatures: Buffer, num_hashes: int, bands: int, rows: int, out: Buffer, /) -> None: ...
def signature_agreement(a: Buffer, b: Buffer, num_hashes: int, out: Buffer, /) -> None: ...
def connected_components(first: Buffer, second: Buffer, labels: Buffer, /) -> None: ...
def link_identical(signatures: Buffer, num_hashes: int, parent: Buffer, /) -> None: ...
def link_band(
    keys: Buffer,
    bands: int,
    band: int,
    active: Buffer,
    signatures: Buffer,
    num_hashes: int,
    threshold: float,
    parent: Buffer,
    /,
) -> None: ...
def link_simhash(fingerprints: Buffer, threshold: float, parent: Buffer, /) -> None: ...
def component_labels(parent: Buffer, labels: Buffer, /) -> None: ...

# Record linkage (vornkit._comparisons): int64 arrays.

def code_texts(values: object, codes: Buffer, /) -> list[str | None] | None: ...
def number_keys(keys: Buffer, codes: Buffer, first: Buffer, /) -> int: ...
def distinct_pair_codes(codes: Buffer, n_left: int, n_right: int, /) -> int: ...
def co_agreement_counts(
    left: Sequence[Buffer], right: Sequence[Buffer] | None, distinct: Sequence[int], out: Buffer, workers: int, /
) -> None: ...

# Indexes: keys are int64 arrays; results come back as bytearrays of int64
# (distances: uint8) for numpy.frombuffer.

@final
class MinHashIndex:
    def __new__(
        cls, threshold: float, num_hashes: int, bands: int, rows: int, fp_weight: float, fn_weight: float, /
    ) -> MinHashIndex: ...
    def __len__(self) -> int: ...
    def add(self, keys: Buffer, signatures: Buffer, /) -> None: ...
    def remove(self, keys: Buffer, /) -> None: ...
    def contains(self, key: int, /) -> bool: ...
    def query_many(self, signatures: Buffer, /) -> tuple[bytearray, bytearray]: ...
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
    def add(self, keys: Buffer, fingerprints: Buffer, /) -> None: ...
    def remove(self, keys: Buffer, /) -> None: ...
    def contains(self, key: int, /) -> bool: ...
    def query_many(self, fingerprints: Buffer, /) -> tuple[bytearray, bytearray, bytearray]: ...
    def pairs(self) -> tuple[bytearray, bytearray, bytearray]: ...
    def max_distance(self) -> int: ...
    def save(self, path: str | PathLike[str], /) -> None: ...
    @classmethod
    def load(cls, path: str | PathLike[str], /) -> SimHashIndex: ...
