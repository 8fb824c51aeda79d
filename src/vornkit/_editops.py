"""Edit scripts of ``distance.Levenshtein`` and ``distance.Indel``, equal to RapidFuzz's.

``Editops`` is a list of ``Editop(tag, src_pos, dest_pos)``, one per edited character:
``"replace"`` puts ``s2[dest_pos]`` in place of ``s1[src_pos]``, ``"insert"`` puts
``s2[dest_pos]`` before ``s1[src_pos]``, ``"delete"`` drops ``s1[src_pos]``. ``Opcodes``
covers both strings with ``Opcode(tag, src_start, src_end, dest_start, dest_end)`` blocks,
``"equal"`` ones included, like ``difflib.SequenceMatcher.get_opcodes``. Both are sequences
of named tuples (equal to plain tuples) with ``src_len`` and ``dest_len``, ``as_list()``,
``apply(s1, s2)``, ``inverse()``, ``as_matching_blocks()`` and conversions to each other.
"""

from collections.abc import Iterable, Iterator
from typing import Any, NamedTuple, Self, overload


class Editop(NamedTuple):
    """One single-character edit of an ``Editops`` script.

    Attributes
    ----------
    tag : {"replace", "insert", "delete"}
        ``"replace"`` puts ``s2[dest_pos]`` in place of ``s1[src_pos]``,
        ``"insert"`` puts ``s2[dest_pos]`` before ``s1[src_pos]``, ``"delete"``
        drops ``s1[src_pos]``.
    src_pos, dest_pos : int
        The positions in s1 and s2.

    Examples
    --------
    >>> from vornkit.distance import Editop
    >>> Editop("replace", 0, 0) == ("replace", 0, 0)
    True
    """

    tag: str
    src_pos: int
    dest_pos: int


class Opcode(NamedTuple):
    """One block of an ``Opcodes`` script: ``s1[src_start:src_end]`` against ``s2[dest_start:dest_end]``.

    Attributes
    ----------
    tag : {"equal", "replace", "insert", "delete"}
        What the block does, as in ``difflib.SequenceMatcher.get_opcodes``.
    src_start, src_end : int
        The block's range in s1.
    dest_start, dest_end : int
        The block's range in s2.

    Examples
    --------
    >>> from vornkit.distance import Opcode
    >>> Opcode("insert", 6, 6, 6, 7).dest_end
    7
    """

    tag: str
    src_start: int
    src_end: int
    dest_start: int
    dest_end: int


class MatchingBlock(NamedTuple):
    """A run of ``size`` equal characters: ``s1[a:a + size] == s2[b:b + size]``.

    Attributes
    ----------
    a, b : int
        Where the run starts in s1 and in s2.
    size : int
        Its length; the last block of a list is ``(len(s1), len(s2), 0)``.

    Examples
    --------
    >>> from vornkit.distance import MatchingBlock
    >>> MatchingBlock(1, 1, 3).size
    3
    """

    a: int
    b: int
    size: int


_INVERSE_TAG = {"insert": "delete", "delete": "insert", "replace": "replace", "equal": "equal"}


