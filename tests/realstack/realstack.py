#!/usr/bin/env python3
"""Runs a real-stack test: the unmodified plug-in in `hostsim --real-pendant`
(nothing patched) in a Wine prefix with the virtual pendant installed, and
the script's timed actions on the virtual pendant through one vpctl process.
Expectations hold in real time: after an action, within a bounded time, these
trace lines (in order); never an exact tick. See tests/realstack/README.md.

usage: realstack.py --wine WINE --build DIR SCRIPT
Exit 0 passed, 1 failed, 77 skipped (no virtual pendant in this prefix)."""
import argparse
import os
import queue
import re
import shlex
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77


class Failed(Exception):
    pass


def glob(pattern):
    """A trace pattern: the whole line, `*` any text, nothing else special."""
    return re.compile("^" + ".*".join(re.escape(p) for p in pattern.split("*")) + "$")


class Lines:
    """The timestamped lines a process prints, read as they come."""

    def __init__(self, stream, echo=None):
        self.lines = []  # (time, text)
        self.cond = threading.Condition()
        self.closed = False
        self.echo = echo
        threading.Thread(target=self._read, args=(stream,), daemon=True).start()

    def _read(self, stream):
        for raw in stream:
            text = raw.decode("utf-8", "replace").rstrip("\r\n")
            with self.cond:
                self.lines.append((time.monotonic(), text))
                self.cond.notify_all()
            if self.echo:
                self.echo(text)
        with self.cond:
            self.closed = True
            self.cond.notify_all()

    def wait_for(self, predicate, deadline):
        """Waits until predicate(lines) is true or the deadline passes."""
        with self.cond:
            while True:
                result = predicate(self.lines)
                if result or time.monotonic() >= deadline or self.closed:
                    return predicate(self.lines)
                self.cond.wait(max(0.0, min(0.05, deadline - time.monotonic())))


