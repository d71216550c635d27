#!/usr/bin/env python3
"""Writes the four data sets of the comparison with R, with their answer files.

Usage: generate.py OUT_DIR

Each case is a working folder OUT_DIR/<case>/ holding DATA/P01.TXT ...
(one file per preparation, "dose n r" per line), answers.txt (the whole
Varnalo dialogue of the analysis, for data whose heterogeneity is not
significant: run.py fits it to the program's dialogue on the data) and
case.txt (distribution and model, read by the R script). The cases:

  l48x20m1   48 preparations x 20 groups, Logistic, model 1 (a, b)
  n48x20m4   48 preparations x 20 groups, Normal, model 4 (a, b, C, D)
  l99x200m1  99 preparations x 200 groups, Logistic, model 1
  n99x200m4  99 preparations x 200 groups, Normal, model 4

Every group has 50 subjects. The data are drawn with Python's Mersenne
Twister seeded with SEED, using random.random() alone (its sequence is the
same on every Python 3), so the same files come out on every machine.
"""
import math
import os
import random
import statistics
import sys

# The seed of the whole set (the date this generator was written, 2025-12-08).
SEED = 20251208
SUBJECTS = 50
# Common slope of the true lines per log10 dose on each distribution's own
# scale (logit or probit); each preparation's slope deviates by up to 15 %,
# so the parallelism test has something to find without failing wholesale.
LOGISTIC_SLOPE = 3.5
NORMAL_SLOPE = 2.0
SLOPE_SPREAD = 0.15
# Natural response and immunity rates of the model-4 sets.
NATURAL_C = 0.06
NATURAL_D = 0.04
# Every CONTROL_EVERY-th preparation of a model-4 set has its lowest dose
# group replaced by a control group (dose 0), as some assays run one.
CONTROL_EVERY = 4
# The doses of a preparation span the part of its curve where the treatment
# response runs from about TAIL to 1 - TAIL, placed by a guess of its ED50
# that is off by up to GUESS_ERROR log10 units, as an experimenter's is.
TAIL = 0.03
GUESS_ERROR = 0.15

# The dialogue stops asking for files after this many.
MAX_PREPARATIONS = 99

CASES = [
    # name, distribution (1 Normal, 2 Logistic), model, preparations, groups
    ("l48x20m1", 2, 1, 48, 20),
    ("n48x20m4", 1, 4, 48, 20),
    ("l99x200m1", 2, 1, 99, 200),
    ("n99x200m4", 1, 4, 99, 200),
]


def normal_cdf(z):
    return 0.5 * math.erfc(-z / math.sqrt(2.0))


def logistic_cdf(z):
    return 1.0 / (1.0 + math.exp(-z))


def binomial(rng, n, p):
    return sum(1 for _ in range(n) if rng.random() < p)


def preparation(rng, distribution, model, groups, control):
    """The dose groups of one preparation: [(dose, n, r)]."""
    if distribution == 2:
        slope0, cdf = LOGISTIC_SLOPE, logistic_cdf
        tail_z = math.log((1.0 - TAIL) / TAIL)
    else:
        slope0, cdf = NORMAL_SLOPE, normal_cdf
        tail_z = statistics.NormalDist().inv_cdf(1.0 - TAIL)
    c, d = (NATURAL_C, NATURAL_D) if model == 4 else (0.0, 0.0)
    log_ed50 = 0.5 + 2.0 * rng.random()             # ED50 from about 3 to 300
    slope = slope0 * (1.0 + SLOPE_SPREAD * (2.0 * rng.random() - 1.0))
    centre = log_ed50 + GUESS_ERROR * (2.0 * rng.random() - 1.0)
    half_width = tail_z / slope0 * (0.8 + 0.4 * rng.random())
    rows = []
    for g in range(groups):
        x = centre - half_width + 2.0 * half_width * g / (groups - 1)
        dose = float(f"{10.0 ** x:.4g}")
        if control and g == 0:
            dose = 0.0
        p0 = 0.0 if dose == 0.0 else cdf(slope * (math.log10(dose) - log_ed50))
        p = c + (1.0 - c - d) * p0
        rows.append((dose, SUBJECTS, binomial(rng, SUBJECTS, p)))
    return rows


