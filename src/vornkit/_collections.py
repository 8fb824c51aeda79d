"""Scoring and searching whole collections with vorn's pairwise functions.

Rules shared by every function here:

* ``scorer`` is one of vorn's pairwise functions (``vorn.levenshtein_distance``,
  ``vorn.jaro_winkler_similarity``, ...); size parameters (``n``,
  ``shingle_size``, ``num_hashes``) go in ``scorer_kwargs``. Every score is
  bit for bit what that function returns for the pair.
* ``scorer`` may also be one of vornkit.fuzz's ratios or one of
  vornkit.distance's ``distance`` (int64) and ``normalized_similarity``
  functions (also ``Jaro.similarity`` and ``JaroWinkler.similarity``); every
  score equals the function's for the pair with the same ``score_cutoff``.
* ``processor`` (a ``vorn.Preprocessor`` or any callable from str to str) is
  applied once per string, to queries and choices alike; nulls are not
  passed to it. Texts made by ``prepare`` keep the processor they were
  prepared with: it is applied to the call's other texts, and a different
  one is a ValueError.
* Collections are ``PreparedTexts`` (see ``prepare``), lists, tuples or other iterables of ``str``, 1-D NumPy
  arrays of strings (object, ``str_`` or ``StringDType``), pandas Series, and
  Arrow string arrays or chunked arrays (PyArrow, Polars), which are read in
  place through the Arrow PyCapsule interface.
* Nulls: ``None``, float NaN, ``pandas.NA`` and Arrow nulls. A pair with a
  null scores NaN (a distance: -1) and never appears in a search or join.
* Hamming on texts of different lengths: the shorter text is padded with a
  character that matches nothing, so each missing position is one
  difference and the similarity is ``1 - distance / longer length``.
* ``score_cutoff``: similarities below it become 0.0, distances above it
  become ``score_cutoff + 1`` (and are computed only that far).
* ``dtype``: float64 for similarities and int64 for distances by default;
  float32, or for distances any integer type, on request, converted the way
  NumPy's ``astype`` converts (so a null distance -1 wraps in unsigned types).
* ``workers``: threads to use, -1 for every core. The interpreter lock is
  released while scoring; Ctrl-C stops the work within about 0.1 s.
"""

from __future__ import annotations

from collections.abc import Callable, Iterable
from typing import Any, Protocol, TypeAlias

import numpy as np
import numpy.typing as npt
import vorn

from vornkit import _checks, _native, _scorer_forms
from vornkit._prepared_texts import PreparedTexts


class ArrowArrayExportable(Protocol):
    def __arrow_c_array__(self, requested_schema: object | None = None) -> tuple[object, object]: ...


class ArrowStreamExportable(Protocol):
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...


Texts: TypeAlias = (
    PreparedTexts | Iterable[str | None] | ArrowArrayExportable | ArrowStreamExportable | npt.NDArray[Any]
)
Scorer: TypeAlias = Callable[..., object]
Score: TypeAlias = float | int
Processor: TypeAlias = vorn.Preprocessor | Callable[[str], str]

_FLOAT_TYPES = (np.dtype(np.float64), np.dtype(np.float32))
_INTEGER_TYPES = tuple(
    np.dtype(t) for t in (np.int64, np.int32, np.int16, np.int8, np.uint64, np.uint32, np.uint16, np.uint8)
)


def prepare(texts: Texts, *, processor: Processor | None = None, workers: int = 1) -> PreparedTexts:
    """Texts read once, and processed once, for searching many times.

    Parameters
    ----------
    texts
        Any collection vornkit accepts (list of str, NumPy, pandas, Arrow).
    processor
        Applied to every text now. Functions given prepared texts apply it
        to their other texts (such as the query of ``extract``) and refuse
        a different processor with ValueError.
    workers
        Threads for a ``vorn.Preprocessor``; -1 for every core.

    Returns
    -------
    PreparedTexts
        Accepted as queries or choices by every collection function. Its
        ``len()`` and indexing give the original elements.

    Examples
    --------
    >>> import vorn, vornkit
    >>> names = vornkit.prepare(["Jon Smith", "Jane Doe", None])
    >>> vornkit.extract_one("jon smith", names, scorer=vorn.levenshtein_similarity)
    ('Jon Smith', 0.7777777777777778, 0)
    """
    if isinstance(texts, PreparedTexts):
        _processor_of(processor, texts)
        return texts
    strings = _checks.strings(texts, "texts")
    if processor is not None:
        strings = _native.apply_processor(strings, processor, workers)
    _native.mark_prepared(strings)
    return PreparedTexts(strings, processor)


