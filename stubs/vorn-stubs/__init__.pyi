"""Fast, exact text similarity: twenty pairwise functions and two classes.

Every function takes its arguments by position or by keyword, all of them
required, computes on the texts exactly as passed and returns a plain
``int``, ``float``, ``str``, ``list`` or ``dict``; both classes are immutable.
Characters are Unicode scalar values. These docstrings are what IDEs show on
hover and what the API reference prints; the extension's own ``__doc__``
strings hold only the text signatures.
"""

from collections.abc import Sequence
from typing import TypedDict

from typing_extensions import disjoint_base

__all__ = [
    "levenshtein_distance",
    "levenshtein_similarity",
    "jaro_winkler_similarity",
    "hamming_similarity",
    "hamming_distance",
    "jaccard_similarity",
    "jaccard_bigram_similarity",
    "jaccard_trigram_similarity",
    "jaccard_word_similarity",
    "minhash_signature",
    "minhash_similarity",
    "minhash_similarity_default",
    "simhash_fingerprint",
    "simhash_fingerprint_default",
    "simhash_similarity",
    "simhash_similarity_default",
    "bm25_similarity",
    "tfidf_similarity",
    "Preprocessor",
    "clean_text",
    "clean_text_stopwords",
    "VornFlow",
]

def levenshtein_distance(a: str, b: str) -> int:
    """The Levenshtein edit distance between two texts.

    The least number of single-character insertions, deletions and
    substitutions that turn `a` into `b`. Characters are Unicode scalar
    values, not bytes or UTF-16 units; the texts are compared as passed
    (no normalisation, case folding or trimming).

    Parameters
    ----------
    a, b : str
        The two texts.

    Returns
    -------
    int
        The distance: 0 for equal texts, the other's length in characters
        when one text is empty.

    Examples
    --------
    >>> import vorn
    >>> vorn.levenshtein_distance("kitten", "sitting")
    3
    >>> vorn.levenshtein_distance("héllo", "hello")   # one character, two bytes
    1
    >>> vorn.levenshtein_distance("", "abc")
    3
    """

def levenshtein_similarity(a: str, b: str) -> float:
    """The Levenshtein distance scaled into a similarity in [0, 1].

    ``1.0 - distance / m``, where `m` is the length of the longer text in
    characters (the division first). Two empty texts give exactly 1.0.

    Parameters
    ----------
    a, b : str
        The two texts.

    Returns
    -------
    float
        1.0 for equal texts, 0.0 when exactly one text is empty.

    Examples
    --------
    >>> import vorn
    >>> vorn.levenshtein_similarity("kitten", "sitting")   # 1 - 3/7
    0.5714285714285714
    >>> vorn.levenshtein_similarity("héllo", "hello")
    0.8
    >>> vorn.levenshtein_similarity("", "")
    1.0
    """

def jaro_winkler_similarity(a: str, b: str) -> float:
    """The Jaro-Winkler similarity of two texts, in [0, 1].

    The Jaro similarity of the characters (Unicode scalar values) raised by
    0.1 of the remaining gap for each character of a common prefix, counting
    at most 4 prefix characters. Meant for short texts: names, codes,
    identifiers. The score is case-sensitive and computed on the texts as
    passed.

    Parameters
    ----------
    a, b : str
        The two texts.

    Returns
    -------
    float
        1.0 for equal texts (also two empty ones), 0.0 when exactly one is
        empty or no character matches.

    Examples
    --------
    >>> import vorn
    >>> vorn.jaro_winkler_similarity("MARTHA", "MARHTA")
    0.9611111111111111
    >>> vorn.jaro_winkler_similarity("DIXON", "DICKSONX")
    0.8133333333333332
    >>> vorn.jaro_winkler_similarity("ab", "ba")   # too far apart to match
    0.0
    """

