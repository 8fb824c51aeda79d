"""vornkit: vorn's similarity functions over whole collections.

Every score vornkit returns for a pair is bit for bit what the matching
``vorn`` function returns for that pair.
"""

from vornkit import _native

__all__: list[str] = []

del _native
