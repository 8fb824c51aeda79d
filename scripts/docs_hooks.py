"""Build hooks of the documentation site (mkdocs.yml: hooks).

* The benchmark charts under bench/ are published as assets/bench/<name>.png,
  so that the pages show what bench/ last wrote, without a copy in docs/.
* A line ``<!-- help: vornkit COMMAND -->`` in a page becomes the ``--help``
  text of that command, taken from the parser itself, so that the reference
  cannot drift from the command line.
* A line ``<!-- native: vornkit.fuzz -->`` or ``<!-- native:
  vornkit.distance -->`` becomes the signature and docstring of each of the
  module's native functions (for ``vornkit.distance``: the functions of each
  metric object), which the API reference, reading the sources, cannot see.
"""

from __future__ import annotations

import contextlib
import io
import os
import re
from pathlib import Path

from mkdocs.structure.files import File, Files

ROOT = Path(__file__).resolve().parent.parent
HELP_MARKER = re.compile(r"^<!-- help: vornkit(?P<command>(?: [a-z]+)?) -->$", re.MULTILINE)
NATIVE_MARKER = re.compile(r"^<!-- native: (?P<module>vornkit\.(?:fuzz|distance)) -->$", re.MULTILINE)
METRIC_FORMS = ("distance", "similarity", "normalized_distance", "normalized_similarity", "editops", "opcodes")


def on_files(files: Files, config) -> Files:
    for chart in sorted((ROOT / "bench").glob("*.png")):
        files.append(File.generated(config, f"assets/bench/{chart.name}", abs_src_path=str(chart)))
    return files


def command_help(command: str) -> str:
    from vornkit.cli import build_parser

    os.environ["COLUMNS"] = "100"  # argparse wraps at the terminal's width; the page should not depend on it
    out = io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.suppress(SystemExit):
        build_parser().parse_args([*command.split(), "--help"])
    return out.getvalue().rstrip()


def native_reference(module_name: str) -> str:
    import importlib
    import inspect

    module = importlib.import_module(module_name)
    functions: list[tuple[str, object]] = []
    for name in module.__all__:
        value = getattr(module, name)
        if inspect.isbuiltin(value):
            functions.append((name, value))
        elif not inspect.isclass(value) and hasattr(value, "distance"):  # a metric and its functions
            functions += [(f"{name}.{form}", getattr(value, form)) for form in METRIC_FORMS if hasattr(value, form)]
    return "\n\n".join(
        f"### `{name}`\n\n```text\n{name}{inspect.signature(function)}\n\n{inspect.getdoc(function)}\n```"
        for name, function in functions
    )


def on_page_markdown(markdown: str, page, config, files) -> str:
    def replace(match: re.Match[str]) -> str:
        return "```text\n" + command_help(match["command"].strip()) + "\n```"

    markdown = HELP_MARKER.sub(replace, markdown)
    return NATIVE_MARKER.sub(lambda match: native_reference(match["module"]), markdown)
