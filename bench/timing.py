"""Rows, timing and the table of the benchmark.

Every row times one workload of mirelo_chess and, when available, the same
workload done by a baseline:

* python-chess (PyPI ``chess``): the ratio is its time divided by ours (how
  many times faster we are);
* a "floor", the ``_mirelo_floor`` helper extension that ``build_floor.py``
  compiles: the cheapest native code that produces the same Python objects.
  The ratio is our time divided by the floor's (how far above the
  interpreter's own cost we are);
* nothing (generator construction): the value alone.

Timings use ``time.perf_counter``; each is the best (minimum) of several
rounds of many calls, which keeps ratios stable on a small, busy machine.
"""

from __future__ import annotations

import gc
import platform
import time
import timeit

PYPY = platform.python_implementation() == "PyPy"

# PyPy compiles a loop once it has run a while: every job first runs untimed
# for this long, so that both sides are measured with warm JIT code.
WARM_UP_SECONDS = 0.3 if PYPY else 0.0


# --------------------------------------------------------------------------
# Rows and the table


class Row:
    """One line of the table.

    kind "faster": ratio = baseline / mirelo (how many times faster we are).
    kind "floor":  ratio = mirelo / floor (how far above the floor we are).
    kind "bytes":  mirelo and baseline are sizes in bytes; ratio = baseline / mirelo.
    kind "info":   no baseline; mirelo time only.
    """

    __slots__ = ("workload", "mirelo", "baseline", "base_time", "kind", "note", "error")

    def __init__(self, workload, mirelo, baseline=None, base_time=None, kind="info", note="", error=None):
        self.workload = workload
        self.mirelo = mirelo
        self.baseline = baseline
        self.base_time = base_time
        self.kind = kind
        self.note = note
        self.error = error

    @property
    def ratio(self):
        if self.mirelo is None or self.base_time is None:
            return None
        if self.kind == "faster":
            return self.base_time / self.mirelo if self.mirelo > 0 else float("inf")
        if self.kind == "floor":
            return self.mirelo / self.base_time if self.base_time > 0 else float("inf")
        if self.kind == "bytes":
            return self.base_time / self.mirelo if self.mirelo > 0 else float("inf")
        return None

    def value_text(self, value):
        return fmt_bytes(value) if self.kind == "bytes" else fmt_time(value)

    def ratio_text(self):
        ratio = self.ratio
        if ratio is None:
            return "-"
        if self.kind == "faster":
            return f"{ratio:.3g}x faster" if ratio >= 1 else f"{ratio:.3g}x"
        if self.kind == "bytes":
            return f"{ratio:.3g}x smaller" if ratio >= 1 else f"{ratio:.3g}x"
        return f"{ratio:.3g}x floor"


def fmt_time(seconds):
    if seconds is None:
        return "-"
    if seconds >= 1:
        return f"{seconds:.3f} s"
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.3f} ms"
    if seconds >= 1e-6:
        return f"{seconds * 1e6:.3f} us"
    return f"{seconds * 1e9:.1f} ns"


def fmt_bytes(size):
    return "-" if size is None else f"{size:,.0f} B"


def format_table(rows, columns=()):
    """The rows as an aligned text table, notes and errors listed after it.

    columns: extra (header, function of a row giving its text) pairs.
    """
    header = ("workload", "mirelo", "baseline", "baseline time", "ratio") + tuple(h for h, _ in columns)
    lines = []
    for r in rows:
        lines.append((r.workload, r.value_text(r.mirelo), r.baseline or "-", r.value_text(r.base_time),
                      r.ratio_text()) + tuple(cell(r) for _, cell in columns))
    widths = [max(len(h), *(len(l[i]) for l in lines)) if lines else len(h)
              for i, h in enumerate(header)]
    right = {1, 3, 4}

    def fmt_line(cells):
        out = []
        for i, c in enumerate(cells):
            out.append(c.rjust(widths[i]) if i in right else c.ljust(widths[i]))
        return "  ".join(out).rstrip()

    text = [fmt_line(header), fmt_line(["-" * w for w in widths])]
    text += [fmt_line(l) for l in lines]
    notes = [f"  {r.workload}: {r.note}" for r in rows if r.note and not r.error]
    if notes:
        text += ["", "notes:"] + notes
    errors = [r for r in rows if r.error]
    if not rows:
        text += ["", "no rows measured"]
    if errors:
        text += ["", f"ERRORS ({len(errors)}):"]
        for r in errors:
            text.append(f"  {r.workload}: {r.error}")
    return "\n".join(text)


