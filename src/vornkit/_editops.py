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
    tag: str
    src_pos: int
    dest_pos: int


class Opcode(NamedTuple):
    tag: str
    src_start: int
    src_end: int
    dest_start: int
    dest_end: int


class MatchingBlock(NamedTuple):
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
        return self._src_len

    @property
    def dest_len(self) -> int:
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
        """The edits as plain tuples."""
        return list(self._items)

    def copy(self) -> Self:
        return self._wrap(list(self._items), self._src_len, self._dest_len)


class Editops(_Script[Editop]):
    """Single-character edits turning s1 into s2, in increasing positions."""

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
        """The edits turning s2 into s1."""
        items = [(_INVERSE_TAG[tag], dest, src) for tag, src, dest in self._items]
        return Editops._wrap(items, self._dest_len, self._src_len)

    def as_editops(self) -> "Editops":
        return self.copy()

    def as_opcodes(self) -> "Opcodes":
        """Runs of equal edits become one block; the characters between them "equal" blocks."""
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
        """The runs of characters the edits keep, ending with (src_len, dest_len, 0)."""
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
        """source_string with the edits made, taking inserted characters from destination_string."""
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
    """Blocks covering both strings: equal, replace, insert or delete."""

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
        """The blocks turning s2 into s1."""
        items = [(_INVERSE_TAG[tag], d1, d2, s1, s2) for tag, s1, s2, d1, d2 in self._items]
        return Opcodes._wrap(items, self._dest_len, self._src_len)

    def as_opcodes(self) -> "Opcodes":
        return self.copy()

    def as_editops(self) -> Editops:
        """One edit per edited character."""
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
        """The "equal" blocks, ending with (src_len, dest_len, 0)."""
        blocks = [
            MatchingBlock(src_start, dest_start, src_end - src_start)
            for tag, src_start, src_end, dest_start, _ in self._items
            if tag == "equal" and src_end > src_start
        ]
        blocks.append(MatchingBlock(self._src_len, self._dest_len, 0))
        return blocks

    def apply(self, source_string: str, destination_string: str) -> str:
        """source_string with the blocks applied, taking new characters from destination_string."""
        parts = []
        for tag, src_start, src_end, dest_start, dest_end in self._items:
            if tag == "equal":
                parts.append(source_string[src_start:src_end])
            elif tag != "delete":
                parts.append(destination_string[dest_start:dest_end])
        return "".join(parts)