class _Script[Item: (Editop, Opcode)]:
    """A read-only sequence of edits over strings of src_len and dest_len characters.

    The edits are kept as plain tuples and made named tuples when read.
    """

    __slots__ = ("_items", "_src_len", "_dest_len")
    _item: type[Item]

    def __init__(self, items: Iterable[Iterable[Any]] | None = None, src_len: int = 0, dest_len: int = 0) -> None:
        self._items: list[tuple[Any, ...]] = [tuple(self._item._make(item)) for item in items or ()]
        self._src_len = src_len
        self._dest_len = dest_len
        if not self._valid():
            raise ValueError(
                f"{type(self).__name__}: the edits do not fit strings of {src_len} and {dest_len} characters"
            )

    def _valid(self) -> bool:
        raise NotImplementedError

    @classmethod
    def _wrap(cls, items: list[Any], src_len: int, dest_len: int) -> Self:
        script = cls.__new__(cls)
        script._items, script._src_len, script._dest_len = items, src_len, dest_len
        return script

    @property
    def src_len(self) -> int:
        """The length of s1, in characters."""
        return self._src_len

    @property
    def dest_len(self) -> int:
        """The length of s2, in characters."""
        return self._dest_len

    def __len__(self) -> int:
        return len(self._items)

    def __iter__(self) -> Iterator[Item]:
        return map(self._item._make, self._items)

    @overload
    def __getitem__(self, index: int) -> Item: ...
    @overload
    def __getitem__(self, index: slice) -> Self: ...
    def __getitem__(self, index: int | slice) -> Item | Self:
        if isinstance(index, slice):
            return self._wrap(self._items[index], self._src_len, self._dest_len)
        return self._item._make(self._items[index])

    def __eq__(self, other: object) -> bool:
        if type(other) is not type(self):
            return NotImplemented
        return (self._items, self._src_len, self._dest_len) == (other._items, other._src_len, other._dest_len)

    __hash__ = None  # type: ignore[assignment]

    def __repr__(self) -> str:
        return f"{type(self).__name__}({self.as_list()!r}, src_len={self._src_len}, dest_len={self._dest_len})"

    def as_list(self) -> list[tuple[Any, ...]]:
        """The edits as plain tuples.

        Returns
        -------
        list of tuple
            One tuple per edit or block.

        Examples
        --------
        >>> from vornkit.distance import Levenshtein
        >>> ops = Levenshtein.editops("kitten", "sitting")
        >>> ops.as_list()
        [('replace', 0, 0), ('replace', 4, 4), ('insert', 6, 6)]
        """
        return list(self._items)

    def copy(self) -> Self:
        """A copy of the script.

        Returns
        -------
        Editops or Opcodes
            An equal script of the same type.

        Examples
        --------
        >>> from vornkit.distance import Levenshtein
        >>> ops = Levenshtein.editops("kitten", "sitting")
        >>> ops.copy() == ops
        True
        """
        return self._wrap(list(self._items), self._src_len, self._dest_len)