def hamming_similarity(a: str, b: str) -> float:
    """The share of positions at which two texts of equal length agree.

    ``1.0 - differences / length``, counted over Unicode scalar values.
    Two empty texts give 1.0.

    Parameters
    ----------
    a, b : str
        Two texts of the same length in characters.

    Returns
    -------
    float
        A similarity in [0, 1].

    Raises
    ------
    ValueError
        ``Strings must have equal length`` when the lengths in characters
        differ (``vornkit`` pads the shorter text instead).

    Examples
    --------
    >>> import vorn
    >>> vorn.hamming_similarity("karolin", "kathrin")
    0.5714285714285714
    >>> vorn.hamming_similarity("é", "ab")   # 2 bytes each, but 1 and 2 characters
    Traceback (most recent call last):
      ...
    ValueError: Strings must have equal length
    """

def hamming_distance(a: str, b: str) -> int:
    """The number of positions at which two texts of equal length differ.

    Positions are Unicode scalar values. Two empty texts give 0.

    Parameters
    ----------
    a, b : str
        Two texts of the same length in characters.

    Returns
    -------
    int
        The count of differing positions.

    Raises
    ------
    ValueError
        ``Strings must have equal length`` when the lengths differ.

    Examples
    --------
    >>> import vorn
    >>> vorn.hamming_distance("karolin", "kathrin")
    3
    >>> vorn.hamming_distance("abc", "ab")
    Traceback (most recent call last):
      ...
    ValueError: Strings must have equal length
    """

def jaccard_similarity(a: str, b: str, n: int) -> float:
    """The Jaccard similarity of the sets of character n-grams of two texts.

    The n-grams are the windows of `n` consecutive Unicode scalar values;
    repeats count once. A text shorter than `n` characters has one n-gram,
    the whole text (the empty text: the empty string), so it matches only an
    equal text. Equal texts give 1.0 before `n` is looked at.

    Parameters
    ----------
    a, b : str
        The two texts.
    n : int
        The n-gram size in characters, at least 1.

    Returns
    -------
    float
        ``|A ∩ B| / |A ∪ B|``, in [0, 1].

    Raises
    ------
    ValueError
        ``window size must be non-zero`` when `n` is 0 and the texts differ.
    OverflowError
        When `n` is negative or does not fit in a machine word.

    Examples
    --------
    >>> import vorn
    >>> vorn.jaccard_similarity("abcd", "abce", 3)   # {abc, bcd} and {abc, bce}
    0.3333333333333333
    >>> vorn.jaccard_similarity("aaaa", "aaa", 3)    # repeated n-grams count once
    1.0
    >>> vorn.jaccard_similarity("abc", "abd", 0)
    Traceback (most recent call last):
      ...
    ValueError: window size must be non-zero
    """

def jaccard_bigram_similarity(a: str, b: str) -> float:
    """``jaccard_similarity(a, b, 2)``: Jaccard similarity of character bigrams.

    Parameters
    ----------
    a, b : str
        The two texts.

    Returns
    -------
    float
        A similarity in [0, 1].

    Examples
    --------
    >>> import vorn
    >>> vorn.jaccard_bigram_similarity("night", "nacht")   # only "ht" in common
    0.14285714285714285
    """

def jaccard_trigram_similarity(a: str, b: str) -> float:
    """``jaccard_similarity(a, b, 3)``: Jaccard similarity of character trigrams.

    Parameters
    ----------
    a, b : str
        The two texts.

    Returns
    -------
    float
        A similarity in [0, 1].

    Examples
    --------
    >>> import vorn
    >>> vorn.jaccard_trigram_similarity("abcd", "abce")
    0.3333333333333333
    """

def jaccard_word_similarity(a: str, b: str) -> float:
    """The Jaccard similarity of the sets of words of two texts.

    Words are the non-empty pieces between Unicode whitespace; they are
    compared as they are (case matters, punctuation stays attached) and
    repeats count once. Two texts without words (empty or only whitespace)
    give 1.0; exactly one without words gives 0.0.

    Parameters
    ----------
    a, b : str
        The two texts.

    Returns
    -------
    float
        A similarity in [0, 1].

    Examples
    --------
    >>> import vorn
    >>> vorn.jaccard_word_similarity("the quick brown fox", "the quick red fox")
    0.6
    >>> vorn.jaccard_word_similarity("the cat", "cat the")
    1.0
    >>> vorn.jaccard_word_similarity("Cat", "cat")
    0.0
    """