def answers(nprep, distribution, model, variance_ratio_tests=0):
    """The Varnalo dialogue of one whole analysis, one answer per line:
    separate-slopes fit, common-slope fit, both tests, ED50, ED10 and ED90
    with 95 % limits for every preparation, no relative potency, no plots.

    The matrix of the common-slope fit is shown in blocks of five columns,
    each followed by a pause, once in the fitted and once in the
    location/scale form. Each test table whose heterogeneity is significant
    adds a variance ratio test with its own level prompt
    (variance_ratio_tests: 0, 1 or 2); only a run shows how many there are."""
    if not 2 <= nprep <= MAX_PREPARATIONS:
        raise ValueError(f"{nprep} preparations: the dialogue here is that of 2 to 99")
    nextra = 2 if model == 4 else 0
    matrix_blocks = (nprep + 1 + nextra - 1) // 5 + 1
    lines = ["", ""]                      # Dosage: doses; SAS Equivalent
    lines += [f"P{i:02d}" for i in range(1, nprep + 1)]
    if nprep < MAX_PREPARATIONS:
        lines += ["q"]                    # no more files (after the last
                                          # possible one the program goes on)
    lines += [""] * nprep                 # pause after each file's listing
    lines += [str(distribution), str(model)]
    lines += [""]                         # separate slopes: keep the starts
    lines += [""] * nprep                 # frequencies: one pause per file
    lines += [""]                         # pause after its estimates
    lines += [""]                         # common slope: keep the starts
    lines += [""] * nprep                 # frequencies: one pause per file
    lines += ["", ""]                     # Pearson and LR levels
    lines += [""] * variance_ratio_tests  # their variance ratio test levels
    lines += [""]                         # adopt the Pearson test
    lines += [""]                         # pause after the tests
    for _ in ("fitted form", "location/scale form"):
        lines += [""]                     # pause after the estimates
        lines += [""] * matrix_blocks     # pause after each matrix block
    lines += [""]                         # 95 % limits only
    lines += ["", "0.1", "0.9", "q"]      # ED50, ED10, ED90, leave
    lines += ["q"]                        # no relative potency
    lines += [""]                         # no plot data
    lines += ["q"]                        # end the run
    return "\n".join(lines) + "\n"


def write_folder(folder, distribution, model, preparations):
    """Writes one working folder: DATA/P01.TXT ... from preparations (a list
    of [(dose, n, r)]), answers.txt and case.txt."""
    os.makedirs(os.path.join(folder, "DATA"), exist_ok=True)
    for i, rows in enumerate(preparations, start=1):
        with open(os.path.join(folder, "DATA", f"P{i:02d}.TXT"), "w") as f:
            f.writelines(f"{dose:g} {n} {r}\n" for dose, n, r in rows)
    with open(os.path.join(folder, "answers.txt"), "w") as f:
        f.write(answers(len(preparations), distribution, model))
    with open(os.path.join(folder, "case.txt"), "w") as f:
        f.write(f"distribution {distribution}\nmodel {model}\n"
                f"preparations {len(preparations)}\ngroups {len(preparations[0])}\n")


def write_cases(out, names=None):
    """Writes every case (or those named) below out; returns their names.
    The draws run through all four cases in order whatever is chosen, so a
    case's data never depend on which others are written."""
    rng = random.Random(SEED)
    written = []
    for name, distribution, model, nprep, groups in CASES:
        preparations = [preparation(rng, distribution, model, groups,
                                    model == 4 and i % CONTROL_EVERY == 0)
                        for i in range(1, nprep + 1)]
        if names is None or name in names:
            write_folder(os.path.join(out, name), distribution, model, preparations)
            written.append(name)
    return written


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    written = write_cases(sys.argv[1])
    print(f"wrote {', '.join(written)} to {sys.argv[1]}")


if __name__ == "__main__":
    main()