# --------------------------------------------------------------------------
# Timing


class Job:
    """A statement to time: ``setup`` runs once per round and the names it
    makes are locals of the timing loop, so bound methods fetched there cost
    one local load per call.  ``unroll`` repeats the statement inside the loop
    body so the loop's own cost is small; ``per`` divides the time further
    (a statement that does ``per`` operations)."""

    def __init__(self, stmt, setup="pass", ns=None, unroll=1, per=1):
        body = "\n".join([stmt] * unroll)
        self.timer = timeit.Timer(body, setup, timer=time.perf_counter, globals=ns or {})
        self.unroll = unroll
        self.per = per
        self.number = 1


class Timer:
    """Best-of-rounds time per call.

    The jobs compared in one row are calibrated to about ``round_time`` per
    round each and then run in alternation, round after round, and the
    fastest round of each is kept: a busy machine slows both sides of a
    comparison alike, and short rounds often catch it quiet.
    """

    def __init__(self, round_time=0.02, rounds=15):
        self.round_time = round_time
        self.rounds = rounds

    def _calibrate(self, job):
        number = 1
        while True:
            elapsed = job.timer.timeit(number)
            if elapsed >= self.round_time / 4 or number >= 1 << 30:
                break
            number *= 8 if elapsed < self.round_time / 50 else 2
        job.number = max(1, int(number * self.round_time / max(elapsed, 1e-9)))

    @staticmethod
    def _warm_up(job):
        deadline = time.perf_counter() + WARM_UP_SECONDS
        number = 1
        while time.perf_counter() < deadline:
            job.timer.timeit(number)
            number = min(number * 2, 1024)

    def compare(self, *jobs):
        """Seconds per operation for each job (None stays None)."""
        live = [j for j in jobs if j is not None]
        for job in live:
            self._warm_up(job)
            self._calibrate(job)
        best = {id(j): float("inf") for j in live}
        for _ in range(self.rounds):
            for job in live:
                best[id(job)] = min(best[id(job)], job.timer.timeit(job.number))
        return [None if j is None else best[id(j)] / (j.number * j.unroll * j.per) for j in jobs]

    def per_call(self, stmt, setup="pass", ns=None, unroll=1, per=1):
        return self.compare(Job(stmt, setup, ns, unroll, per))[0]

    @staticmethod
    def once(*calls):
        """Best time of single calls: each of ``calls`` is (func, rounds) or
        None, and the funcs take turns, round after round, until each has run
        its rounds (at least one). Returns (seconds, last result) per call,
        (None, None) for None."""
        best = [None] * len(calls)
        result = [None] * len(calls)
        was_enabled = gc.isenabled()
        gc.disable()
        try:
            for r in range(max([1] + [rounds for _, rounds in filter(None, calls)])):
                for i, call in enumerate(calls):
                    if call is None or (r > 0 and r >= call[1]):
                        continue
                    t0 = time.perf_counter()
                    value = call[0]()
                    elapsed = time.perf_counter() - t0
                    result[i] = value  # the previous result is freed outside the timing
                    best[i] = elapsed if best[i] is None else min(best[i], elapsed)
        finally:
            if was_enabled:
                gc.enable()
        return list(zip(best, result))
