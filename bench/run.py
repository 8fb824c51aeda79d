"""Times vorn beside its peers in one process, interleaved, on the same inputs.

    python bench/run.py            full run (a few minutes)
    python bench/run.py --quick    fewer rounds, shorter batches
    python bench/run.py --smoke    tiny sizes, seconds; used by the test suite

Prints a table of time per call and the ratio vorn ÷ peer, checks that
peers computing the same quantity agree with vorn, and writes the table
to bench/results.md and a chart to bench/results.png (when matplotlib is
installed). Exits with status 1 when any result disagrees.
"""

from __future__ import annotations

import argparse
import datetime
import importlib.metadata
import platform
import statistics
import sys
import time
from collections import deque
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from itertools import starmap
from pathlib import Path
from typing import Any

sys.path.insert(0, str(Path(__file__).parent))

from cases import Case, Peers, build_cases  # noqa: E402
from inputs import DEFAULT_TEXT_DIR, load  # noqa: E402

HERE = Path(__file__).parent
README_START = "<!-- benchmark table start -->"
README_END = "<!-- benchmark table end -->"


@dataclass(frozen=True)
class Mode:
    rounds: int
    batch_seconds: float
    count: int
    sweep: bool


MODES = {
    "full": Mode(rounds=9, batch_seconds=0.02, count=200, sweep=True),
    "quick": Mode(rounds=3, batch_seconds=0.005, count=100, sweep=True),
    "smoke": Mode(rounds=1, batch_seconds=0.0, count=8, sweep=False),
}


def per_call_seconds(fn: Callable[..., Any], args: Sequence[tuple[Any, ...]], number: int) -> float:
    """Mean time of one call over `number` passes through `args`, looped in C."""
    start = time.perf_counter()
    for _ in range(number):
        deque(starmap(fn, args), maxlen=0)
    return (time.perf_counter() - start) / (number * len(args))


def passes_for(fn: Callable[..., Any], args: Sequence[tuple[Any, ...]], seconds: float) -> int:
    """Number of passes through `args` that takes at least `seconds`."""
    number = 1
    while per_call_seconds(fn, args, number) * number * len(args) < seconds and number < 1 << 20:
        number *= 2
    return number


def measure(case: Case, mode: Mode) -> None:
    """Median per-call time of vorn and each peer, rounds interleaved."""
    contenders = {"vorn": case.vorn, **case.peers}
    # Enough calls per pass that starting a pass costs nothing measurable.
    if len(case.args) < 64 and mode.batch_seconds > 0:
        case.args = case.args * -(-64 // len(case.args))
    passes = {name: passes_for(fn, case.args, mode.batch_seconds) for name, fn in contenders.items()}
    samples: dict[str, list[float]] = {name: [] for name in contenders}
    order = list(contenders)
    for round_index in range(mode.rounds):
        # Rotate the order so that no contender always runs first.
        shift = round_index % len(order)
        for name in order[shift:] + order[:shift]:
            samples[name].append(per_call_seconds(contenders[name], case.args, passes[name]))
    case.timings = {name: statistics.median(times) for name, times in samples.items()}


def disagreements(case: Case) -> list[str]:
    """Arguments on which a same-quantity peer's result differs from vorn's."""
    found = []
    expected = [case.vorn(*args) for args in case.args]
    for name in case.same_value:
        if name not in case.peers:
            continue
        for args, want in zip(case.args, expected):
            got = case.peers[name](*args)
            if got != want:
                shown = ", ".join(repr(a)[:40] for a in args)
                found.append(f"{case.family} [{case.input}] {name}({shown}) = {got!r}, vorn gives {want!r}")
    return found


def format_time(seconds: float) -> str:
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds * 1e9:.3g} ns"


def ratio(case: Case, peer: str) -> float:
    return case.timings["vorn"] / case.timings[peer]


def timing_table(cases: list[Case]) -> list[str]:
    lines = ["| function | input | implementation | time per call | vorn ÷ peer |", "|---|---|---|---:|---:|"]
    for case in cases:
        lines.append(f"| {case.family} | {case.input} | **vorn** | {format_time(case.timings['vorn'])} | |")
        for peer in case.peers:
            lines.append(f"| | | {peer} | {format_time(case.timings[peer])} | {ratio(case, peer):.3g} |")
    return lines


def target_table(cases: list[Case]) -> list[str]:
    lines = ["| function | input | peer | target vorn ÷ peer | measured | met |", "|---|---|---|---:|---:|:-:|"]
    for case in cases:
        if case.target is None:
            continue
        peer, limit = case.target
        if peer not in case.timings:
            lines.append(f"| {case.family} | {case.input} | {peer} | ≤ {limit:g} | peer missing | – |")
            continue
        measured = ratio(case, peer)
        lines.append(
            f"| {case.family} | {case.input} | {peer} | ≤ {limit:g} | {measured:.3g} | "
            f"{'yes' if measured <= limit else 'no'} |"
        )
    return lines


def vorn_version() -> str:
    try:
        return importlib.metadata.version("vorn")
    except importlib.metadata.PackageNotFoundError:
        return "(uninstalled build)"


def machine_description() -> str:
    cpu = platform.processor() or platform.machine()
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return f"{cpu}, Python {platform.python_version()}, {platform.system()} {platform.machine()}"


