"""Helpers for driving the terminal program `vornhale share` end to end.

Every connection goes to loopback: a same-network link carries this machine's
LAN address, so its host is rewritten to 127.0.0.1 before anything is fetched.
"""
import os
import re
import signal
import subprocess
import sys
import threading
import time
import urllib.parse

SKIP = 77
BLOCKS = {" ": (False, False), "\u2580": (True, False), "\u2584": (False, True), "\u2588": (True, True)}
ANSI = re.compile(r"\x1b\[[0-9;]*m")


def fail(msg):
    print("FAIL: " + msg, file=sys.stderr)
    sys.exit(1)


def check(cond, msg):
    if not cond:
        fail(msg)


def loopback(url):
    """The same link with its host replaced by 127.0.0.1."""
    p = urllib.parse.urlsplit(url)
    return urllib.parse.urlunsplit((p.scheme, "127.0.0.1:%d" % p.port, p.path, p.query, p.fragment))


def enter_private_network(argv):
    """Re-runs this script (argv as sys.argv) in a new network namespace holding only loopback, so
    nothing it starts can reach another host. Returns False when that is not
    possible here (not root, no unshare); True when already inside."""
    if os.environ.get("VH_E2E_NETNS") == "1":
        return True
    env = dict(os.environ, VH_E2E_NETNS="1")
    try:
        probe = subprocess.run(["unshare", "-n", "true"], capture_output=True, timeout=20)
    except (OSError, subprocess.TimeoutExpired):
        return False
    if probe.returncode != 0:
        return False
    cmd = ["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$@"', "sh", sys.executable] + argv
    sys.stdout.flush()
    os.execvpe("unshare", cmd, env)


class Program:
    """One run of `vornhale share ...`, its output read line by line."""

    def __init__(self, exe, args, env=None, cwd=None):
        self.lines = []
        self.err = []
        self.cond = threading.Condition()
        full_env = dict(os.environ)
        full_env.update(env or {})
        self.proc = subprocess.Popen([exe, "share"] + list(args), stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, stdin=subprocess.DEVNULL,
                                     env=full_env, cwd=cwd)
        self._readers = [threading.Thread(target=self._read, args=(self.proc.stdout, self.lines), daemon=True),
                         threading.Thread(target=self._read, args=(self.proc.stderr, self.err), daemon=True)]
        for t in self._readers:
            t.start()

    def _read(self, stream, into):
        for raw in iter(stream.readline, b""):
            with self.cond:
                into.append(raw.decode("utf-8", "replace").rstrip("\n"))
                self.cond.notify_all()

    def wait_line(self, pattern, timeout=20, start=0, stream=None):
        """Index of the first line from `start` on that matches (re.search)."""
        lines = self.lines if stream is None else stream
        rx = re.compile(pattern)
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                for i in range(start, len(lines)):
                    if rx.search(lines[i]):
                        return i
                left = deadline - time.monotonic()
                if left <= 0 or (self.proc.poll() is not None and not any(t.is_alive() for t in self._readers)):
                    fail("no line matching %r within %ss; stdout:\n%s\nstderr:\n%s"
                         % (pattern, timeout, "\n".join(lines), "\n".join(self.err)))
                self.cond.wait(min(left, 0.2))

    def finish(self, sig=signal.SIGINT, timeout=30):
        """Sends the signal, waits for the end; the exit code."""
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        try:
            code = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(10)
            fail("the program did not end within %ss after signal %d" % (timeout, sig))
        for t in self._readers:
            t.join(10)
        return code

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)

    def link_lines(self, start=0):
        """Indexes of lines that are a link alone."""
        return [i for i in range(start, len(self.lines)) if re.fullmatch(r"https?://\S+", self.lines[i])]

    def qr_after(self, index):
        """The QR code printed under the link at line `index` as rows of modules (True = dark)."""
        rows = []
        for line in self.lines[index + 1:]:
            line = ANSI.sub("", line)
            if not line or any(ch not in BLOCKS for ch in line):
                break
            top = [not BLOCKS[ch][0] for ch in line]
            bottom = [not BLOCKS[ch][1] for ch in line]
            rows += [top, bottom]
        return rows

    def table_rows(self, name):
        """Every printed table row of the item called `name`, split into columns."""
        out = []
        for line in self.lines:
            cols = line.split()
            if line.startswith("  ") and cols and cols[0] == name and "Active" in cols:
                out.append(cols)
        return out

    def downloads_of(self, name):
        rows = self.table_rows(name)
        check(rows, "no table row for %s:\n%s" % (name, "\n".join(self.lines)))
        cols = rows[-1]
        return int(cols[cols.index("Active") + 1])


def decode_qr(modules, work, tag):
    """Draws the module rows into a PGM picture and reads it with zbarimg."""
    scale = 6
    h = len(modules)
    w = len(modules[0]) if h else 0
    check(h >= 21 and w >= 21, "QR code too small (%dx%d)" % (w, h))
    pix = bytearray()
    for row in modules:
        line = bytearray()
        for dark in row:
            line += bytes([0 if dark else 255]) * scale
        pix += bytes(line) * scale
    path = os.path.join(work, "qr-%s.pgm" % tag)
    with open(path, "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (w * scale, h * scale))
        f.write(pix)
    r = subprocess.run(["zbarimg", "--raw", "-q", path], capture_output=True, timeout=60)
    check(r.returncode == 0, "zbarimg found no code in %s: %s" % (path, r.stderr.decode()))
    return r.stdout.decode().strip()


def fetch(url, timeout=30):
    """Body of a GET through curl (loopback only)."""
    r = subprocess.run(["curl", "-sS", "--noproxy", "*", "--max-time", str(timeout), "-o", "-", url],
                       capture_output=True, timeout=timeout + 10)
    check(r.returncode == 0, "curl %s failed: %s" % (url, r.stderr.decode()))
    return r.stdout


def fresh_dir(path):
    subprocess.run(["rm", "-rf", path], check=True)
    os.makedirs(path)
    return path