class Editops(_Script[Editop]):
    """Single-character edits turning s1 into s2, in increasing positions.

    A read-only sequence of ``Editop`` named tuples over strings of
    ``src_len`` and ``dest_len`` characters; ``Levenshtein.editops`` and
    ``Indel.editops`` make it.

    Parameters
    ----------
    items : iterable of (str, int, int), optional
        The edits, in increasing positions.
    src_len, dest_len : int, default 0
        The lengths of s1 and s2.

    Raises
    ------
    ValueError
        Edits that do not fit strings of those lengths.

    Examples
    --------
    >>> from vornkit.distance import Levenshtein
    >>> ops = Levenshtein.editops("kitten", "sitting")
    >>> ops
    Editops([('replace', 0, 0), ('replace', 4, 4), ('insert', 6, 6)], src_len=6, dest_len=7)
    >>> ops[0]
    Editop(tag='replace', src_pos=0, dest_pos=0)
    >>> ops.apply("kitten", "sitting")
    'sitting'
    """

    __slots__ = ()
    _item = Editop

    def _valid(self) -> bool:
        """In increasing positions, each inside the strings (the conversions rely on it)."""
        src = dest = 0
        for tag, src_pos, dest_pos in self._items:
            if tag not in ("replace", "insert", "delete") or src_pos < src or dest_pos < dest:
                return False
            src, dest = src_pos + (tag != "insert"), dest_pos + (tag != "delete")
            if src > self._src_len or dest > self._dest_len:
                return False
        return True

    def inverse(self) -> "Editops":
        """The edits turning s2 into s1.

        Returns
        -------
        Editops
            Inserts become deletes and the other way round.

        Examples
        --------
        >>> from vornkit.distance import Levenshtein
        >>> ops = Levenshtein.editops("kitten", "sitting")
        >>> ops.inverse().as_list()
        [('replace', 0, 0), ('replace', 4, 4), ('delete', 6, 6)]
        """
        items = [(_INVERSE_TAG[tag], dest, src) for tag, src, dest in self._items]
        return Editops._wrap(items, self._dest_len, self._src_len)

    def as_editops(self) -> "Editops":
        """A copy of these edits.

        Returns
        -------
        Editops
            An equal script.

        Examples
        --------
        >>> from vornkit.distance import Levenshtein
        >>> ops = Levenshtein.editops("kitten", "sitting")
        >>> ops.as_editops() == ops
        True
        """
        return self.copy()

    def as_opcodes(self) -> "Opcodes":
        """The same edits as blocks covering both strings.

        Runs of equal edits become one block; the characters between them
        "equal" blocks.

        Returns
        -------
        Opcodes
            The blocks.

        Examples
        --------
        >>> from vornkit.distance import Levenshtein
        >>> ops = Levenshtein.editops("kitten", "sitting")
        >>> for block in ops.as_opcodes():
        ...     print(block)
        Opcode(tag='replace', src_start=0, src_end=1, dest_start=0, dest_end=1)
        Opcode(tag='equal', src_start=1, src_end=4, dest_start=1, dest_end=4)
        Opcode(tag='replace', src_start=4, src_end=5, dest_start=4, dest_end=5)
        Opcode(tag='equal', src_start=5, src_end=6, dest_start=5, dest_end=6)
        Opcode(tag='insert', src_start=6, src_end=6, dest_start=6, dest_end=7)
        """
        blocks: list[tuple[str, int, int, int, int]] = []
        src = dest = 0
        ops = self._items
        i = 0
        while i < len(ops):
            tag, src_pos, dest_pos = ops[i]
            if src < src_pos or dest < dest_pos:
                blocks.append(("equal", src, src_pos, dest, dest_pos))
                src, dest = src_pos, dest_pos
            src_begin, dest_begin = src, dest
            while i < len(ops) and ops[i] == (tag, src, dest):
                src += tag != "insert"
                dest += tag != "delete"
                i += 1
            blocks.append((tag, src_begin, src, dest_begin, dest))
        if src < self._src_len or dest < self._dest_len:
            blocks.append(("equal", src, self._src_len, dest, self._dest_len))
        return Opcodes._wrap(blocks, self._src_len, self._dest_len)

    def as_matching_blocks(self) -> list[MatchingBlock]:
        """The runs of characters the edits keep.

        Returns
        -------
        list of MatchingBlock
            Ending with ``(src_len, dest_len, 0)``.

        Examples
        --------
        >>> from vornkit.distance import Levenshtein
        >>> ops = Levenshtein.editops("kitten", "sitting")
        >>> ops.as_matching_blocks()
        [MatchingBlock(a=1, b=1, size=3), MatchingBlock(a=5, b=5, size=1), MatchingBlock(a=6, b=7, size=0)]
        """
        blocks = []
        src = dest = 0
        for tag, src_pos, dest_pos in self._items:
            if src < src_pos or dest < dest_pos:
                size = min(src_pos - src, dest_pos - dest)
                if size > 0:
                    blocks.append(MatchingBlock(src, dest, size))
                src, dest = src_pos, dest_pos
            src += tag != "insert"
            dest += tag != "delete"
        size = min(self._src_len - src, self._dest_len - dest)
        if size > 0:
            blocks.append(MatchingBlock(src, dest, size))
        blocks.append(MatchingBlock(self._src_len, self._dest_len, 0))
        return blocks

    def apply(self, source_string: str, destination_string: str) -> str:
        """``source_string`` with the edits made.

        Parameters
        ----------
        source_string : str
            s1.
        destination_string : str
            s2, where inserted and replacing characters are taken from.

        Returns
        -------
        str
            The edited text: s2 when the edits were made for these strings.

        Examples
        --------
        >>> from vornkit.distance import Levenshtein
        >>> ops = Levenshtein.editops("kitten", "sitting")
        >>> ops.apply("kitten", "sitting")
        'sitting'
        >>> ops[:1].apply("kitten", "sitting")    # the first edit only
        'sitten'
        """
        parts = []
        src = 0
        for tag, src_pos, dest_pos in self._items:
            parts.append(source_string[src:src_pos])
            src = src_pos
            if tag != "delete":
                parts.append(destination_string[dest_pos])
            if tag != "insert":
                src += 1
        parts.append(source_string[src:])
        return "".join(parts)


