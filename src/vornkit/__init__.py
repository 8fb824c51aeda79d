"""vornkit: vorn's similarity functions over whole collections.

Every score vornkit returns for a pair is bit for bit what the matching
``vorn`` function returns for that pair.
"""

from vornkit import _native
from vornkit._collections import cdist, cpdist, extract, extract_one, threshold_join, topk

__all__: list[str] = []
__all__ += ["cdist", "cpdist", "extract", "extract_one", "topk", "threshold_join"]

del _native