def minhash_signature(text: str, shingle_size: int, num_hashes: int) -> list[int]:
    """The MinHash signature of a text's character shingles.

    The shingles are the windows of `shingle_size` Unicode scalar values (a
    shorter text is one shingle, itself), each hashed with 64-bit FNV-1a over
    its UTF-8 bytes; element i of the signature is the least value of the
    i-th fixed permutation over those hashes. Signatures are the same in
    every process and on every machine.

    Parameters
    ----------
    text : str
        The text.
    shingle_size : int
        Characters per shingle, at least 1.
    num_hashes : int
        The signature length; 0 gives an empty list.

    Returns
    -------
    list of int
        `num_hashes` unsigned 64-bit values.

    Raises
    ------
    ValueError
        ``window size must be non-zero`` when `shingle_size` is 0.
    MemoryError
        When the signature cannot fit in this machine's memory; raised
        before anything is allocated.

    Examples
    --------
    >>> import vorn
    >>> vorn.minhash_signature("the quick brown fox", 3, 4)
    [255198306103528749, 135909112497395469, 6448927538075566, 40842897664928724]
    >>> vorn.minhash_signature("", 1, 2)   # the signature of the one empty shingle
    [214467063832468254, 1007223326381081109]
    """

def minhash_similarity(a: str, b: str, shingle_size: int, num_hashes: int) -> float:
    """The share of positions at which the MinHash signatures of two texts agree.

    An estimate of the Jaccard similarity of the two texts' shingle sets,
    with a standard error of about ``sqrt(s (1 - s) / num_hashes)``.

    Parameters
    ----------
    a, b : str
        The two texts.
    shingle_size : int
        Characters per shingle, at least 1.
    num_hashes : int
        The signature length; 0 gives NaN (0 / 0).

    Returns
    -------
    float
        Agreeing positions divided by `num_hashes`.

    Raises
    ------
    ValueError
        ``window size must be non-zero`` when `shingle_size` is 0.
    MemoryError
        When a signature cannot fit in memory.

    Examples
    --------
    >>> import vorn
    >>> vorn.minhash_similarity("the quick brown fox", "the quick brown fix", 3, 128)
    0.7734375
    >>> vorn.minhash_similarity("a", "b", 3, 0)
    nan
    """

def minhash_similarity_default(a: str, b: str) -> float:
    """``minhash_similarity(a, b, 3, 128)``: 3-character shingles, 128 hashes.

    Parameters
    ----------
    a, b : str
        The two texts.

    Returns
    -------
    float
        The share of agreeing signature positions, a multiple of 1/128.

    Examples
    --------
    >>> import vorn
    >>> vorn.minhash_similarity_default("the quick brown fox", "the quick brown fix")
    0.7734375
    """

def simhash_fingerprint(text: str, shingle_size: int) -> int:
    """The 64-bit SimHash fingerprint of a text's character shingles.

    Each shingle (`shingle_size` consecutive Unicode scalar values; a shorter
    text is one shingle, itself) is hashed with 64-bit FNV-1a; bit i of the
    fingerprint is 1 when more shingles have bit i set than clear. Similar
    texts get fingerprints that differ in few bits.

    Parameters
    ----------
    text : str
        The text.
    shingle_size : int
        Characters per shingle, at least 1.

    Returns
    -------
    int
        An unsigned 64-bit value. A text shorter than `shingle_size` gets the
        FNV-1a hash of its UTF-8 bytes.

    Raises
    ------
    ValueError
        ``window size must be non-zero`` when `shingle_size` is 0.

    Examples
    --------
    >>> import vorn
    >>> vorn.simhash_fingerprint("the quick brown fox", 2)
    612579742382424803
    >>> hex(vorn.simhash_fingerprint("abc", 4))   # FNV-1a of "abc"
    '0xe71fa2190541574b'
    """

def simhash_fingerprint_default(text: str) -> int:
    """``simhash_fingerprint(text, 4)``: 4-character shingles.

    Parameters
    ----------
    text : str
        The text.

    Returns
    -------
    int
        An unsigned 64-bit fingerprint.

    Examples
    --------
    >>> import vorn
    >>> hex(vorn.simhash_fingerprint_default("the quick brown fox"))
    '0x696e10f6600e9d18'
    >>> vorn.simhash_fingerprint_default("")   # the FNV-1a offset basis
    14695981039346656037
    """

