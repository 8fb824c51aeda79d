"""Helpers for the RapidFuzz-compatible scorers."""

# Characters that Python's str.isalnum() accepts but RapidFuzz's default_process
# replaces (its character table predates them), as inclusive code point ranges,
# found by comparing the two over every code point.
_NOT_ALNUM_RANGES = (
    (0x870, 0x887), (0x889, 0x88E), (0x8B5, 0x8B5), (0x8C8, 0x8C9), (0xC5D, 0xC5D), (0xCDD, 0xCDD),
    (0x170D, 0x170D), (0x171F, 0x171F), (0x1B4C, 0x1B4C), (0x2C2F, 0x2C2F), (0x2C5F, 0x2C5F),
    (0x9FFD, 0x9FFF), (0xA7C0, 0xA7C1), (0xA7D0, 0xA7D1), (0xA7D3, 0xA7D3), (0xA7D5, 0xA7D9),
    (0xA7F2, 0xA7F4), (0x10570, 0x1057A), (0x1057C, 0x1058A), (0x1058C, 0x10592), (0x10594, 0x10595),
    (0x10597, 0x105A1), (0x105A3, 0x105B1), (0x105B3, 0x105B9), (0x105BB, 0x105BC), (0x10780, 0x10785),
    (0x10787, 0x107B0), (0x107B2, 0x107BA), (0x10F70, 0x10F81), (0x11071, 0x11072), (0x11075, 0x11075),
    (0x11740, 0x11746), (0x11AB0, 0x11ABF), (0x12F90, 0x12FF0), (0x16A70, 0x16ABE), (0x16AC0, 0x16AC9),
    (0x1AFF0, 0x1AFF3), (0x1AFF5, 0x1AFFB), (0x1AFFD, 0x1AFFE), (0x1B11F, 0x1B122), (0x1DF00, 0x1DF1E),
    (0x1E290, 0x1E2AD), (0x1E7E0, 0x1E7E6), (0x1E7E8, 0x1E7EB), (0x1E7ED, 0x1E7EE), (0x1E7F0, 0x1E7FE),
    (0x2A6DE, 0x2A6DF), (0x2B735, 0x2B738),
    # Letters and digits of Unicode 15.0 and 15.1 (Python 3.12 and 3.13).
    (0x1123F, 0x11240), (0x11F02, 0x11F02), (0x11F04, 0x11F10), (0x11F12, 0x11F33), (0x11F50, 0x11F59),
    (0x1342F, 0x1342F), (0x13441, 0x13446), (0x1B132, 0x1B132), (0x1B155, 0x1B155), (0x1D2C0, 0x1D2D3),
    (0x1DF25, 0x1DF2A), (0x1E030, 0x1E06D), (0x1E4D0, 0x1E4EB), (0x1E4F0, 0x1E4F9), (0x2B739, 0x2B739),
    (0x2EBF0, 0x2EE5D), (0x31350, 0x323AF),
)  # fmt: skip


def _replacement(code_point: int) -> str:
    char = chr(code_point)
    if not char.isalnum() or any(low <= code_point <= high for low, high in _NOT_ALNUM_RANGES):
        return " "
    # Simple (one-character) lowercase: U+0130 is the one letter whose full lowercase has two.
    return "i" if code_point == 0x130 else char.lower()


class _Replacements(dict[int, str]):
    """str.translate table filled on first use of each character."""

    def __missing__(self, code_point: int) -> str:
        value = self[code_point] = _replacement(code_point)
        return value


_REPLACEMENTS = _Replacements()


def default_process(sentence: str) -> str:
    """RapidFuzz's ``default_process``.

    Every character that is not a letter or digit becomes a space, letters
    are lowercased, and spaces are trimmed from both ends (runs inside are
    kept).

    Parameters
    ----------
    sentence : str
        The text.

    Returns
    -------
    str
        The processed text.

    Examples
    --------
    >>> from vornkit import utils
    >>> utils.default_process("  Hello, World! ")
    'hello  world'
    """
    return sentence.translate(_REPLACEMENTS).strip(" ")


__all__ = ["default_process"]
