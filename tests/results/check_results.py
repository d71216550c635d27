#!/usr/bin/env python3
"""Checks the result files of analyses against their reports.

In every folder given (or, with --run BIN, in folders of analyses it runs
first with the program's command line) it reads REPORT.TXT, every
ANALYSISnnn.JSON with Python's json module and every EDSnnn.CSV and
ESTIMATESnnn.CSV with its csv module, and checks that

- each CSV has one header of unique names and as many fields in every row;
- every number the report prints equals the JSON's value written with the
  report's own format (the likelihood, AIC, estimates, standard errors,
  Wald chi-squares, p values, covariance matrices, test tables, the
  heterogeneity factor, deviates and g, effective doses and relative
  potencies with their limits, natural rates), a "-" or "+" in the report
  being null in the JSON;
- every note of the JSON stands in the report (or on the error stream, for a
  refused file), and the report's maximum-check line is the fit's note;
- the CSV rows carry the JSON's values, a null being an empty field.

Usage: check_results.py DIR...            (for example every golden session)
       check_results.py --run BIN [SOURCE_DIR]
Exit status 0 when everything matches; 1 with one line per mismatch.
"""
import csv
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

NUMBER = r"[-+]?(?:\d+\.?\d*(?:e[-+]?\d+)?|nan|inf)"


# A cell of an estimates table: seven decimals, or the exponent form.
CELL = r"(?:-?\d\.?\d*e[-+]\d+|-?\d+\.\d{7})"


class Mismatch(Exception):
    pass


def printed_like(value, token):
    """The JSON value written as the report wrote token ("-"/"+" for null)."""
    if value is None:
        return None
    if "e" in token:
        digits = len(token.split("e")[0].split(".")[1]) if "." in token else 0
        return "%.*e" % (digits, value)
    digits = len(token.split(".")[1]) if "." in token else 0
    return "%.*f" % (digits, value)


class Checker:
    def __init__(self, where):
        self.where = where
        self.failures = []
        self.checked = 0

    def number(self, what, token, value):
        token = token.strip()
        self.checked += 1
        if token in ("-", "+"):
            if value is not None:
                self.failures.append(f"{self.where}: {what}: report '{token}', JSON {value!r}")
            return
        text = printed_like(value, token)
        # printf and Python round alike; "-0.0000" is the report's zero too.
        if text is None or (text != token and text.lstrip("-") != token.lstrip("-")) or (
                text != token and float(token) != 0.0):
            self.failures.append(f"{self.where}: {what}: report '{token}', JSON {value!r}")

    def equal(self, what, got, expected):
        self.checked += 1
        if got != expected:
            self.failures.append(f"{self.where}: {what}: {got!r} != {expected!r}")


# ---- the report ------------------------------------------------------------------

def report_sections(text):
    """The report's lines, each analysis apart (a form feed ends each)."""
    return [a.split("\n") for a in text.split("\f") if a.strip()]


def after(lines, i, heading):
    while i < len(lines) and not lines[i].startswith(heading):
        i += 1
    return i


def check_fits(c, lines, doc):
    fits = doc["fits"]
    loglik = [l for l in lines if l.startswith("  ^L =")]
    aic = [l for l in lines if l.startswith("  AIC=")]
    c.equal("number of fits", len(loglik), len(fits))
    for fit, l, a in zip(fits, loglik, aic):
        m = re.match(r"  \^L =\s*(\S+)\s+Iterations : (\d+)", l)
        c.number(f"{fit['kind']} ^L", m.group(1), fit["max_log_likelihood"])
        c.equal(f"{fit['kind']} iterations", int(m.group(2)), fit["iterations"])
        m = re.match(r"  AIC=\s*(\S+)\s+m = (\d+)", a)
        c.number(f"{fit['kind']} AIC", m.group(1), fit["aic"])
        c.equal(f"{fit['kind']} m", int(m.group(2)), fit["parameters"])
        if fit["maximum_check"]:
            c.equal(f"{fit['kind']} maximum check in the report",
                    fit["maximum_check"] in " ".join(x.strip() for x in lines), True)


def estimate_tables(lines):
    """Each "Parameter Estimates" table: rows of tokens."""
    tables, i = [], 0
    while True:
        i = after(lines, i, "Parameter Estimates")
        if i >= len(lines):
            return tables
        rows, i = [], i + 2
        while i < len(lines) and lines[i].startswith("  ") and not lines[i].startswith("  Standard"):
            rows.append(lines[i])
            i += 1
        tables.append(rows)