def simhash_similarity(a: str, b: str, shingle_size: int) -> float:
    """One minus the share of differing bits of two SimHash fingerprints.

    ``1.0 - differing_bits / 64`` for the fingerprints of `a` and `b` with
    the same `shingle_size`.

    Parameters
    ----------
    a, b : str
        The two texts.
    shingle_size : int
        Characters per shingle, at least 1.

    Returns
    -------
    float
        A multiple of 1/64 in [0, 1].

    Raises
    ------
    ValueError
        ``window size must be non-zero`` when `shingle_size` is 0.

    Examples
    --------
    >>> import vorn
    >>> vorn.simhash_similarity("the quick brown fox", "the quick brown fix", 2)
    0.953125
    """

def simhash_similarity_default(a: str, b: str) -> float:
    """``simhash_similarity(a, b, 4)``: 4-character shingles.

    Parameters
    ----------
    a, b : str
        The two texts.

    Returns
    -------
    float
        A multiple of 1/64 in [0, 1].

    Examples
    --------
    >>> import vorn
    >>> vorn.simhash_similarity_default("the quick brown fox", "the quick brown fix")
    0.953125
    """

def bm25_similarity(a: str, b: str) -> float:
    """How well `b` answers `a` as a query: Okapi BM25 scaled into [0, 1].

    The corpus is the two texts alone (k1 = 1.2, b = 0.75). Words are cut
    at Unicode whitespace and ASCII punctuation and lowercased. The raw
    score of `a` against `b` is divided by the best score `a` reaches against
    either text, so the result is directional: swapping the texts changes
    it. A query without words gives 0.0 (also when both texts have none).

    Parameters
    ----------
    a : str
        The query.
    b : str
        The document scored.

    Returns
    -------
    float
        A score in [0, 1]; 1.0 when `b` scores at least as high as `a` itself.

    Examples
    --------
    >>> import vorn
    >>> vorn.bm25_similarity("cat mat", "the cat sat on the mat")
    0.660377358490566
    >>> vorn.bm25_similarity("the cat sat on the mat", "cat mat")
    0.14670208369867266
    >>> vorn.bm25_similarity("Hello, World!", "hello world")
    1.0
    """

def tfidf_similarity(a: str, b: str) -> float:
    """The cosine similarity of the TF-IDF vectors of two texts.

    The corpus is the two texts alone: idf(t) = ln(3 / (df + 1)) + 1 and a
    term's weight is its count over the text's word count times its idf.
    Words are cut at Unicode whitespace and ASCII punctuation and
    lowercased. Two texts without words give 1.0, exactly one without words
    0.0. Sums run in a fixed order, so the score is the same bit for bit in
    every process; equal word sequences may give a neighbour of 1.0.

    Parameters
    ----------
    a, b : str
        The two texts.

    Returns
    -------
    float
        A similarity in [0, 1].

    Examples
    --------
    >>> import vorn
    >>> vorn.tfidf_similarity("the cat sat on the mat", "the dog sat on the log")
    0.6029748160380571
    >>> vorn.tfidf_similarity("Hello, World!", "hello world")
    0.9999999999999998
    """

def clean_text(text: str) -> str:
    """The text through the default preprocessing pipeline.

    Unicode NFC, every run of Unicode whitespace collapsed to one space,
    leading and trailing whitespace trimmed, full Unicode lowercase
    (locale-independent, final sigma included). The same as
    ``Preprocessor().process(text)``.

    Parameters
    ----------
    text : str
        The text.

    Returns
    -------
    str
        The cleaned text.

    Raises
    ------
    MemoryError
        When ICU runs out of memory, naming the step.
    ValueError
        ``Preprocessing error: <step> failed: <reason>`` when ICU reports
        another failure.

    Examples
    --------
    >>> import vorn
    >>> vorn.clean_text("  Cafe\\u0301   AU  Lait \\n")
    'café au lait'
    >>> vorn.clean_text("ΟΔΟΣ")   # a final capital sigma lowercases to ς
    'οδος'
    """