def _processor_of(processor: Processor | None, *texts: object) -> Processor | None:
    """The processor of a call: the one given, else that of its prepared
    texts, which keep the processor they were prepared with."""
    chosen = processor
    for text in texts:
        if not isinstance(text, PreparedTexts):
            continue
        if processor is None and chosen is None:
            chosen = text.processor
        if text.processor is not chosen:
            kept = "without a processor" if text.processor is None else f"with processor {text.processor!r}"
            raise ValueError(
                f"texts prepared {kept} cannot be used with processor {chosen!r}: "
                "a prepared text keeps its processor (pass processor=None, or prepare the texts again)"
            )
    return chosen


def _prepared(texts: object, name: str, processor: Processor | None, workers: int) -> _native.Strings:
    strings = _checks.strings(texts, name)
    if processor is not None and not isinstance(texts, PreparedTexts):
        strings = _native.apply_processor(strings, processor, workers)
    return strings


def _is_distance(scorer: Scorer, scorer_kwargs: dict[str, Any] | None) -> bool:
    return _native.scorer_info(scorer, scorer_kwargs)[1]


def _derived(
    form: _scorer_forms.Form,
    scorer_kwargs: dict[str, Any] | None,
    score_cutoff: Score | None,
    dtype: npt.DTypeLike | None,
    queries: Texts,
    choices: Texts | None,
    processor: Processor | None,
    workers: int,
) -> _scorer_forms.Scoring:
    """A scorer form scored from another (see _scorer_forms), its output dtype checked."""
    processor = _processor_of(processor, queries, choices)
    a, b = _pair(queries, choices, processor, workers)
    return _derived_of(form, scorer_kwargs, score_cutoff, dtype, a, b, processor, workers)


def _derived_of(
    form: _scorer_forms.Form,
    scorer_kwargs: dict[str, Any] | None,
    score_cutoff: Score | None,
    dtype: npt.DTypeLike | None,
    a: _native.Strings,
    b: _native.Strings,
    processor: Processor | None,
    workers: int,
) -> _scorer_forms.Scoring:
    out_dtype = _score_dtype(form.integer, dtype)
    if score_cutoff is not None and (isinstance(score_cutoff, bool) or np.isnan(float(score_cutoff))):
        raise ValueError(f"score_cutoff must be a number, not {score_cutoff!r}")
    return _scorer_forms.Scoring(form, scorer_kwargs, score_cutoff, a, b, workers, out_dtype, processor)


def _score_dtype(is_distance: bool, dtype: npt.DTypeLike | None) -> np.dtype[Any]:
    if dtype is None:
        return np.dtype(np.int64 if is_distance else np.float64)
    wanted = np.dtype(dtype)
    allowed = _FLOAT_TYPES + (_INTEGER_TYPES if is_distance else ())
    if wanted not in allowed or not wanted.isnative:
        kind = "distances" if is_distance else "similarities"
        names = ", ".join(str(t) for t in allowed)
        raise TypeError(f"dtype {wanted} cannot hold {kind}; use one of {names}")
    return wanted


def _pair(
    queries: Texts, choices: Texts | None, processor: Processor | None, workers: int
) -> tuple[_native.Strings, _native.Strings]:
    processor = _processor_of(processor, queries, choices)
    a = _prepared(queries, "queries", processor, workers)
    if choices is None or choices is queries:
        return a, a
    return a, _prepared(choices, "choices", processor, workers)


def _scores(
    native: Callable[..., None],
    matrix: bool,
    queries: Texts,
    choices: Texts,
    scorer: Scorer,
    scorer_kwargs: dict[str, Any] | None,
    processor: Processor | None,
    score_cutoff: Score | None,
    dtype: npt.DTypeLike | None,
    workers: int,
) -> npt.NDArray[Any]:
    form = _scorer_forms.form_of(scorer)
    if form is not None:
        scoring = _derived(form, scorer_kwargs, score_cutoff, dtype, queries, choices, processor, workers)
        if matrix:
            return scoring.full().astype(scoring.out_dtype, copy=False)
        return scoring.pairs().astype(scoring.out_dtype, copy=False)
    is_distance = _is_distance(scorer, scorer_kwargs)
    a, b = _pair(queries, choices, processor, workers)
    shape = (len(a), len(b)) if matrix else (len(a),)
    out = np.empty(shape, dtype=_score_dtype(is_distance, dtype))
    native(a, b, scorer, scorer_kwargs, score_cutoff, out, workers)
    return out