def matrices(lines):
    found, i = [], 0
    while True:
        i = after(lines, i, "Matrix of Variances")
        if i >= len(lines):
            return found
        i += 1
        if lines[i].startswith("  Standard errors"):
            found.append(None)
            continue
        rows = {}
        while i < len(lines) and lines[i].strip() and not lines[i].startswith(
                ("Parameter", "Normal", "Matrix")):
            if lines[i].startswith("  ") and lines[i][2] != " ":  # a row, not the labels
                label = lines[i].split()[0]
                cells = re.findall(r"\(\s*(" + NUMBER + r"|-)\)|(" + NUMBER + r"|-)", lines[i][5:])
                rows.setdefault(label, []).extend(cells)
            i += 1
        found.append(rows)


def check_estimates(c, lines, doc):
    tables = [t for f in doc["fits"] for t in f["estimates"]]
    printed = estimate_tables(lines)
    c.equal("number of estimate tables", len(printed), len(tables))
    for table, rows in zip(tables, printed):
        c.equal(f"{table['form']} rows", len(rows), len(table["parameters"]))
        for p, row in zip(table["parameters"], rows):
            # Seven fixed decimals, or the exponent form a value too wide for
            # its column takes.
            m = re.match(r"  (\S+)\s+(" + CELL + r")\s*(" + CELL + r"|-)?\s*(" + CELL + r"|-)?"
                         r"\s*(\d\.\d{4}|-)?\s+(\S.*)$", row)
            if not m:
                c.failures.append(f"{c.where}: estimates row not read: {row!r}")
                continue
            c.equal("label", m.group(1), p["label"])
            c.number(f"{p['label']} estimate", m.group(2), p["estimate"])
            if p["fixed"]:
                continue
            c.number(f"{p['label']} std error", m.group(3) or "", p["std_error"])
            if p["quantity"] not in ("C", "D"):
                c.number(f"{p['label']} Wald", m.group(4) or "", p["wald_chi2"])
                c.number(f"{p['label']} p", m.group(5) or "", p["p"])
    # The matrices of the common-slope fit, in both forms.
    common = doc["fits"][-1]["estimates"]
    for table, rows in zip(common, matrices(lines)):
        cov = table["covariance"]
        c.equal(f"{table['form']} matrix shown", rows is not None, cov is not None)
        if rows is None or cov is None:
            continue
        for r, label in enumerate(cov["labels"]):
            cells = rows.get(label, [])
            c.equal(f"{table['form']} matrix row {label}", len(cells), len(cov["labels"]))
            for col, (corr, var) in enumerate(cells):
                if col <= r:
                    c.number(f"cov {label},{col}", var, cov["matrix"][r][col])
                else:
                    c.number(f"corr {label},{col}", corr, cov["correlation"][r][col])


def check_tests(c, lines, doc):
    names = {"Parallelism": "parallelism", "Heterogeneity": "heterogeneity", "Total": "total"}
    printed = []
    for l in lines:
        m = re.match(r"  (Parallelism|Heterogeneity|Total)\s+(\S+)\s+(\S+)\s+(\S+)\s+(\S+)$", l)
        if m:
            printed.append(m)
    rows = [r for t in doc["tests"]["tables"] for r in t["rows"]]
    c.equal("test rows", len(printed), len(rows))
    for m, row in zip(printed, rows):
        c.equal("test row", names[m.group(1)], row["name"])
        c.number(f"{row['name']} DF", m.group(2), row["df"])
        c.number(f"{row['name']} chi2", m.group(3), row["chi2"])
        c.number(f"{row['name']} MS", m.group(4), row["mean_square"])
        c.number(f"{row['name']} p", m.group(5), row["p"])
    ratios = [t["variance_ratio"] for t in doc["tests"]["tables"] if t["variance_ratio"]]
    printed_ratios = [re.match(r"  F\(\s*\d+,\s*\d+; (\S+)\) = (\S+)", l) for l in lines
                      if l.startswith("  F(")]
    c.equal("variance ratio tests", len(printed_ratios), len(ratios))
    for m, ratio in zip(printed_ratios, ratios):
        c.number("F0", m.group(2), ratio["f"])
        c.number("p of F0", m.group(1), ratio["p"])
    for l in lines:
        m = re.match(r"  factor, h =\s*(\S+)", l)
        if m:
            c.number("heterogeneity factor", m.group(1), doc["tests"]["heterogeneity_factor"])
    adopted = "Pearson" if doc["tests"]["adopted"] == "pearson" else "Likelihood Ratio"
    c.equal("adopted test", any(l.startswith("* ") and adopted in l and "adopted" in l
                                for l in lines), True)