def clean_text_stopwords(text: str) -> str:
    """`clean_text`, then without the words of the built-in English stopword list.

    Parameters
    ----------
    text : str
        The text.

    Returns
    -------
    str
        The cleaned text without stopwords, words joined by one space.

    Raises
    ------
    MemoryError, ValueError
        As for `clean_text`.

    Examples
    --------
    >>> import vorn
    >>> vorn.clean_text_stopwords("The quick brown fox and the lazy dog")
    'quick brown fox lazy dog'
    """

@disjoint_base
class Preprocessor:
    """An immutable text-normalisation pipeline.

    A new instance holds the default configuration: Unicode NFC, full
    lowercase, whitespace collapsed and trimmed, stopwords kept, no length
    limit. Every ``with_*`` builder returns a new ``Preprocessor`` (of this
    class itself, also when called on a subclass instance) with one setting
    changed and leaves the receiver unchanged, so instances can be shared
    between threads. `process` runs the enabled steps in this order:
    normalise, lowercase, collapse whitespace, trim, remove stopwords, cut
    to the length limit.

    Examples
    --------
    >>> import vorn
    >>> p = vorn.Preprocessor()
    >>> p
    Preprocessor(lowercase=true, stopwords=false)
    >>> p.process("  Cafe\\u0301   AU  Lait ")
    'café au lait'
    >>> p.with_lowercase(False).process(" Hello   World ")
    'Hello World'
    """

    def __new__(cls) -> Preprocessor:
        """A pipeline with the default configuration (that of `clean_text`)."""
    def with_trim(self, v: bool) -> Preprocessor:
        """A copy that trims leading and trailing Unicode whitespace (`v` True) or not.

        Parameters
        ----------
        v : bool
            A Python ``bool``; an ``int`` such as 1 is a ``TypeError``.

        Returns
        -------
        Preprocessor
            A new instance; the receiver is unchanged.

        Examples
        --------
        >>> import vorn
        >>> vorn.Preprocessor().with_trim(False).process("  a  b ")
        ' a b '
        """
    def with_lowercase(self, v: bool) -> Preprocessor:
        """A copy that applies full Unicode lowercasing (`v` True) or not.

        Lowercasing is locale-independent and uses the full mappings: ``'İ'``
        becomes ``'i̇'`` (two characters) and a final ``'Σ'`` becomes ``'ς'``.

        Parameters
        ----------
        v : bool
            A Python ``bool``.

        Returns
        -------
        Preprocessor
            A new instance; the receiver is unchanged.

        Examples
        --------
        >>> import vorn
        >>> vorn.Preprocessor().with_lowercase(False).process("ABC")
        'ABC'
        """
    def with_stopwords(self, words: Sequence[str]) -> Preprocessor:
        """A copy whose stopword list is `words`.

        The words are stored as given (not lowercased, duplicates kept) and
        replace the previous list; an empty sequence brings the built-in
        English list back. Setting the list does not switch removal on:
        ``with_remove_stopwords(True)`` does.

        Parameters
        ----------
        words : sequence of str
            A list, tuple or other sequence of ``str``, but not a ``str``.

        Returns
        -------
        Preprocessor
            A new instance; the receiver is unchanged.

        Raises
        ------
        TypeError
            When `words` is a ``str``, not a sequence, or holds a non-``str``.

        Examples
        --------
        >>> import vorn
        >>> p = vorn.Preprocessor().with_remove_stopwords(True)
        >>> p.with_stopwords(["cat"]).process("the cat sat")
        'the sat'
        >>> p.with_stopwords(["cat"]).with_stopwords([]).process("the cat sat")
        'cat sat'
        """
    def with_max_length(self, max: int) -> Preprocessor:
        """A copy that cuts its results to at most `max` UTF-8 bytes.

        A cut that would fall inside a multi-byte character falls at the
        character boundary before it. The limit applies last, after every
        other step.

        Parameters
        ----------
        max : int
            Bytes, from 0 (no limit, the default) to 2**64 - 1.

        Returns
        -------
        Preprocessor
            A new instance; the receiver is unchanged.

        Raises
        ------
        OverflowError
            When `max` is negative or too large.

        Examples
        --------
        >>> import vorn
        >>> vorn.Preprocessor().with_max_length(5).process("naïveté")   # 'ï' is 2 bytes
        'naïv'
        """
    def with_remove_stopwords(self, v: bool) -> Preprocessor:
        """A copy that drops stopwords (`v` True) or keeps them.

        Words are the runs of non-whitespace characters after the earlier
        steps; each is dropped when it equals a word of the stopword list
        exactly, and the rest are joined with one space.

        Parameters
        ----------
        v : bool
            A Python ``bool``.

        Returns
        -------
        Preprocessor
            A new instance; the receiver is unchanged.

        Examples
        --------
        >>> import vorn
        >>> vorn.Preprocessor().with_remove_stopwords(True).process("The Cat and THE Hat")
        'cat hat'
        """
    def with_normalize_unicode(self, v: bool) -> Preprocessor:
        """A copy that puts text in Unicode Normalization Form C (`v` True) or not.

        Parameters
        ----------
        v : bool
            A Python ``bool``.

        Returns
        -------
        Preprocessor
            A new instance; the receiver is unchanged.

        Examples
        --------
        >>> import vorn
        >>> len(vorn.Preprocessor().with_normalize_unicode(False).process("e\\u0301"))
        2
        >>> len(vorn.Preprocessor().process("e\\u0301"))
        1
        """
    def with_collapse_whitespace(self, v: bool) -> Preprocessor:
        """A copy that turns every run of Unicode whitespace into one space (`v` True) or not.

        Parameters
        ----------
        v : bool
            A Python ``bool``.

        Returns
        -------
        Preprocessor
            A new instance; the receiver is unchanged.

        Examples
        --------
        >>> import vorn
        >>> vorn.Preprocessor().with_collapse_whitespace(False).process("a \\t b")
        'a \\t b'
        """
    def process(self, text: str) -> str:
        """`text` through this pipeline.

        Parameters
        ----------
        text : str
            The text.

        Returns
        -------
        str
            A new string.

        Raises
        ------
        MemoryError
            When ICU runs out of memory, naming the step.
        ValueError
            ``Preprocessing error: <step> failed: <reason>`` when ICU
            reports another failure.

        Examples
        --------
        >>> import vorn
        >>> vorn.Preprocessor().process("\\u00a0Straße\\u2003CAFÉ ")
        'straße café'
        """