def cdist(
    queries: Texts,
    choices: Texts,
    *,
    scorer: Scorer,
    scorer_kwargs: dict[str, Any] | None = None,
    processor: Processor | None = None,
    score_cutoff: Score | None = None,
    dtype: npt.DTypeLike | None = None,
    workers: int = 1,
) -> npt.NDArray[Any]:
    """Scores of every query against every choice.

    Parameters
    ----------
    queries, choices : collection of str
        Lists, tuples, 1-D NumPy string arrays, pandas Series or Arrow string arrays;
        a null (None, NaN, ``pandas.NA``) scores NaN, or -1 as a distance.
    scorer : callable
        One of vorn's pairwise functions (``vorn.levenshtein_distance``, ...) or a
        RapidFuzz-compatible scorer of ``vornkit.fuzz`` or ``vornkit.distance``.
    scorer_kwargs : dict, optional
        The scorer's size arguments (``n``, ``shingle_size``, ``num_hashes``, ...).
    processor : vorn.Preprocessor or callable, optional
        Applied once to each string before scoring, not once per pair.
    score_cutoff : int or float, optional
        A similarity below it becomes 0.0, a distance above it ``score_cutoff + 1``.
    dtype : numpy dtype, optional
        float64 for similarities and int64 for distances by default; float32, or for
        distances any integer type, converted as ``astype`` converts.
    workers : int, default 1
        Threads to use; -1 for every core. The interpreter lock is released while
        scoring and Ctrl-C stops the work.

    Returns
    -------
    numpy.ndarray
        Shape (len(queries), len(choices)); element (i, j) is exactly
        ``scorer(queries[i], choices[j])``.

    Raises
    ------
    TypeError
        An element that is not a string or null, named by its position.
    ValueError
        A size of 0 in ``scorer_kwargs``.

    Examples
    --------
    >>> import vorn, vornkit
    >>> vornkit.cdist(["kitten", "mitten"], ["sitting", "kitten"], scorer=vorn.levenshtein_distance)
    array([[3, 0],
           [3, 1]])
    """
    return _scores(
        _native.cdist, True, queries, choices, scorer, scorer_kwargs, processor, score_cutoff, dtype, workers
    )


def cpdist(
    queries: Texts,
    choices: Texts,
    *,
    scorer: Scorer,
    scorer_kwargs: dict[str, Any] | None = None,
    processor: Processor | None = None,
    score_cutoff: Score | None = None,
    dtype: npt.DTypeLike | None = None,
    workers: int = 1,
) -> npt.NDArray[Any]:
    """Scores of ``queries[i]`` against ``choices[i]``, for collections of equal length.

    Parameters
    ----------
    queries, choices : collection of str
        Of equal length; any collection ``cdist`` takes.
    scorer : callable
        One of vorn's pairwise functions (``vorn.levenshtein_distance``, ...) or a
        RapidFuzz-compatible scorer of ``vornkit.fuzz`` or ``vornkit.distance``.
    scorer_kwargs : dict, optional
        The scorer's size arguments (``n``, ``shingle_size``, ``num_hashes``, ...).
    processor : vorn.Preprocessor or callable, optional
        Applied once to each string before scoring, not once per pair.
    score_cutoff : int or float, optional
        A similarity below it becomes 0.0, a distance above it ``score_cutoff + 1``.
    dtype : numpy dtype, optional
        float64 for similarities and int64 for distances by default; float32, or for
        distances any integer type, converted as ``astype`` converts.
    workers : int, default 1
        Threads to use; -1 for every core. The interpreter lock is released while
        scoring and Ctrl-C stops the work.

    Returns
    -------
    numpy.ndarray
        Shape (len(queries),); element i is exactly ``scorer(queries[i], choices[i])``.

    Raises
    ------
    ValueError
        Collections of different lengths.

    Examples
    --------
    >>> import vorn, vornkit
    >>> vornkit.cpdist(["kitten", "abcd"], ["sitting", "abce"], scorer=vorn.jaccard_similarity,
    ...                scorer_kwargs={"n": 2})
    array([0.22222222, 0.5       ])
    """
    return _scores(
        _native.cpdist, False, queries, choices, scorer, scorer_kwargs, processor, score_cutoff, dtype, workers
    )