def check_deviates(c, lines, doc):
    printed = [re.search(r"\) = (\S+),\s+g \(\s*\S+\) =\s+(\S+)", l) for l in lines
               if re.match(r"  [ut] \(", l)]
    c.equal("deviate lines", len(printed), len(doc["deviates"]))
    for m, d in zip(printed, doc["deviates"]):
        c.number("deviate", m.group(1), d["deviate"])
        c.number("g", m.group(2), d["g"])


LIMIT_ROW = re.compile(r"\s*(\d+) (\S+?)\s*\(\s*(\S+?)\s*,\s*(\S+?)\s*\)\s*(\S+?)\s*\(\s*(\S+?)\s*,"
                       r"\s*(\S+?)\s*\)\s+(.*)$")


def limit_blocks(lines, start_heading, head_word):
    """(level label, confidence, rows) of the limit tables after each heading."""
    blocks, i = [], 0
    while True:
        i = after(lines, i, start_heading)
        if i >= len(lines):
            return blocks
        i += 1
        while i < len(lines):
            m = re.match(r" #\s+(\S+)\s*\((\d+)% Limits\)", lines[i])
            if m and m.group(1).startswith(head_word):
                rows, i = [], i + 1
                while i < len(lines) and (LIMIT_ROW.match(lines[i]) or "not available" in lines[i]):
                    rows.append(lines[i])
                    i += 1
                blocks.append((m.group(1), int(m.group(2)), rows))
            elif lines[i] == "" or m:
                i += 1
            else:
                break


def check_limit_rows(c, what, rows, entries, confidence, value, log_value):
    c.equal(f"{what} rows", len(rows), len(entries))
    for row, e in zip(rows, entries):
        limits = [l for l in e["limits"] if abs(l["confidence"] - confidence / 100) < 1e-9]
        c.equal(f"{what} {e['name']} limits at {confidence}%", len(limits), 1)
        if "not available" in row:
            c.equal(f"{what} {e['name']} no value", e[value], None)
            continue
        m = LIMIT_ROW.match(row)
        if not limits:
            continue
        lim = limits[0]
        c.equal(f"{what} name", m.group(8).strip(), e["name"])
        c.number(f"{what} {e['name']}", m.group(2), e[value])
        c.number(f"{what} {e['name']} lower", m.group(3), lim["lower"])
        c.number(f"{what} {e['name']} upper", m.group(4), lim["upper"])
        c.number(f"{what} {e['name']} log", m.group(5), e[log_value])
        c.number(f"{what} {e['name']} log lower", m.group(6), lim["log10_lower"])
        c.number(f"{what} {e['name']} log upper", m.group(7), lim["log10_upper"])


SEPARATE_HEADING = "Effective Doses from the Separate-Slopes Fit"


def check_effective_doses(c, lines, doc):
    # The common-slope tables, then those of the separate-slopes fit that a
    # rejected test of parallelism adds.
    for heading, field in (("Effective Dose Estimates", "preparations"),
                           (SEPARATE_HEADING, "separate_slopes")):
        blocks = limit_blocks(lines, heading, "ED")
        # The report groups by confidence level within each answer; the JSON by
        # ED level. Each block is matched by its label and confidence.
        by_label = {}
        for ed in doc["effective_doses"]:
            if field in ed:
                by_label.setdefault("ED%d" % round(100 * ed["level"]), []).append(ed)
        c.equal(f"{field} tables shown", bool(blocks), bool(by_label))
        seen = {}
        for label, confidence, rows in blocks:
            key = (label, confidence)
            k = seen.get(key, 0)
            seen[key] = k + 1
            eds = by_label.get(label, [])
            c.equal(f"{label} at {confidence}% in JSON", k < len(eds), True)
            if k < len(eds):
                check_limit_rows(c, label, rows, eds[k][field], confidence, "ed", "log10_ed")


