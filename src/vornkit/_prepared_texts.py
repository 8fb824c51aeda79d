"""Texts read once for many searches: the objects vornkit.prepare returns."""

from __future__ import annotations

import operator
from collections.abc import Callable
from typing import Any

import vorn

from vornkit import _native


class PreparedTexts:
    """Texts read (and processed) once, for searching them many times.

    Made by :func:`vornkit.prepare`; accepted wherever vornkit accepts texts.
    ``len()`` counts the texts and indexing returns the original elements
    (before the processor), as ``extract`` reports them. Searches keep
    per-text data (character counts grouped by length) with the object the
    first time they need it, so later searches skip more of the work.
    Not picklable: pickle the original texts and prepare them again.

    Parameters
    ----------
    strings : vornkit._native.Strings
        The converted texts; made by :func:`vornkit.prepare`, not by hand.
    processor : vorn.Preprocessor or callable or None
        The processor already applied to them.

    Examples
    --------
    >>> import vorn, vornkit
    >>> names = vornkit.prepare(["Kitten", "Sitting", None], processor=vorn.Preprocessor())
    >>> len(names), names[0], names.null_count
    (3, 'Kitten', 1)
    >>> vornkit.extract_one("KITTEN", names, scorer=vorn.levenshtein_similarity)
    ('Kitten', 1.0, 0)
    """

    __slots__ = ("_strings", "_processor")

    def __init__(self, strings: _native.Strings, processor: vorn.Preprocessor | Callable[[str], str] | None) -> None:
        self._strings = strings
        self._processor = processor

    @property
    def processor(self) -> vorn.Preprocessor | Callable[[str], str] | None:
        """The processor the texts were prepared with (None for none)."""
        return self._processor

    @property
    def null_count(self) -> int:
        """Number of nulls among the texts."""
        return self._strings.null_count

    def __len__(self) -> int:
        return len(self._strings)

    def __getitem__(self, index: int) -> Any:
        position = operator.index(index)
        if position < 0:
            position += len(self._strings)
        if not 0 <= position < len(self._strings):
            raise IndexError("PreparedTexts index out of range")
        return self._strings[position]

    def __repr__(self) -> str:
        return f"<PreparedTexts of {len(self)} texts, processor={self._processor!r}>"

    def __reduce__(self) -> Any:
        raise TypeError("PreparedTexts cannot be pickled; pickle the original texts and prepare them again")
