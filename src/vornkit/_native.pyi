# Type information of the extension module vornkit._native. Each concern
# adds its own block of declarations.
from collections.abc import Iterator
from typing import Any, final

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
def threshold_join(
    a: Strings, b: Strings | None, scorer: object, scorer_kwargs: object, score_cutoff: object, workers: int, /
) -> tuple[bytearray, bytearray, bytearray]: ...