def topk(
    queries: Texts,
    choices: Texts,
    limit: int,
    *,
    scorer: Scorer,
    scorer_kwargs: dict[str, Any] | None = None,
    processor: Processor | None = None,
    score_cutoff: Score | None = None,
    dtype: npt.DTypeLike | None = None,
    workers: int = 1,
) -> tuple[npt.NDArray[np.int64], npt.NDArray[Any]]:
    """The ``limit`` best choices of each query, without the full matrix.

    Best first (highest similarity, lowest distance), ties to the lower
    index. Rows with fewer than ``limit`` qualifying choices are padded with index
    -1 and score NaN (-1 for integer score types). Memory beyond the result
    is a few candidates per worker and query, never the full matrix.

    Parameters
    ----------
    queries, choices : collection of str
        Any collection ``cdist`` takes; nulls never qualify.
    limit : int
        The number of results per query.
    scorer : callable
        One of vorn's pairwise functions (``vorn.levenshtein_distance``, ...) or a
        RapidFuzz-compatible scorer of ``vornkit.fuzz`` or ``vornkit.distance``.
    scorer_kwargs : dict, optional
        The scorer's size arguments (``n``, ``shingle_size``, ``num_hashes``, ...).
    processor : vorn.Preprocessor or callable, optional
        Applied once to each string before scoring, not once per pair.
    score_cutoff : int or float, optional
        A similarity below it becomes 0.0, a distance above it ``score_cutoff + 1``.
    dtype : numpy dtype, optional
        float64 for similarities and int64 for distances by default; float32, or for
        distances any integer type, converted as ``astype`` converts.
    workers : int, default 1
        Threads to use; -1 for every core. The interpreter lock is released while
        scoring and Ctrl-C stops the work.

    Returns
    -------
    indices : numpy.ndarray of int64
        Shape (len(queries), limit): the indices of the choices.
    scores : numpy.ndarray
        Shape (len(queries), limit): their scores.

    Examples
    --------
    >>> import vorn, vornkit
    >>> indices, scores = vornkit.topk(["kitten", "x"], ["kitten", "sitting", "mitten"], 2,
    ...                                scorer=vorn.levenshtein_distance, score_cutoff=3)
    >>> indices
    array([[ 0,  2],
           [-1, -1]])
    >>> scores
    array([[ 0,  1],
           [-1, -1]])
    """
    limit = _checks.count("limit", limit, 0)
    form = _scorer_forms.form_of(scorer)
    if form is not None:
        scoring = _derived(form, scorer_kwargs, score_cutoff, dtype, queries, choices, processor, workers)
        indices, found = scoring.best(limit)
        return indices, found.astype(scoring.out_dtype, copy=False)
    is_distance = _is_distance(scorer, scorer_kwargs)
    a, b = _pair(queries, choices, processor, workers)
    indices = np.empty((len(a), limit), dtype=np.int64)
    scores = np.empty((len(a), limit), dtype=_score_dtype(is_distance, dtype))
    _native.topk(a, b, scorer, scorer_kwargs, score_cutoff, limit, indices, scores, workers)
    return indices, scores


