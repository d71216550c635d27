#!/usr/bin/env python3
"""Runs the golden set of whole sessions with one build of both programs.

The golden set is every combination of five data sets (rotenone, beetle,
budworm with two preparations, and the two constructed control-group
variants), the two programs, the two variance methods, the three
distributions and the eight models: 480 sessions. Each session answers the
dialogue as a user would, prompt by prompt: the driver waits until the
program blocks reading its standard input, reads what the screen shows and
answers it (so sessions stay aligned when a change adds or removes a pause).
Every output file of a session is kept in OUT/<session>/, with the screen.

Use it to compare two builds byte for byte:
    tests/golden/run_sessions.py BUILD_A OUT_A && tests/golden/run_sessions.py BUILD_B OUT_B
    diff -r OUT_A OUT_B
Needs Linux (/proc) and Python 3; runs sessions on all cores.
"""
import concurrent.futures
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
REF = os.path.join(ROOT, "tests", "reference", "data")
EXAMPLES = os.path.join(ROOT, "examples", "DATA")

# name: (dose scale answer, [(file name, source path)])
DATA_SETS = {
    "rotenone": ("1", [("ROTENONE", os.path.join(EXAMPLES, "ROTENONE.TXT"))]),
    "beetle": ("2", [("BEETLE", os.path.join(EXAMPLES, "BEETLE.TXT"))]),
    "budworm": ("1", [("BUDWORM_M", os.path.join(REF, "BUDWORM_M.TXT")),
                      ("BUDWORM_F", os.path.join(REF, "BUDWORM_F.TXT"))]),
    "rotenone_c": ("1", [("ROTENONE_C", os.path.join(REF, "ROTENONE_C.TXT"))]),
    "beetle_c": ("2", [("BEETLE_C", os.path.join(REF, "BEETLE_C.TXT"))]),
}

READ_SYSCALL = "0"  # read(2) on x86-64


def blocked_on_stdin(pid):
    """True when the process sleeps in read(0, ...)."""
    try:
        with open(f"/proc/{pid}/syscall") as f:
            fields = f.read().split()
    except OSError:
        return False
    return len(fields) > 1 and fields[0] == READ_SYSCALL and int(fields[1], 16) == 0


class Answers:
    """Answers a prompt from the screen text written since the last answer."""

    def __init__(self, dose_scale, variance_method, files, distribution, model):
        self.dose_scale = dose_scale
        self.vm = variance_method
        self.files = list(files)
        self.d = distribution
        self.m = model
        self.ed = ["", "t", "q"]
        self.rp = ["", "2", "q"] if len(files) > 1 else ["q"]

    def answer(self, text):
        if "[name/q]" in text:
            return (self.files.pop(0) if self.files else "q") + "\n"
        if "Dosage" in text and "[*/#]" in text:
            return self.dose_scale + "\n"
        if "Calculation Mehod" in text:
            return self.vm + "\n"
        if "Selection of a Distribution" in text:
            return self.d + "\n"
        if "Selection of a Model" in text:
            return self.m + "\n"
        if "Display 90 and 99" in text:
            return "y\n"
        if "[*/#/t/q]" in text:
            return (self.ed.pop(0) if self.ed else "q") + "\n"
        if "Relative Potency Estimation" in text or "[*/#/q]" in text:
            return (self.rp.pop(0) if self.rp else "q") + "\n"
        if "Generate Data for Plotting" in text:
            return "y\n"
        if "The End of the Analysis" in text:
            return "q\n"
        return "\n"  # a menu kept at its value, a level, or a pause


def voluntary_switches(pid):
    """How often the process has gone to sleep: a new wait on standard input
    shows a higher count than the one just answered."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("voluntary_ctxt_switches:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return -1


def drain(fd, sink):
    while True:
        try:
            chunk = os.read(fd, 65536)
        except BlockingIOError:
            return
        if not chunk:
            return
        sink.extend(chunk)


def run_session(binary, workdir, answers, timeout=600):
    proc = subprocess.Popen([binary], cwd=workdir, stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    screen = bytearray()
    errors = bytearray()
    for stream in (proc.stdout, proc.stderr):
        os.set_blocking(stream.fileno(), False)
    seen = 0
    answered_at = -1
    start = time.time()
    while proc.poll() is None:
        drain(proc.stdout.fileno(), screen)
        drain(proc.stderr.fileno(), errors)
        if time.time() - start > timeout:
            proc.kill()
            break
        switches = voluntary_switches(proc.pid)
        if switches <= answered_at or not blocked_on_stdin(proc.pid):
            time.sleep(0.0003)
            continue
        # A new wait on standard input: the screen is flushed before every
        # read, so all it shows is in the pipe now.
        drain(proc.stdout.fileno(), screen)
        drain(proc.stderr.fileno(), errors)
        text = screen[seen:].decode("latin-1")
        seen = len(screen)
        answered_at = switches
        try:
            proc.stdin.write(answers.answer(text).encode())
            proc.stdin.flush()
        except BrokenPipeError:
            break
    proc.wait()
    for stream, sink in ((proc.stdout, screen), (proc.stderr, errors)):
        os.set_blocking(stream.fileno(), True)
        sink.extend(stream.read())
    return proc.returncode, bytes(screen), bytes(errors)


def one(binary_dir, out_dir, program, data_name, vm, d, m):
    scale, files = DATA_SETS[data_name]
    name = f"{program}.{data_name}.v{vm}.d{d}.m{m}"
    work = os.path.join(out_dir, name)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(os.path.join(work, "DATA"))
    for stem, src in files:
        shutil.copy(src, os.path.join(work, "DATA", stem + ".TXT"))
    answers = Answers(scale, str(vm), [s for s, _ in files], str(d), str(m))
    status, screen, errors = run_session(os.path.join(binary_dir, program), work, answers)
    shutil.rmtree(os.path.join(work, "DATA"))
    with open(os.path.join(work, "screen.txt"), "wb") as f:
        f.write(screen)
    with open(os.path.join(work, "errors.txt"), "wb") as f:
        f.write(errors + f"\nstatus {status}\n".encode())
    # PNG files carry no text worth comparing byte for byte across builds of
    # the same drawing; their size is kept instead.
    for fn in os.listdir(work):
        if fn.endswith(".PNG"):
            path = os.path.join(work, fn)
            with open(path + ".size", "w") as f:
                f.write(str(os.path.getsize(path)) + "\n")
            os.remove(path)
    return name, status


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    binary_dir, out_dir = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    only = sys.argv[3] if len(sys.argv) > 3 else ""
    jobs = []
    for program in ("Varnalo", "VarnaloNM"):
        for data_name in DATA_SETS:
            for vm in (1, 2):
                for d in (1, 2, 3):
                    for m in range(1, 9):
                        if only and only not in f"{program}.{data_name}.v{vm}.d{d}.m{m}":
                            continue
                        jobs.append((binary_dir, out_dir, program, data_name, vm, d, m))
    bad = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        for name, status in pool.map(lambda j: one(*j), jobs):
            if status != 0:
                bad += 1
                print(f"{name}: status {status}", file=sys.stderr)
    print(f"{len(jobs)} sessions, {bad} with a non-zero status")
    return 0


if __name__ == "__main__":
    sys.exit(main())
