"""Shared parts of the soak scripts: the simulator and the tool as child
processes, their CPU and memory read from /proc, and the comparison of the
history rows in my1.db with the monitoring answers the simulator served.

Only the Python standard library and the sqlite3 command-line shell are used.
"""

import datetime
import os
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import threading
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.path.abspath(os.environ.get("BUILD_DIR", os.path.join(ROOT, "build")))
CLK_TCK = os.sysconf("SC_CLK_TCK")

# The monitoring read: slave 1, function 3, registers 0..38.
MONITOR_READ = "01030000002705d0"


def say(text=""):
    print(text, flush=True)


def ensure_built():
    """Builds the tool and the simulator when they are missing."""
    tool = os.path.join(BUILD, "packscope")
    sim = os.path.join(BUILD, "bms-sim")
    if not (os.path.exists(tool) and os.path.exists(sim)):
        say("building packscope and bms-sim in %s" % BUILD)
        subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-DCMAKE_BUILD_TYPE=Release"], check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", BUILD, "-j2", "--target", "packscope", "bms-sim"], check=True,
                       stdout=subprocess.DEVNULL)
    return tool, sim


def fresh_dir(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


# --- Processes --------------------------------------------------------------

class Sim:
    """bms-sim on a pseudo-terminal of its own, controlled through stdin."""

    def __init__(self, sim_path, folder, extra=(), link=None):
        # `folder` takes the simulator's logs (not a folder that may fill up).
        self.served_log = os.path.join(folder, "served.log")
        args = [sim_path, "--served-log", self.served_log] + list(extra)
        if link:
            args += ["--link", link]
        self.stderr = open(os.path.join(folder, "sim.err"), "w")
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.stderr,
                                     text=True, bufsize=1)
        line = self.proc.stdout.readline().split()
        if len(line) != 2 or line[0] != "DEVICE":
            raise RuntimeError("bms-sim did not name its device")
        self.device = line[1]

    def send(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def stop(self):
        if self.proc.poll() is None:
            try:
                self.send("quit")
                self.proc.wait(5)
            except (BrokenPipeError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()
        self.stderr.close()


class Tool:
    """PackScope monitoring the simulator, unattended, with its databases in
    `folder`: the executable is copied there, as the tool keeps my1.db and
    my2.db beside itself."""

    def __init__(self, tool_path, folder, port, poll_ms, run_name="tool", log_folder=None):
        self.folder = folder
        exe = os.path.join(folder, "packscope")
        if not os.path.exists(exe):
            shutil.copy2(tool_path, exe)
        env = dict(os.environ, PACKSCOPE_ANSWER_DIALOGS="1", QT_QPA_PLATFORM="offscreen")
        self.stderr_path = os.path.join(log_folder or folder, run_name + ".err")
        self.stderr = open(self.stderr_path, "w")
        self.proc = subprocess.Popen([exe, "--port", port, "--monitor", "--poll-ms", str(poll_ms)], env=env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self.stderr)
        self.pid = self.proc.pid
        self.counters = {}

    def alive(self):
        return self.proc.poll() is None

    def stop(self, timeout=30):
        """A clean quit (SIGTERM, handled as closing the window); returns the
        exit code and reads the link figures the tool prints at exit."""
        if self.alive():
            self.proc.send_signal(signal.SIGTERM)
        try:
            rc = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            rc = self.proc.wait()
            say("  ! the tool did not quit within %d s after SIGTERM and was killed" % timeout)
        self.stderr.close()
        self.counters = parse_counters(open(self.stderr_path).read())
        return rc

    def kill9(self):
        self.proc.send_signal(signal.SIGKILL)
        rc = self.proc.wait()
        self.stderr.close()
        return rc

    def store_notes(self):
        """The history store's changes of state the tool reported."""
        return [l[len("packscope: "):] for l in open(self.stderr_path).read().splitlines()
                if l.startswith("packscope: History")]

    def boxes(self):
        return [l for l in open(self.stderr_path).read().splitlines() if l.startswith("packscope: box")]


def parse_counters(stderr_text):
    """The figures of the last 'packscope: Sent ...' line."""
    lines = [l for l in stderr_text.splitlines() if l.startswith("packscope: Sent ")]
    if not lines:
        return {}
    figures = {}
    for name, value in re.findall(r"([A-Za-z][A-Za-z ]*?) (\d+)", lines[-1][len("packscope: "):]):
        figures[name.strip()] = int(value)
    return figures


def cpu_seconds(pid):
    """User + system CPU time of a process, from /proc/PID/stat."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


class Sampler(threading.Thread):
    """Samples a process's RSS and CPU use every `period` seconds."""

    def __init__(self, pid, period):
        super().__init__(daemon=True)
        self.pid, self.period = pid, period
        self.samples = []  # (seconds since start, rss KiB, CPU % over the last period)
        self.stop_event = threading.Event()

    def run(self):
        start = time.monotonic()
        last_t, last_cpu = start, cpu_seconds(self.pid)
        while not self.stop_event.wait(self.period):
            try:
                now, cpu, rss = time.monotonic(), cpu_seconds(self.pid), rss_kib(self.pid)
            except OSError:
                return
            self.samples.append((now - start, rss, 100.0 * (cpu - last_cpu) / (now - last_t)))
            last_t, last_cpu = now, cpu

    def stop(self):
        self.stop_event.set()
        self.join()

    def report(self):
        if len(self.samples) < 2:
            say("  too few samples")
            return
        rss = [s[1] for s in self.samples]
        cpu = [s[2] for s in self.samples]
        n = len(self.samples)
        q = max(1, n // 4)
        say("  RSS KiB : first %d, last %d, max %d, min %d; last/first %.3f" % (
            rss[0], rss[-1], max(rss), min(rss), rss[-1] / rss[0]))
        half = self.samples[n // 2:]
        if len(half) >= 2 and half[-1][0] > half[0][0]:
            say("  RSS KiB at 0/25/50/75/100 %% of the run: %s; growth over the second half %.1f KiB/min" % (
                ", ".join(str(rss[min(n - 1, n * i // 4)]) for i in range(5)),
                60 * (half[-1][1] - half[0][1]) / (half[-1][0] - half[0][0])))
        say("  CPU %%   : first %.1f, last %.1f, max %.1f; mean of first quarter %.2f, of last quarter %.2f "
            "(%d samples of %g s)" % (cpu[0], cpu[-1], max(cpu), sum(cpu[:q]) / q, sum(cpu[-q:]) / q, n,
                                     self.period))


# --- Database ---------------------------------------------------------------

def sqlite_cli(db, sql):
    out = subprocess.run(["sqlite3", db, sql], capture_output=True, text=True)
    return (out.stdout + out.stderr).strip()


def integrity(db):
    return sqlite_cli(db, "pragma integrity_check;")


def row_count(db):
    """Rows in table total, read without taking a write lock (the history is
    in write-ahead-log mode: a reader never blocks the tool)."""
    con = sqlite3.connect("file:%s?mode=ro" % db, uri=True, timeout=5)
    try:
        return con.execute("select count(*) from total").fetchone()[0]
    finally:
        con.close()


def max_id(db):
    con = sqlite3.connect("file:%s?mode=ro" % db, uri=True, timeout=5)
    try:
        return con.execute("select coalesce(max(id), 0) from total").fetchone()[0]
    finally:
        con.close()


# --- Served answers against stored rows --------------------------------------

def _s16(v):
    return v - 0x10000 if v & 0x8000 else v


def _s8(v):
    return v - 0x100 if v & 0x80 else v


def _registers(answer_hex):
    b = bytes.fromhex(answer_hex)
    n = b[2]
    return [b[3 + 2 * i] << 8 | b[4 + 2 * i] for i in range(n // 2)]


def _text(regs, bytes_long):
    raw = b"".join(bytes([r >> 8, r & 0xFF]) for r in regs)[:bytes_long]
    return raw.split(b"\0", 1)[0].decode("utf-8", "replace")


def identity_texts(answer_hex):
    """Model, version and serial texts of an identity answer (registers 105..127)."""
    r = _registers(answer_hex)
    return _text(r[0:12], 24), _text(r[12:15], 6), _text(r[15:23], 16)


def expected_row(answer_hex, identity):
    """The 39 stored values after `time` that a monitoring answer (registers
    0..38) must give in table total: worked out from the register map of the
    monitoring read, independently of the tool's code."""
    r = _registers(answer_hex)
    status = r[25]
    row = [status & 0x0F, status >> 15 & 1, r[26], r[27], r[28], r[29], _s16(r[1]), r[22], r[0], r[24], r[23],
           _s16(r[18]), _s16(r[19]), r[20], _s8(r[33] >> 8), _s8(r[33] & 0xFF), _s8(r[34] >> 8),
           _s8(r[34] & 0xFF)]
    row += r[2:18]
    row += [r[37], r[21]]
    row += list(identity)
    return tuple(row)


def read_served(path, from_line=0):
    """Answers to monitoring reads and the identity texts, from the simulator's
    served log: a list of (ms since the epoch, how, answer hex)."""
    served, identity = [], None
    with open(path) as f:
        for i, line in enumerate(f):
            parts = line.split()
            if len(parts) != 4:
                continue
            ms, how, request, answer = int(parts[0]), parts[1], parts[2], parts[3]
            if identity is None and how == "ok" and request.startswith("0103006900"):
                identity = identity_texts(answer)
            if i < from_line or request != MONITOR_READ:
                continue
            served.append((ms, how, answer))
    return served, identity


def served_lines(path):
    try:
        with open(path) as f:
            return sum(1 for _ in f)
    except FileNotFoundError:
        return 0


def read_rows(db, from_id=0):
    con = sqlite3.connect("file:%s?mode=ro" % db, uri=True, timeout=10)
    try:
        return con.execute("select * from total where id > ? order by id", (from_id,)).fetchall()
    finally:
        con.close()


def _epoch_ms(local_text):
    if not local_text:
        return None
    return datetime.datetime.strptime(local_text, "%Y-%m-%d %H:%M:%S").timestamp() * 1000


def compare(db, served_log, from_id=0, from_line=0, allow_tail=1, quiet=False, cut_times=()):
    """Compares the history rows with the monitoring answers served.

    The rule: taken in id order, the stored rows must be the answers served
    intact, in the order served, one row per answer, each row equal to its
    answer column by column (identity texts from the identity answer) and
    stamped with a time no more than 3 s before and 2 s after the answer went
    out (the sample time is the PC clock in whole seconds). An intact answer
    without its row is lost, with one exception: the last `allow_tail`
    answers served after the last stored row, which are the answer in flight
    when the tool stopped (read too late or not at all) and any samples still
    waiting for the database at exit. A row that equals no intact answer is a
    phantom; one that equals an answer sent split (whose pieces the tool read
    together because it was busy for longer than the pause) is counted apart,
    as it says more about the machine's load than about the tool.

    `cut_times` (ms since the epoch) are moments the line was cut (the
    pseudo-terminal unplugged): the last intact answer served before a cut
    may still have been on its way (unread, or waiting for the frame's
    silence) when the line went, so it is the sample in flight, not a lost
    one.

    Returns a dict of figures; 'ok' tells the verdict."""
    served, identity = read_served(served_log, from_line)
    rows = read_rows(db, from_id)
    intact = [s for s in served if s[1] == "ok"]
    spoiled = [s for s in served if s[1] not in ("ok",)]
    kinds = {}
    for s in served:
        kinds[s[1]] = kinds.get(s[1], 0) + 1
    expected = [expected_row(s[2], identity or ("", "", "")) for s in intact]
    spoiled_rows = {expected_row(s[2], identity or ("", "", "")): s for s in spoiled if s[1] == "split"}

    j, matched, lost, phantoms, rejoined, late_stamps, no_stamp = 0, 0, [], [], [], 0, 0
    for row in rows:
        values, stamp = tuple(row[2:]), _epoch_ms(row[1])
        if stamp is None:
            # The tool's clock text is empty for its first second (the
            # parameter page's clock has not ticked yet); only a poll period
            # shorter than a second gets a sample stored that early.
            no_stamp += 1
        k = j
        while k < len(intact) and not (expected[k] == values and
                                       (stamp is None or -3000 <= stamp - intact[k][0] <= 2000)):
            k += 1
        if k == len(intact):
            # Equal values but a time out of range still counts as a match
            # of the data; the stamp is reported.
            k = j
            while k < len(intact) and expected[k] != values:
                k += 1
            if k < len(intact):
                late_stamps += 1
        if k == len(intact):
            if values in spoiled_rows:
                rejoined.append(row[0])
            else:
                phantoms.append(row[0])
            continue
        lost.extend(intact[j:k])
        matched += 1
        j = k + 1
    tail = intact[j:]
    # The answer in flight at a cut: the last one served before the
    # simulator acted on the unplug line (at most half a second after it
    # was sent); nothing is served on a cut line.
    cut = []
    for c in cut_times:
        before = [s for s in intact if s[0] <= c + 500]
        if before and before[-1] in lost:
            lost.remove(before[-1])
            cut.append(before[-1])
    result = {
        "served": len(served), "kinds": kinds, "intact": len(intact), "rows": len(rows), "matched": matched,
        "lost": len(lost), "phantoms": len(phantoms), "rejoined": len(rejoined), "tail": len(tail),
        "allow_tail": allow_tail, "stamp_out_of_range": late_stamps, "no_stamp": no_stamp, "cut": len(cut),
    }
    result["ok"] = not lost and not phantoms and len(tail) <= allow_tail and late_stamps == 0
    if not quiet:
        say("  served monitoring answers %d %s; intact %d" % (len(served), dict(sorted(kinds.items())),
                                                               len(intact)))
        say("  stored rows %d: equal to an intact answer %d, phantom %d, split answer read whole %d, "
            "time stamp out of range %d, empty time %d" % (len(rows), matched, len(phantoms), len(rejoined),
                                                          late_stamps, no_stamp))
        say("  intact answers without a row: %d before the last stored row (lost), %d after it (allowed %d: "
            "in flight at stop + waiting at exit)" % (len(lost), len(tail), allow_tail))
        if cut_times:
            say("  intact answers without a row served just before the line was cut: %d (%d cuts)" % (
                len(cut), len(cut_times)))
        for s in lost[:5]:
            say("    lost: served at %s" % datetime.datetime.fromtimestamp(s[0] / 1000).strftime("%H:%M:%S.%f")[:-3])
        for rid in phantoms[:5]:
            say("    phantom row id %d" % rid)
    return result


def main_check(argv):
    import argparse
    p = argparse.ArgumentParser(description="Compare history rows in my1.db with the answers bms-sim served.")
    p.add_argument("db")
    p.add_argument("served_log")
    p.add_argument("--from-id", type=int, default=0)
    p.add_argument("--from-line", type=int, default=0)
    p.add_argument("--allow-tail", type=int, default=1)
    a = p.parse_args(argv)
    r = compare(a.db, a.served_log, a.from_id, a.from_line, a.allow_tail)
    say("  verdict: %s" % ("OK" if r["ok"] else "FAIL"))
    return 0 if r["ok"] else 1


if __name__ == "__main__":
    sys.exit(main_check(sys.argv[1:]))
