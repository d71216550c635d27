#!/usr/bin/env python3
"""The answer files of the comparison fit the program's dialogue exactly.

Usage: answers_test.py VARNALO

Runs VARNALO on small data sets shaped like the comparison's, with the
answers generate.py writes and run.py fits to the dialogue, and checks each
run the way run.py does: status 0, nothing on the error stream, one ED50, ED10 and ED90
table with every preparation. The cases reach every place where the count
of answers changes: matrices of one and of several blocks of five columns,
C and D, the 99th file (after which the name dialogue ends by itself), and
heterogeneity significant in both tests (two variance ratio tests).
"""
import os
import random
import sys
import tempfile

# The modules beside this script are imported from the source tree, which
# gets no compiled copies.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import generate  # noqa: E402
import run  # noqa: E402


def overdispersed(rows):
    """The same groups with the responders pushed alternately to none and
    to all: far more spread than the binomial allows."""
    return [(dose, n, 0 if i % 2 else n) for i, (dose, n, _) in enumerate(rows)]


# name, distribution, model, preparations, groups, variance ratio tests
# (None: as the random data give)
CASES = [
    ("four preparations, one matrix block", 2, 1, 4, 6, None),
    ("six preparations, two matrix blocks", 2, 1, 6, 6, None),
    ("C and D, a control group", 1, 4, 5, 8, None),
    ("ninety-nine preparations", 2, 1, 99, 4, None),
    ("heterogeneity significant in both tests", 2, 1, 3, 8, 2),
]


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    varnalo = os.path.abspath(sys.argv[1])
    rng = random.Random(1)
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        for number, (name, distribution, model, nprep, groups, tests) in enumerate(CASES):
            folder = os.path.join(work, str(number))
            preparations = [generate.preparation(rng, distribution, model, groups,
                                                 model == 4 and i == 2)
                            for i in range(1, nprep + 1)]
            if tests:
                preparations = [overdispersed(rows) for rows in preparations]
            generate.write_folder(folder, distribution, model, preparations)
            case = (name, distribution, model, nprep, groups)
            try:
                if tests:
                    # As written, the file leaves the two level prompts out.
                    _, status, errors = run.run_varnalo(
                        varnalo, folder, os.path.join(folder, "answers.txt"))
                    try:
                        run.check_varnalo(folder, nprep, status, errors)
                    except run.CaseFailed:
                        pass
                    else:
                        raise run.CaseFailed("the answers without the variance ratio "
                                             "tests passed the check")
                answer_file = run.fit_answers(varnalo, folder, case)
                if tests is not None:
                    with open(answer_file) as f:
                        if f.read() != generate.answers(nprep, distribution, model, tests):
                            raise run.CaseFailed(f"the fitted answers are not those of "
                                                 f"{tests} variance ratio tests")
                _, status, errors = run.run_varnalo(varnalo, folder, answer_file)
                run.check_varnalo(folder, nprep, status, errors)
            except run.CaseFailed as failure:
                print(f"FAILED: {name}: {failure}", file=sys.stderr)
                failures += 1
    if failures:
        print(f"{failures} of {len(CASES)} cases failed", file=sys.stderr)
        sys.exit(1)
    print(f"answer files: all {len(CASES)} cases passed")


if __name__ == "__main__":
    main()