class Run:
    def __init__(self, args, script):
        self.args = args
        self.script = script
        self.wine = args.wine
        self.build = os.path.abspath(args.build)
        self.vpdir = os.path.join(self.build, "vpendant")
        self.host = None
        self.trace = None
        self.mark = time.monotonic()
        self.tmp = tempfile.mkdtemp(prefix="realstack-")
        self.ctl_seq = 0
        self.started_at = time.monotonic()

    def say(self, text):
        print("%7.3f %s" % (time.monotonic() - self.started_at, text), flush=True)

    # The one control process: commands in, one "done N" line after each.
    def spawn_vpctl(self, label):
        """A `vpctl -` process and the lines it prints, echoed under label."""
        p = subprocess.Popen(
            [self.wine, os.path.join(self.vpdir, "vpctl.exe"), "-"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        return p, Lines(p.stdout, lambda t: print("    %s: %s" % (label, t), flush=True))

    def start_ctl(self):
        self.ctl, self.ctl_out = self.spawn_vpctl("vpctl")

    def background(self, words):
        """A vpctl command in a second vpctl process, not waited for: the
        wheel turning on while the script acts (a timed spin ends by itself
        once its slot is unplugged)."""
        if getattr(self, "bg", None) is None or self.bg.poll() is not None:
            self.bg, self.bg_out = self.spawn_vpctl("vpctl-bg")
        self.bg.stdin.write((" ".join(words) + "\n").encode())
        self.bg.stdin.flush()

    def ctl_command(self, words, timeout=30.0):
        self.ctl_seq += 1
        seq = self.ctl_seq
        before = len(self.ctl_out.lines)
        self.ctl.stdin.write((" ".join(words) + "\necho done %d\n" % seq).encode())
        self.ctl.stdin.flush()
        done = re.compile(r"^[0-9.]+ done %d$" % seq)
        ok = self.ctl_out.wait_for(lambda ls: any(done.match(t) for _, t in ls[before:]),
                                   time.monotonic() + timeout)
        if not ok:
            if words and words[0] == "wait-handles":
                self.ctl.stdin.write(b"files\n")
                self.ctl.stdin.flush()
                time.sleep(0.5)
            raise Failed("vpctl %s: failed or no answer" % " ".join(words))
        return [t for _, t in self.ctl_out.lines[before:] if not done.match(t)]

    def start_host(self, words):
        run_ms = words[0] if words else "3000"
        cmd = [self.wine, os.path.join(self.build, self.args.hostsim), "--real-pendant",
               "--run-ms", run_ms] + words[1:] + [os.path.join(self.build, self.args.dll)]
        self.host = subprocess.Popen(cmd, cwd=self.tmp, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT)
        self.trace = Lines(self.host.stdout, self.echo_trace)
        self.mark = time.monotonic()

    def start_as_user(self, words):
        """The pendant check of the user guide: the simulator that ships and
        the plug-in side by side in a folder, run from there by their names."""
        run_ms = words[0] if words else "3000"
        import shutil
        shutil.copy(os.path.join(self.build, self.args.hostsim), os.path.join(self.tmp, "hostsim-check.exe"))
        shutil.copy(os.path.join(self.build, self.args.dll), os.path.join(self.tmp, "HalvexK4.dll"))
        cmd = [self.wine, "hostsim-check.exe", "--real-pendant", "--run-ms", run_ms, "HalvexK4.dll"]
        self.host = subprocess.Popen(cmd, cwd=self.tmp, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT)
        self.trace = Lines(self.host.stdout, self.echo_trace)
        self.mark = time.monotonic()

    # The pendant check window: the program that ships, beside the plug-in in
    # a folder of its own, started there as a double-click would; read and
    # worked through checkprobe.
    def start_check(self):
        import shutil
        shutil.copy(os.path.join(self.build, self.args.check), os.path.join(self.tmp, "PendantCheck.exe"))
        shutil.copy(os.path.join(self.build, self.args.dll), os.path.join(self.tmp, "HalvexK4.dll"))
        self.host = subprocess.Popen([self.wine, "PendantCheck.exe"], cwd=self.tmp,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.probe = subprocess.Popen([self.wine, os.path.join(self.build, "checkprobe.exe")],
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      stderr=subprocess.STDOUT)
        self.probe_out = Lines(self.probe.stdout)
        self.mark = time.monotonic()

    def probe_command(self, line):
        before = len(self.probe_out.lines)
        self.probe.stdin.write((line + "\n").encode("utf-8"))
        self.probe.stdin.flush()
        ok = self.probe_out.wait_for(lambda ls: any(t == "end" for _, t in ls[before:]),
                                     time.monotonic() + 20)
        if not ok:
            raise Failed("checkprobe %s: no answer" % line)
        out = []
        for _, t in self.probe_out.lines[before:]:
            if t == "end":
                break
            out.append(t)
        return out

    def window_texts(self):
        texts = {}
        for t in self.probe_command("show"):
            name, _, value = t.partition(": ")
            texts[name] = value
        return texts

    def shows(self, within_ms, wants, line_no):
        """Within MS of the mark, every control NAME shows a text matching
        its PATTERN at once (one reading of the window)."""
        deadline = self.mark + within_ms / 1000.0
        while True:
            texts = self.window_texts()
            wrong = [(n, p) for n, p in wants if not glob(p).match(texts.get(n, ""))]
            if not wrong or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        if wrong:
            raise Failed("line %d: within %d ms the window shows %s" % (line_no, within_ms, "; ".join(
                "%s %r, not %r" % (n, texts.get(n), p) for n, p in wrong)))
        self.last_texts = texts

    def number(self, name):
        return float(self.window_texts()[name].split()[0])

    def dialog_shows(self, within_ms, caption, control, pattern, line_no):
        deadline = time.monotonic() + within_ms / 1000.0
        while True:
            lines = self.probe_command("dialog " + caption)
            got = [t.partition(": ")[2] for t in lines if t.partition(": ")[0] == control]
            if got and glob(pattern).match(got[0]):
                return
            if time.monotonic() > deadline:
                raise Failed("line %d: dialog %s control %s shows %s, not %s" %
                             (line_no, caption, control, got or lines, pattern))
            time.sleep(0.1)

    def screenshot(self, name, whole=False):
        """The check window as the screen shows it (or the whole screen),
        kept as a test output in the build folder (pendant-check-shots/)."""
        shots = os.path.join(self.build, "pendant-check-shots")
        os.makedirs(shots, exist_ok=True)
        rect = [] if whole else [t for t in self.probe_command("rect") if t.startswith("rect ")]
        out = os.path.join(shots, name + ".png")
        cmd = ["import", "-window", "root"]
        if rect:
            x, y, w, h = rect[0].split()[1:]
            cmd += ["-crop", "%sx%s+%s+%s" % (w, h, x, y), "+repage"]
        try:
            subprocess.run(cmd + [out], check=True, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
            self.say("screenshot %s" % out)
        except (OSError, subprocess.SubprocessError) as e:
            self.say("no screenshot %s: %s" % (name, e))

    def echo_trace(self, text):
        if not (text.startswith("> Update") or text.startswith("~ tick")):
            print("    trace: " + text, flush=True)

    def since_mark(self, lines):
        return [t for (when, t) in lines if when >= self.mark]

    def expect(self, within_ms, patterns, line_no):
        regexes = [glob(p) for p in patterns]

        def in_order(lines):
            i = 0
            for text in self.since_mark(lines):
                if i < len(regexes) and regexes[i].match(text):
                    i += 1
            return i == len(regexes), i

        deadline = self.mark + within_ms / 1000.0
        self.trace.wait_for(lambda ls: in_order(ls)[0], deadline)
        ok, got = in_order(self.trace.lines)
        if not ok:
            raise Failed("line %d: within %d ms of the action, not traced: %s" %
                         (line_no, within_ms, patterns[got]))

    def expect_none(self, within_ms, patterns, line_no):
        regexes = [glob(p) for p in patterns]
        deadline = self.mark + within_ms / 1000.0
        time.sleep(max(0.0, deadline - time.monotonic()))
        for text in self.since_mark(self.trace.lines):
            for p, r in zip(patterns, regexes):
                if r.match(text):
                    raise Failed("line %d: traced within %d ms: %s" % (line_no, within_ms, text))

    def count(self, pattern, n, line_no):
        r = glob(pattern)
        got = sum(1 for t in self.since_mark(self.trace.lines) if r.match(t))
        if got != n:
            raise Failed("line %d: %d lines since the action match %s, not %d" %
                         (line_no, got, pattern, n))

    def latest(self, pattern, want, line_no):
        """The last trace line matching `pattern` matches `want`: a host
        field's value now (the trace shows a field only when it changes)."""
        r = glob(pattern)
        lines = [t for _, t in self.trace.lines if r.match(t)]
        if not lines or not glob(want).match(lines[-1]):
            raise Failed("line %d: the last line like %s is %s, not %s" %
                         (line_no, pattern, lines[-1] if lines else "none", want))

    def handles(self):
        for text in self.ctl_command(["handles"]):
            m = re.match(r"^handles (\d+) ", text)
            if m:
                return int(m.group(1))
        raise Failed("vpctl handles: no count")

    def take_baseline(self):
        """The handles others hold (Wine's desktop opens each HID device that
        arrives, a moment after): the count once it stays put."""
        last, deadline = self.handles(), time.monotonic() + 5
        while time.monotonic() < deadline:
            time.sleep(0.3)
            now = self.handles()
            if now == last:
                break
            last = now
        self.baseline = last
        self.say("handles held by others: %d" % last)

    def expect_handles(self, n, within_ms, line_no):
        deadline = time.monotonic() + within_ms / 1000.0
        while True:
            got = self.handles() - self.baseline
            if got == n or time.monotonic() > deadline:
                break
            time.sleep(0.02)
        if got != n:
            raise Failed("line %d: the plug-in holds %d handles, not %d" % (line_no, got, n))

    def outputs(self, slot):
        for text in self.ctl_command(["status", slot]):
            m = re.search(r" outputs (\d+) ", text)
            if m:
                return int(m.group(1))
        raise Failed("vpctl status: no output count")

    def expect_lamp(self, slot, within_ms, line_no):
        before, deadline = self.outputs(slot), time.monotonic() + within_ms / 1000.0
        while self.outputs(slot) == before:
            if time.monotonic() > deadline:
                raise Failed("line %d: no output report written to slot %s within %d ms" %
                             (line_no, slot, within_ms))
            time.sleep(0.02)

    MOVE = re.compile(r'^< Code "G91G1 F[-0-9.]+ ([XYZAB]) (-?[0-9.]+)"$')

    def moves(self, axis):
        return [float(m.group(2)) for m in map(self.MOVE.match, self.since_mark(self.trace.lines))
                if m and m.group(1) == axis]

    def moved(self, axis):
        moves = self.moves(axis)
        return sum(moves), len(moves)

    def moves_within(self, axis, within_ms, most, most_per_poll, line_no):
        """Step jogs that never exceed the wheel: adding up to at most `most`,
        none larger than `most_per_poll` (what a poll that cannot have
        overflowed may count). None at all is allowed: on a busy machine
        every poll may come late enough to overflow, or follow one that did."""
        time.sleep(max(0.0, self.mark + within_ms / 1000.0 - time.monotonic()))
        moves = self.moves(axis)
        self.say("%s moved %.4f in %d step jogs" % (axis, sum(moves), len(moves)))
        if moves and (sum(moves) > most + 1e-6 or max(moves) > most_per_poll + 1e-6 or min(moves) <= 0):
            raise Failed("line %d: %s moved %s within %d ms: not at most %g, each at most %g"
                         % (line_no, axis, moves, within_ms, most, most_per_poll))

    def sum_moves(self, axis, within_ms, values, line_no):
        time.sleep(max(0.0, self.mark + within_ms / 1000.0 - time.monotonic()))
        total, polls = self.moved(axis)
        self.say("%s moved %.4f in %d step jogs" % (axis, total, polls))
        if not any(abs(total - v) < 1e-6 for v in values):
            raise Failed("line %d: %s moved %.4f within %d ms, not %s" %
                         (line_no, axis, total, within_ms, " or ".join("%g" % v for v in values)))

    def run(self):
        lines = open(self.script, encoding="utf-8").read().splitlines()
        self.start_ctl()
        try:
            self.ctl_command(["reset"], timeout=20)
        except Failed:
            print("realstack: no virtual pendant in this prefix: skipped")
            return SKIP
        i = 0
        while i < len(lines):
            line_no = i + 1
            stripped = lines[i].strip()
            words = shlex.split(stripped) if stripped and not stripped.startswith("#") else []
            i += 1
            if not words or words[0].startswith("#"):
                continue
            cmd, rest = words[0], words[1:]
            if cmd == "say":
                self.say("--- " + " ".join(rest))
            elif cmd == "start":
                self.take_baseline()
                self.start_host(rest)
            elif cmd == "start-as-user":  # start-as-user RUN_MS
                self.take_baseline()
                self.start_as_user(rest)
            elif cmd == "start-check":
                self.take_baseline()
                self.start_check()
            elif cmd == "shows":  # shows MS NAME PATTERN [NAME PATTERN]...
                self.shows(int(rest[0]), list(zip(rest[1::2], rest[2::2])), line_no)
            elif cmd == "press":  # press NAME: a click on the check window's button
                self.mark = time.monotonic()
                self.probe_command("press " + rest[0])
            elif cmd == "enter":  # enter NAME TEXT: typed into the check window's edit
                self.probe_command("set %s %s" % (rest[0], rest[1]))
            elif cmd == "remember":  # remember NAME: the number the control shows now
                self.remembered = self.number(rest[0])
            elif cmd == "grown":  # grown NAME BY MS: it shows the remembered number + BY
                want = self.remembered + float(rest[1])
                self.shows(int(rest[2]), [(rest[0], "%.4f" % want)], line_no)
            elif cmd == "dialog-shows":  # dialog-shows MS CAPTION ID PATTERN
                self.dialog_shows(int(rest[0]), rest[1], rest[2], rest[3], line_no)
            elif cmd == "dialog-close":
                self.probe_command("dialog-close " + rest[0])
            elif cmd == "screenshot":  # screenshot NAME [screen]
                self.screenshot(rest[0], rest[1:] == ["screen"])
            elif cmd == "ctl-until":  # ctl-until MS PATTERN WORDS: until a line matches
                deadline = time.monotonic() + int(rest[0]) / 1000.0
                while True:
                    out = self.ctl_command(rest[2:])
                    if any(glob(rest[1]).match(t) for t in out):
                        break
                    if time.monotonic() > deadline:
                        raise Failed("line %d: vpctl %s printed %s, not %s" %
                                     (line_no, " ".join(rest[2:]), out, rest[1]))
                    time.sleep(0.05)
            elif cmd == "close-check":  # close-check MS: closed, ends with 0 within MS
                self.probe_command("close")
                try:
                    rc = self.host.wait(timeout=float(rest[0]) / 1000.0)
                except subprocess.TimeoutExpired:
                    raise Failed("line %d: the check window is still running" % line_no)
                if rc != 0:
                    raise Failed("line %d: the check window exited with %d" % (line_no, rc))
            elif cmd == "lamp":  # lamp SLOT MS: an output report is written within MS
                self.expect_lamp(rest[0], int(rest[1]), line_no)
            elif cmd == "outputs-at-most":  # outputs-at-most SLOT N: since the test began
                got = self.outputs(rest[0])
                if got > int(rest[1]):
                    raise Failed("line %d: %d output reports written, more than %s" %
                                 (line_no, got, rest[1]))
            elif cmd == "handles":  # handles N MS: the plug-in's (above the baseline)
                self.expect_handles(int(rest[0]), int(rest[1]), line_no)
            elif cmd == "ctl":
                self.mark = time.monotonic()
                self.ctl_command(rest)
            elif cmd == "bg":  # bg WORDS: a vpctl command run alongside, keeping the mark
                self.background(rest)
            elif cmd == "latest":  # latest "PATTERN" "WANT"
                self.latest(rest[0], rest[1], line_no)
            elif cmd == "also":  # a vpctl command that keeps the mark where it is
                self.ctl_command(rest)
            elif cmd == "ctl-check":  # ctl-check PATTERN WORDS...: an output line matches
                out = self.ctl_command(rest[1:])
                if not any(glob(rest[0]).match(t) for t in out):
                    raise Failed("line %d: vpctl %s printed %s, not %s" %
                                 (line_no, " ".join(rest[1:]), out, rest[0]))
            elif cmd == "mark":
                self.mark = time.monotonic()
            elif cmd == "mark-at":  # mark-at "PATTERN": the last trace line like it was read
                r = glob(rest[0])
                seen = [when for when, t in self.trace.lines if r.match(t)]
                if not seen:
                    raise Failed("line %d: no trace line like %s" % (line_no, rest[0]))
                self.mark = seen[-1]
            elif cmd == "sleep":
                time.sleep(float(rest[0]) / 1000.0)
            elif cmd in ("expect", "expect-none"):
                block = []
                while i < len(lines) and lines[i].strip() != "end":
                    if lines[i].strip():
                        block.append(lines[i].strip())
                    i += 1
                i += 1
                if cmd == "expect":
                    self.expect(int(rest[0]), block, line_no)
                else:
                    self.expect_none(int(rest[0]), block, line_no)
            elif cmd == "sum":  # sum AXIS MS VALUE...: the step jogs since the action add up
                self.sum_moves(rest[0], int(rest[1]), [float(v) for v in rest[2:]], line_no)
            elif cmd == "moves":  # moves AXIS MS MOST MOST_PER_POLL
                self.moves_within(rest[0], int(rest[1]), float(rest[2]), float(rest[3]), line_no)
            elif cmd == "count":  # count N PATTERN (the rest of the line, as it stands)
                self.count(stripped.split(None, 2)[2], int(rest[0]), line_no)
            elif cmd == "exit":  # exit MS: the host ends within MS, exit code 0
                try:
                    rc = self.host.wait(timeout=float(rest[0]) / 1000.0)
                except subprocess.TimeoutExpired:
                    raise Failed("line %d: hostsim still running" % line_no)
                if rc != 0:
                    raise Failed("line %d: hostsim exited with %d" % (line_no, rc))
            else:
                raise Failed("line %d: unknown command %s" % (line_no, cmd))
        return 0

    def close(self):
        for p in (getattr(self, "host", None), getattr(self, "ctl", None), getattr(self, "bg", None),
                  getattr(self, "probe", None)):
            if p and p.poll() is None:
                if p is not self.host:
                    try:
                        p.stdin.close()
                        p.wait(timeout=5)
                        continue
                    except Exception:
                        pass
                p.kill()
                p.wait()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--wine", required=True)
    ap.add_argument("--build", required=True)
    ap.add_argument("--hostsim", default="hostsim.exe")
    ap.add_argument("--dll", default="HalvexK4.dll")
    ap.add_argument("--check", default="PendantCheck.exe")
    ap.add_argument("script")
    args = ap.parse_args()
    run = Run(args, args.script)
    try:
        status = run.run()
    except Failed as e:
        print("FAIL %s: %s" % (args.script, e))
        status = 1
    finally:
        run.close()
    if status == 0:
        print("passed: %s in %.1f s" % (os.path.basename(args.script),
                                         time.monotonic() - run.started_at))
    return status


if __name__ == "__main__":
    sys.exit(main())
