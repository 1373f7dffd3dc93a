"""Compile and import the ``_mirelo_floor`` helper extension.

The floor module is built with the system C compiler straight from
``floor.c`` into a cache directory keyed on the source and the interpreter,
so repeated benchmark runs reuse it.  ``build()`` returns the imported
module, or ``None`` (after printing why) when no compiler is available or
the build fails.

Usable as a script too: ``python bench/build_floor.py`` builds and prints
the module path.
"""

from __future__ import annotations

import hashlib
import importlib
import os
import shlex
import shutil
import subprocess
import sys
import sysconfig
import tempfile

MODULE_NAME = "_mirelo_floor"
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "floor.c")


def _compiler() -> list[str] | None:
    """The C compiler command: $CC, the interpreter's own, or cc/gcc/clang."""
    candidates = []
    if os.environ.get("CC"):
        candidates.append(os.environ["CC"])
    configured = sysconfig.get_config_var("CC")
    if configured:
        candidates.append(configured)
    candidates += ["cc", "gcc", "clang"]
    for cand in candidates:
        words = shlex.split(cand)
        if words and shutil.which(words[0]):
            return words
    return None


def _cache_dir(compiler: list[str], source: bytes) -> str:
    key = hashlib.sha256()
    key.update(source)
    key.update(sys.version.encode())
    key.update(sys.executable.encode())
    key.update(str(sysconfig.get_config_var("EXT_SUFFIX")).encode())
    key.update(" ".join(compiler).encode())
    root = os.environ.get("MIRELO_FLOOR_CACHE") or os.path.join(
        tempfile.gettempdir(), "mirelo_floor_cache")
    return os.path.join(root, key.hexdigest()[:16])


def _load(path: str):
    """Imports the built module from its cache folder."""
    folder = os.path.dirname(path)
    if folder not in sys.path:
        sys.path.insert(0, folder)
    return importlib.import_module(MODULE_NAME)


def build(verbose: bool = True):
    """Return the imported floor module, building it if needed, or None."""
    def say(msg: str) -> None:
        if verbose:
            print(f"[floor] {msg}", file=sys.stderr)

    try:
        with open(SOURCE, "rb") as fh:
            source = fh.read()
    except OSError as exc:
        say(f"cannot read {SOURCE}: {exc}")
        return None
    compiler = _compiler()
    if compiler is None:
        say("no C compiler found (set CC); floor comparisons are skipped")
        return None

    suffix = sysconfig.get_config_var("EXT_SUFFIX") or ".so"
    outdir = _cache_dir(compiler, source)
    target = os.path.join(outdir, MODULE_NAME + suffix)
    if not os.path.exists(target):
        os.makedirs(outdir, exist_ok=True)
        includes = {sysconfig.get_path("include"),
                    sysconfig.get_path("platinclude")}
        cmd = list(compiler) + ["-O2", "-shared", "-fPIC"]
        for inc in sorted(i for i in includes if i):
            cmd += ["-I", inc]
        if sys.platform == "darwin":
            cmd += ["-undefined", "dynamic_lookup"]
        fd, tmp = tempfile.mkstemp(suffix=suffix, dir=outdir)
        os.close(fd)
        cmd += [SOURCE, "-o", tmp]
        say("building: " + " ".join(shlex.quote(c) for c in cmd))
        try:
            proc = subprocess.run(cmd, capture_output=True, text=True)
        except OSError as exc:
            os.unlink(tmp)
            say(f"compiler failed to start: {exc}")
            return None
        if proc.returncode != 0:
            os.unlink(tmp)
            say("build failed:\n" + proc.stdout + proc.stderr)
            return None
        os.replace(tmp, target)
    try:
        return _load(target)
    except Exception as exc:  # a broken cached build: report, don't crash
        say(f"cannot import {target}: {exc}")
        return None


if __name__ == "__main__":
    mod = build()
    if mod is None:
        sys.exit(1)
    print(mod.__file__)