def check_potencies(c, lines, doc):
    blocks = limit_blocks(lines, "Relative Potency Estimates", "Rho")
    per_reference = len(blocks) // max(1, len(doc["relative_potencies"]))
    c.equal("potency blocks", len(blocks), per_reference * len(doc["relative_potencies"]))
    for n, (label, confidence, rows) in enumerate(blocks):
        block = doc["relative_potencies"][n // max(1, per_reference)]
        check_limit_rows(c, "Rho", rows, block["preparations"], confidence, "rho", "log10_rho")
    variances = [l for l in lines if re.match(r" m\d+ ", l)]
    entries = [e for b in doc["relative_potencies"] for e in b["preparations"]]
    c.equal("variance rows of Log(Rho)", len(variances), len(entries))
    for l, e in zip(variances, entries):
        cells = l.split()
        c.number("Log(Rho)", cells[1], e["log10_rho"])
        c.number("Var Log(Rho)", cells[2], e["log10_variance"])
        c.number("SE Log(Rho)", cells[3], e["log10_std_error"])


def check_rates(c, lines, doc):
    i = after(lines, 0, "Natural Response and Immunity Rate Estimates")
    rates = doc["natural_rates"]
    if i >= len(lines):
        c.equal("natural rates", rates, [])
        return
    while i < len(lines):
        m = re.match(r" #\s+Proportion \((\d+)% Limits\)", lines[i])
        if not m:
            i += 1
            if i < len(lines) and lines[i].startswith("Natural"):
                break
            continue
        confidence = int(m.group(1))
        for rate in rates:
            i += 1
            row = re.match(r" (\S+)\s+(\S+?)(?:\(\s*(\S+?)\s*,\s*(\S+?)\s*\))?\s+(\S.*)$", lines[i])
            c.equal("rate", row.group(1), rate["quantity"])
            c.number(f"{rate['quantity']}", row.group(2), rate["estimate"])
            if rate["fixed"]:
                continue
            lim = [l for l in rate["limits"] if abs(l["confidence"] - confidence / 100) < 1e-9][0]
            c.number(f"{rate['quantity']} lower", row.group(3), lim["lower"])
            c.number(f"{rate['quantity']} upper", row.group(4), lim["upper"])
        i += 1


def check_notes(c, lines, doc, errors):
    joined = " ".join(l.strip() for l in lines)
    for note in doc["notes"]:
        where = errors if note["kind"] == "file_refused" else joined
        c.equal(f"note {note['kind']} in the report", note["text"] in where or note["text"] in
                " ".join(l.strip() for l in errors.split("\n")), True)


# ---- the CSV files ----------------------------------------------------------------

def read_csv(c, path):
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    header = rows[0]
    c.equal(f"{os.path.basename(path)} unique column names", len(set(header)), len(header))
    for n, row in enumerate(rows[1:], 2):
        c.equal(f"{os.path.basename(path)} line {n} fields", len(row), len(header))
    return [dict(zip(header, r)) for r in rows[1:]]


def csv_value(c, what, text, value):
    c.checked += 1
    if value is None:
        if text != "":
            c.failures.append(f"{c.where}: {what}: CSV '{text}', JSON null")
    elif isinstance(value, bool) or isinstance(value, str):
        c.equal(what, text, value if isinstance(value, str) else ("TRUE" if value else "FALSE"))
    elif text == "" or float(text) != value:
        c.failures.append(f"{c.where}: {what}: CSV '{text}', JSON {value!r}")


def check_csv(c, folder, doc):
    eds = read_csv(c, os.path.join(folder, doc["files"]["effective_doses_csv"]))
    expected = []
    seen = set()
    for block in doc["effective_doses"]:
        for e in block["preparations"]:
            key = (round(block["level"], 8), e["preparation"])
            if key not in seen:
                seen.add(key)
                expected.append((block["level"], e))
    c.equal("EDS rows", len(eds), len(expected))
    for row, (level, e) in zip(eds, expected):
        csv_value(c, "analysis", row["analysis"], str(doc["analysis"]))
        csv_value(c, "preparation", row["preparation"], e["name"])
        csv_value(c, "ed_level", row["ed_level"], level)
        csv_value(c, "ed", row["ed"], e["ed"])
        csv_value(c, "log10_ed", row["log10_ed"], e["log10_ed"])
        csv_value(c, "log10_std_error", row["log10_std_error"], e["log10_std_error"])
        for suffix, confidence in (("90", 0.90), ("95", 0.95), ("99", 0.99)):
            lim = [l for l in e["limits"] if abs(l["confidence"] - confidence) < 1e-9]
            for name in ("lower", "upper", "log10_lower", "log10_upper"):
                csv_value(c, f"{name}_{suffix}", row[f"{name}_{suffix}"],
                          lim[0][name] if lim else None)
    estimates = read_csv(c, os.path.join(folder, doc["files"]["estimates_csv"]))
    expected = [(f, t, p) for f in doc["fits"] for t in f["estimates"] for p in t["parameters"]]
    c.equal("ESTIMATES rows", len(estimates), len(expected))
    for row, (fit, table, p) in zip(estimates, expected):
        csv_value(c, "fit", row["fit"], fit["kind"])
        csv_value(c, "form", row["form"], table["form"])
        csv_value(c, "parameter", row["parameter"], p["label"])
        for name in ("estimate", "std_error", "wald_chi2", "p"):
            csv_value(c, f"{p['label']} {name}", row[name], p[name])
        csv_value(c, "fixed", row["fixed"], p["fixed"])


def check_folder(folder):
    c = Checker(folder)
    with open(os.path.join(folder, "REPORT.TXT"), encoding="latin-1") as f:
        analyses = report_sections(f.read())
    errors = ""
    for name in ("errors.txt",):
        if os.path.exists(os.path.join(folder, name)):
            with open(os.path.join(folder, name), encoding="latin-1") as f:
                errors = f.read()
    documents = sorted(glob.glob(os.path.join(folder, "ANALYSIS*.JSON")))
    c.equal("one JSON per analysis", len(documents), len(analyses))
    for path, lines in zip(documents, analyses):
        c.where = path
        with open(path) as f:
            doc = json.load(f)
        for check in (check_fits, check_estimates, check_tests, check_deviates,
                      check_effective_doses, check_potencies, check_rates):
            try:
                check(c, lines, doc)
            except (AttributeError, IndexError, KeyError, ValueError, TypeError) as e:
                c.failures.append(f"{path}: {check.__name__}: cannot read the report: {e!r}")
        check_notes(c, lines, doc, errors)
        check_csv(c, folder, doc)
    return c


# ---- analyses run here -----------------------------------------------------------------

# Command lines covering one and two preparations, every distribution, the
# model families with C and D, both variance methods, log doses, the 90 and 99
# per cent limits, the table of EDs and two references.
RUNS = [
    ["ROTENONE"],
    ["--log-dose", "--distribution", "logistic", "--model", "2", "BEETLE"],
    ["--distribution", "cloglog", "--model", "4", "--variance", "finney", "--limits-90-99",
     "--ed-table", "ROTENONE", "BEETLE"],
    ["--model", "6", "--ed", "0.1,0.5,0.9", "--reference", "1,2", "--limits-90-99",
     "ROTENONE", "BEETLE"],
    ["--model", "7", "--known-c", "0.2", "--test", "lr", "ROTENONE"],
    ["--each", "--model", "3", "--limits-90-99", "ROTENONE", "BEETLE"],
]


def run_analyses(binary, source):
    top = tempfile.mkdtemp(prefix="varnalo-results-")
    folders = []
    for n, args in enumerate(RUNS):
        folder = os.path.join(top, f"run{n}")
        os.makedirs(os.path.join(folder, "DATA"))
        for name in ("ROTENONE", "BEETLE"):
            shutil.copy(os.path.join(source, "examples", "DATA", name + ".TXT"),
                        os.path.join(folder, "DATA"))
        done = subprocess.run([binary, "--quiet"] + args, cwd=folder, stdin=subprocess.DEVNULL,
                              capture_output=True)
        if done.returncode != 0:
            print(f"{binary} {' '.join(args)}: status {done.returncode}: {done.stderr!r}")
            sys.exit(1)
        folders.append(folder)
    return top, folders


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    top = None
    if argv[1] == "--run":
        source = argv[3] if len(argv) > 3 else os.path.dirname(os.path.dirname(
            os.path.dirname(os.path.abspath(__file__))))
        top, folders = run_analyses(os.path.abspath(argv[2]), source)
    else:
        folders = argv[1:]
    failures, checked = [], 0
    for folder in folders:
        c = check_folder(folder)
        failures += c.failures
        checked += c.checked
    if top:
        shutil.rmtree(top, ignore_errors=True)
    for f in failures[:200]:
        print(f)
    print(f"{len(folders)} folders, {checked} values checked, {len(failures)} mismatches")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
