"""Progress bars on stderr, for ``dedup(progress=True)`` and the command line.

tqdm draws the bar when it is installed; otherwise a plain line is rewritten
in place. A disabled progress costs nothing but the calls.
"""

from __future__ import annotations

import importlib
import sys
from collections.abc import Callable, Iterator
from contextlib import contextmanager
from typing import Any

Advance = Callable[[float], None]


def _no_progress(amount: float) -> None:
    pass


def _tqdm() -> Any:
    try:
        return importlib.import_module("tqdm.auto").tqdm
    except ImportError:
        return None


class Progress:
    """Hands out bars when enabled, silent ones when not."""

    def __init__(self, enabled: bool) -> None:
        self.enabled = enabled

    @classmethod
    def on_terminal(cls, quiet: bool) -> Progress:
        """Enabled unless quiet, and only when stderr is a terminal."""
        return cls(not quiet and sys.stderr.isatty())

    @contextmanager
    def bar(self, total: float, description: str, unit: str = "it") -> Iterator[Advance]:
        """A bar over ``total`` units; the context yields the function that advances it."""
        if not self.enabled:
            yield _no_progress
            return
        tqdm = _tqdm()
        if tqdm is None:
            with _plain_line(total, description) as advance:
                yield advance
            return
        with tqdm(total=total, unit=unit, desc=description, file=sys.stderr, leave=False) as bar:
            yield bar.update

    @contextmanager
    def fraction_bar(self, description: str) -> Iterator[Advance]:
        """A bar fed with fractions of the work done."""
        if not self.enabled:
            yield _no_progress
            return
        tqdm = _tqdm()
        if tqdm is None:
            with _plain_line(1.0, description) as advance:
                yield advance
            return
        layout = "{desc}: {percentage:3.0f}%|{bar}| [{elapsed}<{remaining}]"
        with tqdm(total=1.0, desc=description, file=sys.stderr, leave=False, bar_format=layout) as bar:
            yield bar.update


@contextmanager
def _plain_line(total: float, description: str) -> Iterator[Advance]:
    done = 0.0

    def show() -> None:
        percent = int(100 * done // total) if total else 100
        sys.stderr.write(f"\r{description}: {percent:3d}%")
        sys.stderr.flush()

    def advance(amount: float) -> None:
        nonlocal done
        done += amount
        show()

    show()
    try:
        yield advance
    finally:
        sys.stderr.write("\n")
