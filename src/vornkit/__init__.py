"""vornkit: vorn's similarity functions over whole collections.

Every score vornkit returns for a pair is bit for bit what the matching
``vorn`` function returns for that pair.
"""

from vornkit import _native
from vornkit._blocking import (
    BlockingRule,
    CandidateLimitError,
    auto_blocking_rules,
    candidate_pairs,
    estimate_comparisons,
    score_pairs,
)
from vornkit._clusters import cluster_pairs
from vornkit._collections import cdist, cpdist, extract, extract_one, prepare, threshold_join, topk
from vornkit._comparisons import Field
from vornkit._components import connected_components
from vornkit._dedup import dedup
from vornkit._edit_index import EditIndex
from vornkit._fellegi_sunter import LinkageModel, LinkageResult, link_records
from vornkit._fingerprints import (
    lsh_band_keys,
    lsh_params,
    minhash_signatures,
    signature_agreement,
    simhash_fingerprints,
)
from vornkit._indexes import MinHashLSH, SimHashIndex
from vornkit._prepared_texts import PreparedTexts

__all__: list[str] = []
__all__ += ["cdist", "cpdist", "extract", "extract_one", "topk", "threshold_join", "prepare", "PreparedTexts"]
__all__ += ["minhash_signatures", "simhash_fingerprints", "MinHashLSH", "SimHashIndex", "connected_components"]
__all__ += ["dedup", "lsh_params", "lsh_band_keys", "signature_agreement"]
__all__ += ["BlockingRule", "CandidateLimitError", "auto_blocking_rules", "candidate_pairs", "estimate_comparisons"]
__all__ += ["score_pairs", "cluster_pairs"]
__all__ += ["Field", "LinkageModel", "LinkageResult", "link_records"]
__all__ += ["EditIndex"]

del _native
