#!/usr/bin/env python3
"""Times Varnalo against R on the four comparison cases.

Usage: run.py [--runs N] [--varnalo PATH] [--work DIR] [CASE ...]

Writes the cases with generate.py into DIR (default: a new temporary
folder, removed at the end), then for each case runs the two sides
alternately N times (default 5), each as a whole process on the same
machine: Varnalo with the case's answer file in its working folder, and
Rscript peer.R on the same data. Prints per case the median wall time of
each side and R / Varnalo. PATH defaults to build/Varnalo of this tree.

Before the timed runs, one untimed run of Varnalo fits the answer file to
the program's dialogue on the data (a variance ratio test adds a level
prompt where heterogeneity is significant). Every timed Varnalo run is
checked: exit status 0, nothing on the error stream, and one ED50, one ED10
and one ED90 table in REPORT.TXT with a row for every preparation; every
R run must end with status 0 and print its ED90 table. The last column
is the largest difference of log10 ED50 between the two sides over the
preparations: both fit the same model by maximum likelihood, so anything
beyond rounding (0.00001) means one side stopped short of the maximum.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
# The modules beside this script are imported from the source tree, which
# gets no compiled copies.
sys.dont_write_bytecode = True
sys.path.insert(0, HERE)
import generate  # noqa: E402

OUTPUTS = ("REPORT.TXT", "TABLE.TXT", "SIGMOID.TXT", "LINEAR.TXT")
# Answers kept in reserve in the fitting run: as many as the variance ratio
# tests there can be. Surplus ones only repeat ED50 in that run.
SPARE_ANSWERS = 2


class CaseFailed(Exception):
    pass


def clear_outputs(folder):
    for name in OUTPUTS:
        path = os.path.join(folder, name)
        if os.path.exists(path):
            os.remove(path)


def run_varnalo(varnalo, folder, answer_file):
    """One whole run in the case folder; returns (seconds, status, errors)."""
    clear_outputs(folder)
    with open(answer_file, "rb") as answers, \
            open(os.path.join(folder, "screen.out"), "wb") as screen:
        start = time.perf_counter()
        proc = subprocess.run([varnalo], cwd=folder, stdin=answers, stdout=screen,
                              stderr=subprocess.PIPE)
        seconds = time.perf_counter() - start
    return seconds, proc.returncode, proc.stderr.decode("latin-1")


def report_lines(folder):
    with open(os.path.join(folder, "REPORT.TXT"), encoding="latin-1") as f:
        return f.read().splitlines()


def ed_tables(lines):
    """{label: [rows of each table]} of the common-slope effective-dose tables of a report
    (those of the separate-slopes fit, shown when parallelism is rejected, are left out)."""
    tables = {}
    separate = False
    for i, line in enumerate(lines):
        if line.startswith("Effective Dose Estimates"):
            separate = False
        elif line.startswith("Effective Doses from the Separate-Slopes Fit"):
            separate = True
        match = re.match(r" #\s+(ED\d+) \(95% Limits\)", line)
        if not match or separate:
            continue
        rows = 0
        for row in lines[i + 1:]:
            if not re.match(r"\s*\d+ ", row):
                break
            rows += 1
        tables.setdefault(match.group(1), []).append(rows)
    return tables


def varnalo_log_ed50(lines):
    """{preparation: log10 ED50} from the ED50 table of a report."""
    start = next(i for i, line in enumerate(lines) if re.match(r" #\s+ED50 ", line))
    values = {}
    for row in lines[start + 1:]:
        match = re.match(r"\s*\d+ [^(]*\([^)]*\)\s*(-?\d+\.\d+)\(.*\)\s+(\S+)$", row)
        if not match:
            break
        values[match.group(2)] = float(match.group(1))
    return values


def r_log_ed50(out):
    """{preparation: log10 ED50} from the ED50 table printed by peer.R."""
    lines = out.splitlines()
    start = lines.index("ED50 (95% Fieller limits)")
    values = {}
    for row in lines[start + 2:]:
        fields = row.split()
        if len(fields) != 7 or not fields[0].startswith("P"):
            break
        values[fields[0]] = float(fields[4])
    return values


def check_varnalo(folder, nprep, status, errors):
    if status != 0 or errors:
        raise CaseFailed(f"Varnalo ended with status {status}: {errors.strip()}")
    tables = ed_tables(report_lines(folder))
    expected = {label: [nprep] for label in ("ED50", "ED10", "ED90")}
    if tables != expected:
        with open(os.path.join(folder, "screen.out"), encoding="latin-1") as f:
            tail = f.read()[-600:]
        raise CaseFailed(f"REPORT.TXT holds the ED tables {tables}, not {expected} "
                         f"(the answers do not fit the dialogue); the screen ends:\n{tail}")


def fit_answers(varnalo, folder, case):
    """Writes the case's answers.txt for the dialogue this program runs."""
    name, distribution, model, nprep, _ = case
    trial = os.path.join(folder, "answers.trial")
    with open(trial, "w") as f:
        f.write(generate.answers(nprep, distribution, model, SPARE_ANSWERS))
    _, status, errors = run_varnalo(varnalo, folder, trial)
    if status != 0 or errors:
        raise CaseFailed(f"Varnalo ended with status {status}: {errors.strip()}")
    with open(os.path.join(folder, "REPORT.TXT"), encoding="latin-1") as f:
        tests = sum(1 for line in f if line.startswith("Variance Ratio Test"))
    os.remove(trial)
    answer_file = os.path.join(folder, "answers.txt")
    with open(answer_file, "w") as f:
        f.write(generate.answers(nprep, distribution, model, tests))
    return answer_file