# The dict returned by VornFlow.compare and VornFlow.compare_with_intent;
# its keys come in this order.
class ComparisonResult(TypedDict):
    """The dict that `VornFlow.compare` and `VornFlow.compare_with_intent` return.

    Its keys come in this order: ``score`` (float), ``tier`` (1 or 2; 0 for
    an intent), ``algorithm`` (the name of the algorithm whose score is
    reported), ``fallback_called`` (always False) and ``fallback_data``
    (always ``''``). A name for type checkers only: the module has no
    attribute ``ComparisonResult`` at run time.
    """

    score: float
    tier: int
    algorithm: str
    fallback_called: bool
    fallback_data: str

@disjoint_base
class VornFlow:
    """An immutable tiered comparison router.

    A cheap first-tier algorithm scores the pair and settles it when the
    score passes the match or the mismatch bound; otherwise a second tier
    runs and settles it when its score passes its own test; a pair that
    neither tier settles reports the tier-1 score. Every configuring method
    returns a new ``VornFlow`` and leaves the receiver unchanged.

    Algorithm names: ``levenshtein``, ``jaro_winkler``, ``hamming``,
    ``jaccard_bigram``, ``jaccard_trigram``, ``jaccard_word``,
    ``minhash_default``, ``simhash_default``, ``bm25``, ``tfidf``. Operators:
    ``gt`` (strictly above), ``lt`` (strictly below) and, for tier 2,
    ``between`` (a closed range). Names are case-sensitive.

    Examples
    --------
    >>> import vorn
    >>> flow = (vorn.VornFlow()
    ...         .preprocess(True)
    ...         .tier_1("jaro_winkler", "gt", 0.95, "lt", 0.6)
    ...         .tier_2("levenshtein", "between", 0.7, 1.0))
    >>> flow.compare("Jonathan Smith", "jonathan  smith")
    {'score': 1.0, 'tier': 1, 'algorithm': 'jaro_winkler', 'fallback_called': False, 'fallback_data': ''}
    >>> flow.compare("Jonathan Smith", "Jonathon Smyth")["tier"]
    2
    """

    def __new__(cls) -> VornFlow:
        """A router without tiers and without preprocessing."""
    def preprocess(self, enable: bool) -> VornFlow:
        """A copy that runs both texts through ``clean_text``'s pipeline before comparing (`enable` True).

        Parameters
        ----------
        enable : bool
            A Python ``bool``.

        Returns
        -------
        VornFlow
            A new router; the receiver is unchanged.
        """
    def tier_1(
        self,
        algo: str,
        match_op: str,
        match_val: float,
        mismatch_op: str,
        mismatch_val: float,
    ) -> VornFlow:
        """A copy whose first tier runs `algo` and settles pairs by two bounds.

        The pair is settled at tier 1 when the score passes
        ``match_op match_val`` or ``mismatch_op mismatch_val``.

        Parameters
        ----------
        algo : str
            An algorithm name.
        match_op, mismatch_op : str
            ``"gt"`` or ``"lt"``.
        match_val, mismatch_val : float
            The bounds.

        Returns
        -------
        VornFlow
            A new router; the receiver is unchanged.

        Raises
        ------
        ValueError
            ``unknown algorithm: <name>`` or ``unknown threshold op: <name>``.

        Examples
        --------
        >>> import vorn
        >>> vorn.VornFlow().tier_1("soundex", "gt", 0.9, "lt", 0.1)
        Traceback (most recent call last):
          ...
        ValueError: unknown algorithm: soundex
        """
    def tier_2(self, algo: str, op: str, val1: float, val2: float) -> VornFlow:
        """A copy whose second tier runs `algo` on pairs that tier 1 left open.

        Parameters
        ----------
        algo : str
            An algorithm name.
        op : str
            ``"gt"`` (score above `val1`), ``"lt"`` (below `val1`) or
            ``"between"`` (from `val1` to `val2`, both included).
        val1, val2 : float
            The bounds; `val2` matters only for ``"between"``.

        Returns
        -------
        VornFlow
            A new router; the receiver is unchanged.

        Raises
        ------
        ValueError
            ``unknown algorithm: <name>`` or ``unknown threshold op: <name>``.
        """
    def compare_with_intent(self, intent: str, a: str, b: str) -> ComparisonResult:
        """Score `a` and `b` once with the algorithm an intent names, without tiers.

        ``"names"``: Jaro-Winkler; ``"typos"``: Levenshtein; ``"codes"``:
        Hamming; ``"documents"``: BM25; ``"dedup"`` or ``"deduplication"``:
        SimHash; ``"auto"``: chosen by the lengths in bytes (texts of equal
        character count up to 20 bytes: Hamming; otherwise up to 50 bytes:
        Jaro-Winkler; up to 500: BM25; longer: SimHash).

        Parameters
        ----------
        intent : str
            One of the names above.
        a, b : str
            The two texts.

        Returns
        -------
        ComparisonResult
            A dict with ``tier`` 0.

        Raises
        ------
        ValueError
            ``unknown intent: <name>``; ``Strings must have equal length``
            for ``"codes"`` on texts of different lengths.

        Examples
        --------
        >>> import vorn
        >>> vorn.VornFlow().compare_with_intent("auto", "AB-1234", "AB-1284")
        {'score': 0.8571428571428572, 'tier': 0, 'algorithm': 'hamming', 'fallback_called': False, 'fallback_data': ''}
        """
    def compare(self, a: str, b: str) -> ComparisonResult:
        """Score `a` and `b` through the tiers.

        Parameters
        ----------
        a, b : str
            The two texts.

        Returns
        -------
        ComparisonResult
            The score of the tier that settled the pair, or the tier-1 score
            when neither did.

        Raises
        ------
        ValueError
            ``Router configuration error: No tiers configured`` without
            `tier_1`; ``Algorithm error: ...`` when the algorithm fails.

        Examples
        --------
        >>> import vorn
        >>> flow = vorn.VornFlow().tier_1("levenshtein", "gt", 0.9, "lt", 0.2)
        >>> result = flow.compare("kitten", "sitting")   # neither bound passes: the tier-1 score
        >>> result["score"], result["tier"], result["algorithm"]
        (0.5714285714285714, 1, 'levenshtein')
        """
