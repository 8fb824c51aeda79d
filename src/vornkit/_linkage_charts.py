"""PNG charts of a linkage model and of one pair's waterfall, drawn with matplotlib.

matplotlib is optional (the ``demo`` extra) and imported only here, when a chart is asked for.
"""

from __future__ import annotations

from pathlib import Path
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    from vornkit._fellegi_sunter import LinkageModel, LinkageResult

AGREE, DISAGREE = "#2f7d4f", "#b33c3c"


def _pyplot() -> Any:
    try:
        import matplotlib
    except ImportError:
        raise ImportError("linkage charts need matplotlib: pip install matplotlib (or 'vorn[demo]')") from None
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    return plt


def model_chart(model: LinkageModel, path: Path) -> Path:
    """Each field's levels as bars of match weight, labelled with m and u."""
    plt = _pyplot()
    table = model.table()
    rows = len(table["field"])
    figure, axes = plt.subplots(figsize=(9, 0.32 * rows + 1.4), dpi=110)
    labels = [f"{field}: {name}" for field, name in zip(table["field"], table["name"])]
    positions = list(range(rows))[::-1]
    colours = [AGREE if weight >= 0 else DISAGREE for weight in table["weight"]]
    axes.barh(positions, table["weight"], color=colours)
    axes.set_yticks(positions, labels, fontsize=8)
    for y, weight, m, u in zip(positions, table["weight"], table["m"], table["u"]):
        axes.annotate(
            f"m {m:.3g}  u {u:.3g}",
            (weight, y),
            xytext=(4 if weight >= 0 else -4, 0),
            textcoords="offset points",
            ha="left" if weight >= 0 else "right",
            va="center",
            fontsize=7,
        )
    axes.axvline(0, color="grey", linewidth=0.8)
    axes.set(
        xlabel="match weight log2(m/u)", title=f"Fitted linkage model (prior match weight {model.prior_weight:.2f})"
    )
    axes.margins(x=0.25)
    figure.tight_layout()
    figure.savefig(path)
    plt.close(figure)
    return path


def waterfall_chart(result: LinkageResult, row: int, path: Path) -> Path:
    """The prior and each field's weight as steps from 0 to the pair's match weight."""
    plt = _pyplot()
    steps = result.explain(row)
    names = [f"{step}\n{level}" if level else step for step, level in zip(steps["step"], steps["level"])]
    figure, axes = plt.subplots(figsize=(max(6.0, 1.1 * len(names)), 4.5), dpi=110)
    running = 0.0
    for x, (weight, total) in enumerate(zip(steps["weight"][:-1], steps["cumulative"][:-1])):
        axes.bar(x, weight, bottom=running, color=AGREE if weight >= 0 else DISAGREE)
        running = total
    final = steps["weight"][-1]
    axes.bar(len(names) - 1, final, color="#3a5f9f")
    axes.axhline(0, color="grey", linewidth=0.8)
    low, high = min(0.0, *steps["cumulative"]), max(0.0, *steps["cumulative"])
    axes.set_ylim(low - 0.05 * (high - low + 1), high + 0.05 * (high - low + 1))
    axes.set_xticks(range(len(names)), names, fontsize=7, rotation=30, ha="right")
    left_id, right_id = result.left_id[row], result.right_id[row]
    axes.set(ylabel="match weight (log2 odds)", title=f"Why {left_id} and {right_id}: {steps['level'][-1]}")
    figure.tight_layout()
    figure.savefig(path)
    plt.close(figure)
    return path