def run_r(folder):
    start = time.perf_counter()
    proc = subprocess.run(["Rscript", os.path.join(HERE, "peer.R"), folder],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    seconds = time.perf_counter() - start
    out = proc.stdout.decode("latin-1")
    if proc.returncode != 0 or "ED90 (95% Fieller limits)" not in out:
        raise CaseFailed(f"R ended with status {proc.returncode}: "
                         f"{proc.stderr.decode('latin-1').strip()[-600:]}")
    return seconds, out


def ed50_difference(folder, r_out):
    """The largest difference of log10 ED50 between the two sides: both
    should report the same maximum, so more than rounding says one of them
    stopped short of it."""
    ours = varnalo_log_ed50(report_lines(folder))
    theirs = r_log_ed50(r_out)
    if set(ours) != set(theirs):
        raise CaseFailed(f"ED50 tables name different preparations: {sorted(ours)} "
                         f"and {sorted(theirs)}")
    return max(abs(ours[name] - theirs[name]) for name in ours)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=5, help="runs of each side per case")
    parser.add_argument("--varnalo", default=os.path.join(ROOT, "build", "Varnalo"),
                        help="the program to time (default: build/Varnalo)")
    parser.add_argument("--work", help="folder for the cases (default: a temporary one)")
    parser.add_argument("cases", nargs="*", help="cases to run (default: all four)")
    args = parser.parse_args()

    known = [case[0] for case in generate.CASES]
    for name in args.cases:
        if name not in known:
            parser.error(f"unknown case {name}; the cases are {', '.join(known)}")
    if args.runs < 1:
        parser.error("--runs must be at least 1")
    varnalo = os.path.abspath(args.varnalo)
    if not os.access(varnalo, os.X_OK):
        sys.exit(f"run.py: no program {varnalo}: build it first or name it with --varnalo")
    if shutil.which("Rscript") is None:
        sys.exit("run.py: Rscript not found (Debian: r-base-core)")

    work = args.work or tempfile.mkdtemp(prefix="varnalo-peer-")
    try:
        names = generate.write_cases(work, args.cases or None)
        print(f"{varnalo} against R, {args.runs} alternate runs each, medians of wall time")
        print(f"{'case':<10} {'Varnalo':>10} {'R':>10} {'R / Varnalo':>12}"
              f" {'max |log ED50 difference|':>26}")
        failed = 0
        for case in generate.CASES:
            name, _, _, nprep, _ = case
            if name not in names:
                continue
            folder = os.path.join(work, name)
            try:
                answer_file = fit_answers(varnalo, folder, case)
                times = {"varnalo": [], "r": []}
                for _ in range(args.runs):
                    seconds, status, errors = run_varnalo(varnalo, folder, answer_file)
                    check_varnalo(folder, nprep, status, errors)
                    times["varnalo"].append(seconds)
                    seconds, r_out = run_r(folder)
                    times["r"].append(seconds)
                difference = ed50_difference(folder, r_out)
            except CaseFailed as failure:
                print(f"{name:<10} FAILED: {failure}", flush=True)
                failed += 1
                continue
            v = statistics.median(times["varnalo"])
            r = statistics.median(times["r"])
            print(f"{name:<10} {v:>8.3f} s {r:>8.3f} s {r / v:>12.2f} {difference:>26.5f}",
                  flush=True)
    finally:
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