class Opcodes(_Script[Opcode]):
    """Blocks covering both strings: equal, replace, insert or delete.

    A read-only sequence of ``Opcode`` named tuples over strings of
    ``src_len`` and ``dest_len`` characters, like
    ``difflib.SequenceMatcher.get_opcodes``; ``Levenshtein.opcodes`` and
    ``Indel.opcodes`` make it.

    Parameters
    ----------
    items : iterable of (str, int, int, int, int), optional
        Consecutive blocks covering both strings.
    src_len, dest_len : int, default 0
        The lengths of s1 and s2.

    Raises
    ------
    ValueError
        Blocks that do not cover strings of those lengths.

    Examples
    --------
    >>> from vornkit.distance import Levenshtein
    >>> blocks = Levenshtein.opcodes("kitten", "sitting")
    >>> blocks[1]
    Opcode(tag='equal', src_start=1, src_end=4, dest_start=1, dest_end=4)
    >>> len(blocks), blocks.src_len, blocks.dest_len
    (5, 6, 7)
    """

    __slots__ = ()
    _item = Opcode

    def _valid(self) -> bool:
        """Consecutive blocks covering both strings."""
        src = dest = 0
        for tag, src_start, src_end, dest_start, dest_end in self._items:
            if (src_start, dest_start) != (src, dest) or src_end < src_start or dest_end < dest_start:
                return False
            same_length = src_end - src_start == dest_end - dest_start
            if not {
                "equal": same_length,
                "replace": same_length,
                "insert": src_end == src_start,
                "delete": dest_end == dest_start,
            }.get(tag, False):
                return False
            src, dest = src_end, dest_end
        return (src, dest) == (self._src_len, self._dest_len)

    def inverse(self) -> "Opcodes":
        """The blocks turning s2 into s1.

        Returns
        -------
        Opcodes
            Inserts become deletes and the other way round.

        Examples
        --------
        >>> from vornkit.distance import Levenshtein
        >>> blocks = Levenshtein.opcodes("kitten", "sitting")
        >>> blocks.inverse()[-1]
        Opcode(tag='delete', src_start=6, src_end=7, dest_start=6, dest_end=6)
        """
        items = [(_INVERSE_TAG[tag], d1, d2, s1, s2) for tag, s1, s2, d1, d2 in self._items]
        return Opcodes._wrap(items, self._dest_len, self._src_len)

    def as_opcodes(self) -> "Opcodes":
        """A copy of these blocks.

        Returns
        -------
        Opcodes
            An equal script.

        Examples
        --------
        >>> from vornkit.distance import Levenshtein
        >>> blocks = Levenshtein.opcodes("kitten", "sitting")
        >>> blocks.as_opcodes() == blocks
        True
        """
        return self.copy()

    def as_editops(self) -> Editops:
        """The same edits, one per edited character.

        Returns
        -------
        Editops
            The edits.

        Examples
        --------
        >>> from vornkit.distance import Levenshtein
        >>> blocks = Levenshtein.opcodes("kitten", "sitting")
        >>> blocks.as_editops().as_list()
        [('replace', 0, 0), ('replace', 4, 4), ('insert', 6, 6)]
        """
        items: list[tuple[str, int, int]] = []
        for tag, src_start, src_end, dest_start, dest_end in self._items:
            if tag == "replace":
                items += ((tag, src_start + k, dest_start + k) for k in range(src_end - src_start))
            elif tag == "insert":
                items += ((tag, src_start, dest_start + k) for k in range(dest_end - dest_start))
            elif tag == "delete":
                items += ((tag, src_start + k, dest_start) for k in range(src_end - src_start))
        return Editops._wrap(items, self._src_len, self._dest_len)

    def as_matching_blocks(self) -> list[MatchingBlock]:
        """The "equal" blocks as matching blocks.

        Returns
        -------
        list of MatchingBlock
            Ending with ``(src_len, dest_len, 0)``.

        Examples
        --------
        >>> from vornkit.distance import Levenshtein
        >>> blocks = Levenshtein.opcodes("kitten", "sitting")
        >>> blocks.as_matching_blocks()[0]
        MatchingBlock(a=1, b=1, size=3)
        """
        blocks = [
            MatchingBlock(src_start, dest_start, src_end - src_start)
            for tag, src_start, src_end, dest_start, _ in self._items
            if tag == "equal" and src_end > src_start
        ]
        blocks.append(MatchingBlock(self._src_len, self._dest_len, 0))
        return blocks

    def apply(self, source_string: str, destination_string: str) -> str:
        """``source_string`` with the blocks applied.

        Parameters
        ----------
        source_string : str
            s1.
        destination_string : str
            s2, where new characters are taken from.

        Returns
        -------
        str
            The edited text: s2 when the blocks were made for these strings.

        Examples
        --------
        >>> from vornkit.distance import Levenshtein
        >>> blocks = Levenshtein.opcodes("kitten", "sitting")
        >>> blocks.apply("kitten", "sitting")
        'sitting'
        """
        parts = []
        for tag, src_start, src_end, dest_start, dest_end in self._items:
            if tag == "equal":
                parts.append(source_string[src_start:src_end])
            elif tag != "delete":
                parts.append(destination_string[dest_start:dest_end])
        return "".join(parts)