def peer_versions(peers: Peers) -> str:
    names = {"sklearn": "scikit-learn", "rank_bm25": "rank-bm25"}
    parts = []
    for module in peers.modules:
        distribution = names.get(module, module)
        try:
            parts.append(f"{distribution} {importlib.metadata.version(distribution)}")
        except importlib.metadata.PackageNotFoundError:
            parts.append(module)
    return ", ".join(parts)


def write_chart(cases: list[Case], path: Path) -> bool:
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    fixed = [c for c in cases if c.sweep_length is None and c.peers]
    figure, (bars, sweep) = plt.subplots(1, 2, figsize=(15, 0.32 * len(fixed) + 2.5))
    labels, values = [], []
    for case in fixed:
        peer = case.target[0] if case.target and case.target[0] in case.peers else min(case.peers, key=case.timings.get)
        labels.append(f"{case.family} [{case.input}] ÷ {peer}")
        values.append(ratio(case, peer))
    bars.barh(labels, values, color=["tab:green" if v <= 1 else "tab:red" for v in values])
    bars.axvline(1.0, color="black", linewidth=0.8)
    bars.set_xscale("log")
    bars.invert_yaxis()
    bars.set_xlabel("time ratio vorn ÷ peer (log; left of 1 means vorn is faster)")
    bars.tick_params(axis="y", labelsize=7)
    for family, colour in (("sweep Levenshtein", "tab:blue"), ("sweep Jaro-Winkler", "tab:orange")):
        points = [c for c in cases if c.family == family]
        if not points:
            continue
        lengths = [c.sweep_length for c in points]
        sweep.plot(lengths, [c.timings["vorn"] for c in points], "o-", color=colour, label=f"vorn {family[6:]}")
        sweep.plot(
            lengths, [c.timings["rapidfuzz"] for c in points], "s--", color=colour, label=f"rapidfuzz {family[6:]}"
        )
    if sweep.lines:
        sweep.set_xscale("log")
        sweep.set_yscale("log")
        sweep.set_xlabel("characters per text")
        sweep.set_ylabel("seconds per call")
        sweep.legend()
        sweep.grid(True, which="both", alpha=0.3)
    else:
        sweep.set_axis_off()
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    plt.close(figure)
    return True


def update_readme(readme: Path, lines: list[str]) -> None:
    text = readme.read_text(encoding="utf-8")
    start, end = text.find(README_START), text.find(README_END)
    if start < 0 or end < start:
        raise SystemExit(f"{readme}: markers {README_START} / {README_END} not found")
    body = "\n".join(lines)
    readme.write_text(text[: start + len(README_START)] + "\n" + body + "\n" + text[end:], encoding="utf-8")


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    group = parser.add_mutually_exclusive_group()
    group.add_argument("--quick", action="store_const", const="quick", dest="mode")
    group.add_argument("--smoke", action="store_const", const="smoke", dest="mode")
    parser.add_argument("--texts", type=Path, default=DEFAULT_TEXT_DIR, help="directory of text files")
    parser.add_argument("--output", type=Path, default=HERE, help="where results.md and results.png go")
    parser.add_argument("--readme", type=Path, help="also put the target table into this README")
    parser.add_argument("--only", metavar="TEXT", help="run only the functions whose name contains TEXT")
    options = parser.parse_args(argv)
    mode = MODES[options.mode or "full"]

    peers = Peers()
    inputs = load(options.texts, count=mode.count)
    cases = [
        c
        for c in build_cases(inputs, peers, sweep=mode.sweep)
        if c.args and (options.only is None or options.only.lower() in c.family.lower())
    ]
    print(f"vorn {vorn_version()} on {machine_description()}")
    print(f"inputs from {inputs.source}; peers: {peer_versions(peers)}")
    if peers.missing:
        print(f"left out (not installed): {', '.join(peers.missing)}")

    problems = [p for case in cases for p in disagreements(case)]
    for case in cases:
        measure(case, mode)
        print(
            f"  {case.family:<26} {case.input:<22} vorn {format_time(case.timings['vorn']):>9}  "
            + "  ".join(f"{p} {ratio(case, p):.3g}" for p in case.peers)
        )

    header = [
        f"Measured {datetime.date.today().isoformat()} on {machine_description()}; "
        f"{mode.rounds} interleaved rounds, median time per call, inputs from {inputs.source}.",
        f"Peers: {peer_versions(peers)}." + (f" Not installed: {', '.join(peers.missing)}." if peers.missing else ""),
    ]
    targets = target_table(cases)
    report = [
        "# vorn benchmark results",
        "",
        *header,
        "",
        "## Targets",
        "",
        *targets,
        "",
        "## All measurements",
        "",
        *timing_table(cases),
        "",
    ]
    if problems:
        report += ["## Disagreements", "", *(f"- {p}" for p in problems), ""]
    options.output.mkdir(parents=True, exist_ok=True)
    (options.output / "results.md").write_text("\n".join(report), encoding="utf-8")
    print()
    print("\n".join(targets))
    charted = write_chart(cases, options.output / "results.png")
    print(
        f"\nwrote {options.output / 'results.md'}"
        + (" and results.png" if charted else " (matplotlib missing: no chart)")
    )
    if options.readme:
        update_readme(options.readme, [*header, "", *targets])
    if problems:
        print(f"\n{len(problems)} DISAGREEMENTS with peers computing the same quantity:", file=sys.stderr)
        for problem in problems[:20]:
            print(f"  {problem}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