def extract(
    query: str | None,
    choices: Texts,
    *,
    scorer: Scorer,
    scorer_kwargs: dict[str, Any] | None = None,
    processor: Processor | None = None,
    limit: int | None = 5,
    score_cutoff: Score | None = None,
    dtype: npt.DTypeLike | None = None,
    workers: int = 1,
) -> list[tuple[Any, Score, int]]:
    """The best choices for one query as (choice, score, index), best first.

    A null query matches nothing. Each choice is the original element, not the
    processed text; each score a Python float or int converted from ``dtype``.
    Ties go to the lower index.

    Parameters
    ----------
    query : str or None
        The text to look for.
    choices : collection of str
        Any collection ``cdist`` takes; nulls never qualify.
    scorer : callable
        One of vorn's pairwise functions (``vorn.levenshtein_distance``, ...) or a
        RapidFuzz-compatible scorer of ``vornkit.fuzz`` or ``vornkit.distance``.
    scorer_kwargs : dict, optional
        The scorer's size arguments (``n``, ``shingle_size``, ``num_hashes``, ...).
    processor : vorn.Preprocessor or callable, optional
        Applied once to each string before scoring, not once per pair.
    score_cutoff : int or float, optional
        A similarity below it becomes 0.0, a distance above it ``score_cutoff + 1``.
    dtype : numpy dtype, optional
        float64 for similarities and int64 for distances by default; float32, or for
        distances any integer type, converted as ``astype`` converts.
    workers : int, default 1
        Threads to use; -1 for every core. The interpreter lock is released while
        scoring and Ctrl-C stops the work.
    limit : int or None, default 5
        The number of results; None returns every qualifying choice.

    Returns
    -------
    list of tuple
        ``(choice, score, index)`` for each qualifying choice, best first.

    Raises
    ------
    TypeError
        A query that is neither ``str`` nor None.

    Examples
    --------
    >>> import vorn, vornkit
    >>> vornkit.extract("kiten", ["kitten", "sitting", "mitten"], scorer=vorn.levenshtein_similarity, limit=2)
    [('kitten', 0.8333333333333334, 0), ('mitten', 0.6666666666666667, 2)]
    """
    if query is not None and not isinstance(query, str):
        raise TypeError(f"query must be str or None, not {type(query).__name__!r}")
    form = _scorer_forms.form_of(scorer)
    if form is None:
        score_dtype = _score_dtype(_is_distance(scorer, scorer_kwargs), dtype)
    processor = _processor_of(processor, choices)
    b = _checks.strings(choices, "choices")
    k = len(b) if limit is None else min(_checks.count("limit", limit, 0), len(b))
    if query is None or k == 0:
        return []
    a = _prepared([query], "query", processor, workers)
    if processor is not None and not isinstance(choices, PreparedTexts):
        b = _native.apply_processor(b, processor, workers)
    if form is not None:
        scoring = _derived_of(form, scorer_kwargs, score_cutoff, dtype, a, b, processor, workers)
        indices, scores = scoring.best(k)
        scores = scores.astype(scoring.out_dtype, copy=False)
    else:
        indices = np.empty((1, k), dtype=np.int64)
        scores = np.empty((1, k), dtype=score_dtype)
        _native.topk(a, b, scorer, scorer_kwargs, score_cutoff, k, indices, scores, workers)
    found = int(np.count_nonzero(indices[0] >= 0))
    return [(b[int(j)], s, int(j)) for j, s in zip(indices[0, :found], scores[0, :found].tolist())]


def extract_one(
    query: str | None,
    choices: Texts,
    *,
    scorer: Scorer,
    scorer_kwargs: dict[str, Any] | None = None,
    processor: Processor | None = None,
    score_cutoff: Score | None = None,
    dtype: npt.DTypeLike | None = None,
    workers: int = 1,
) -> tuple[Any, Score, int] | None:
    """The best choice for one query as (choice, score, index), or None.

    Parameters
    ----------
    query : str or None
        The text to look for; None matches nothing.
    choices : collection of str
        Any collection ``cdist`` takes; nulls never qualify.
    scorer : callable
        One of vorn's pairwise functions (``vorn.levenshtein_distance``, ...) or a
        RapidFuzz-compatible scorer of ``vornkit.fuzz`` or ``vornkit.distance``.
    scorer_kwargs : dict, optional
        The scorer's size arguments (``n``, ``shingle_size``, ``num_hashes``, ...).
    processor : vorn.Preprocessor or callable, optional
        Applied once to each string before scoring, not once per pair.
    score_cutoff : int or float, optional
        A similarity below it becomes 0.0, a distance above it ``score_cutoff + 1``.
    dtype : numpy dtype, optional
        float64 for similarities and int64 for distances by default; float32, or for
        distances any integer type, converted as ``astype`` converts.
    workers : int, default 1
        Threads to use; -1 for every core. The interpreter lock is released while
        scoring and Ctrl-C stops the work.

    Returns
    -------
    tuple or None
        ``(choice, score, index)`` of the best choice (the lower index on a tie), or
        None when no choice qualifies.

    Examples
    --------
    >>> import vorn, vornkit
    >>> vornkit.extract_one("SITTING ", ["kitten", "sitting"], scorer=vorn.levenshtein_distance,
    ...                     processor=vorn.Preprocessor())
    ('sitting', 0, 1)
    >>> vornkit.extract_one("x", ["kitten"], scorer=vorn.levenshtein_distance, score_cutoff=2) is None
    True
    """
    best = extract(
        query,
        choices,
        scorer=scorer,
        scorer_kwargs=scorer_kwargs,
        processor=processor,
        limit=1,
        score_cutoff=score_cutoff,
        dtype=dtype,
        workers=workers,
    )
    return best[0] if best else None


