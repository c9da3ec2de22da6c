"""The one helper module of the terminal program's end-to-end scenarios.

Every connection goes to loopback: a same-network link carries this machine's
LAN address, so its host is rewritten to 127.0.0.1 before anything is fetched.
"""
import argparse
import os
import re
import signal
import socket
import subprocess
import sys
import threading
import time
import urllib.parse

SKIP = 77
BLOCKS = {" ": (False, False), "\u2580": (True, False), "\u2584": (False, True), "\u2588": (True, True)}
ANSI = re.compile(r"\x1b\[[0-9;]*m")
STOPPED = "All sharing stopped."


def check(cond, msg):
    if not cond:
        print("FAIL: " + msg, file=sys.stderr)
        sys.exit(1)


def args(*extra):
    """--exe and --work, plus `extra` as (name, kwargs) pairs."""
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--work", required=True)
    for name, kw in extra:
        ap.add_argument(name, **kw)
    return ap.parse_args()


def loopback(url):
    """The same link with its host replaced by 127.0.0.1."""
    p = urllib.parse.urlsplit(url)
    return urllib.parse.urlunsplit((p.scheme, "127.0.0.1:%d" % p.port, p.path, p.query, p.fragment))


def port_closed(url):
    with socket.socket() as s:
        s.settimeout(3)
        return s.connect_ex(("127.0.0.1", urllib.parse.urlsplit(url).port)) != 0


def pid_alive(pid):
    """Whether the process runs (a zombie counts as ended)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().split(")")[-1].split()[0] != "Z"
    except OSError:
        return False


def enter_private_network(argv):
    """Re-runs this script in a new network namespace holding only loopback.
    False when that is not possible here (not root, no unshare); True inside."""
    if os.environ.get("VH_E2E_NETNS") == "1":
        return True
    try:
        if subprocess.run(["unshare", "-n", "true"], capture_output=True, timeout=20).returncode != 0:
            return False
    except (OSError, subprocess.TimeoutExpired):
        return False
    sys.stdout.flush()
    os.execvpe("unshare", ["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$@"', "sh",
                           sys.executable] + argv, dict(os.environ, VH_E2E_NETNS="1"))


class Program:
    """One run of `vornhale share ...`, its output read line by line."""

    def __init__(self, exe, share_args, env=None, cwd=None):
        self.lines, self.err = [], []
        self.cond = threading.Condition()
        self.proc = subprocess.Popen([exe, "share"] + list(share_args), stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, stdin=subprocess.DEVNULL,
                                     env=dict(os.environ, **(env or {})), cwd=cwd)
        self._readers = [threading.Thread(target=self._read, args=a, daemon=True)
                         for a in ((self.proc.stdout, self.lines), (self.proc.stderr, self.err))]
        for t in self._readers:
            t.start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)

    def _read(self, stream, into):
        for raw in iter(stream.readline, b""):
            with self.cond:
                into.append(raw.decode("utf-8", "replace").rstrip("\n"))
                self.cond.notify_all()

    def wait_line(self, pattern, timeout=20, stream=None):
        """Index of the first line that matches (re.search)."""
        lines = self.lines if stream is None else stream
        rx = re.compile(pattern)
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                for i, line in enumerate(lines):
                    if rx.search(line):
                        return i
                left = deadline - time.monotonic()
                ended = self.proc.poll() is not None and not any(t.is_alive() for t in self._readers)
                check(left > 0 and not ended, "no line matching %r within %ss; stdout:\n%s\nstderr:\n%s"
                      % (pattern, timeout, "\n".join(self.lines), "\n".join(self.err)))
                self.cond.wait(min(left, 0.2))

    def link(self, pattern=r"^https?://\S+$", timeout=20):
        """The first printed link matching pattern, and its line index."""
        i = self.wait_line(pattern, timeout)
        return self.lines[i], i

    def stop(self, sig=signal.SIGINT, timeout=30):
        """Signals the program and checks the clean end: exit code 0, last line."""
        self.proc.send_signal(sig)
        try:
            code = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            check(False, "the program did not end within %ss after signal %d" % (timeout, sig))
        for t in self._readers:
            t.join(10)
        check(code == 0, "exit code %d after signal %d" % (code, sig))
        check(self.lines[-1] == STOPPED, "last line: %r" % self.lines[-1])

    def link_lines(self):
        return [i for i, line in enumerate(self.lines) if re.fullmatch(r"https?://\S+", line)]

    def qr_after(self, index):
        """The QR code printed under line `index` as rows of modules (True = dark)."""
        rows = []
        for line in self.lines[index + 1:]:
            line = ANSI.sub("", line)
            if not line or any(ch not in BLOCKS for ch in line):
                break
            rows += [[not BLOCKS[ch][0] for ch in line], [not BLOCKS[ch][1] for ch in line]]
        return rows

    def table_rows(self, name):
        """Every printed table row of the item called `name`, split into columns."""
        return [line.split() for line in self.lines
                if line.startswith("  ") and line.split()[:1] == [name] and "Active" in line.split()]


def decode_qr(modules, work, tag):
    """Draws the module rows into a PGM picture and reads it with zbarimg."""
    scale, h = 6, len(modules)
    w = len(modules[0]) if h else 0
    check(h >= 21 and w >= 21, "QR code too small (%dx%d)" % (w, h))
    path = os.path.join(work, "qr-%s.pgm" % tag)
    with open(path, "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (w * scale, h * scale))
        for row in modules:
            f.write(b"".join(bytes([0 if dark else 255]) * scale for dark in row) * scale)
    r = subprocess.run(["zbarimg", "--raw", "-q", path], capture_output=True, timeout=60)
    check(r.returncode == 0, "zbarimg found no code in %s: %s" % (path, r.stderr.decode()))
    return r.stdout.decode().strip()


def check_qr(prog, index, work, tag):
    check(decode_qr(prog.qr_after(index), work, tag) == prog.lines[index], "QR code of " + prog.lines[index])


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


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)
    return path