def threshold_join(
    queries: Texts,
    choices: Texts | None = None,
    *,
    scorer: Scorer,
    scorer_kwargs: dict[str, Any] | None = None,
    processor: Processor | None = None,
    score_cutoff: Score,
    dtype: npt.DTypeLike | None = None,
    workers: int = 1,
) -> tuple[npt.NDArray[np.int64], npt.NDArray[np.int64], npt.NDArray[Any]]:
    """Every pair (i, j, score) at or beyond the cutoff, ordered by i, then j.

    A similarity qualifies at or above ``score_cutoff``, a distance at or
    below it. Memory is proportional to the result, never to the matrix. With
    a Levenshtein scorer and a tight cutoff, large inputs go through an
    ``EditIndex``, with the same result.

    Parameters
    ----------
    queries : collection of str
        Any collection ``cdist`` takes; nulls never qualify.
    choices : collection of str, optional
        None joins ``queries`` with itself, pairs ``i < j`` only.
    scorer : callable
        One of vorn's pairwise functions (``vorn.levenshtein_distance``, ...) or a
        RapidFuzz-compatible scorer of ``vornkit.fuzz`` or ``vornkit.distance``.
    scorer_kwargs : dict, optional
        The scorer's size arguments (``n``, ``shingle_size``, ``num_hashes``, ...).
    processor : vorn.Preprocessor or callable, optional
        Applied once to each string before scoring, not once per pair.
    score_cutoff : int or float
        The least similarity or the greatest distance that qualifies (required).
    dtype : numpy dtype, optional
        float64 for similarities and int64 for distances by default; float32, or for
        distances any integer type, converted as ``astype`` converts.
    workers : int, default 1
        Threads to use; -1 for every core. The interpreter lock is released while
        scoring and Ctrl-C stops the work.

    Returns
    -------
    i, j : numpy.ndarray of int64
        The query and choice index of each qualifying pair.
    scores : numpy.ndarray
        Their scores.

    Raises
    ------
    TypeError
        No ``score_cutoff``.

    Examples
    --------
    >>> import vorn, vornkit
    >>> vornkit.threshold_join(["kitten", "sitting", "mitten"], scorer=vorn.jaccard_similarity,
    ...                        scorer_kwargs={"n": 2}, score_cutoff=0.5)
    (array([0]), array([2]), array([0.66666667]))
    """
    if score_cutoff is None:
        raise TypeError("threshold_join() needs a score_cutoff")
    form = _scorer_forms.form_of(scorer)
    if form is not None:
        scoring = _derived(form, scorer_kwargs, score_cutoff, dtype, queries, choices, processor, workers)
        first, second, found = scoring.join(choices is None)
        return first, second, found.astype(scoring.out_dtype, copy=False)
    name, is_distance = _native.scorer_info(scorer, scorer_kwargs)
    score_dtype = _score_dtype(is_distance, dtype)
    a, b = _pair(queries, choices, processor, workers)
    from vornkit import _edit_index

    if _edit_index.join_is_faster(name, score_cutoff, len(a), len(b)):
        first, second, found = _edit_index.threshold_join(
            a, None if choices is None else b, is_distance, score_cutoff, workers
        )
        return first, second, found.astype(score_dtype, copy=False)
    i, j, scores = _native.threshold_join(
        a, None if choices is None else b, scorer, scorer_kwargs, score_cutoff, workers
    )
    raw = np.frombuffer(scores, dtype=np.int64 if is_distance else np.float64)
    return (
        np.frombuffer(i, dtype=np.int64),
        np.frombuffer(j, dtype=np.int64),
        raw.astype(score_dtype, copy=False),
    )
