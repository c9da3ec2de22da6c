"""`vornhale share` driven as a person would with real clients, every connection to loopback (a link's host
becomes 127.0.0.1), in a private network namespace where possible. Scenarios: lan, browser (headless
Chromium, installed when missing), tunnel (the fake client publishing, and one that keeps ending)."""
import argparse, json, os, re, shutil, signal, socket, subprocess, sys, threading, time, urllib.parse, zipfile

BLOCKS = {" ": (False, False), "\u2580": (True, False), "\u2584": (False, True), "\u2588": (True, True)}
# The window's words, which a terminal transcript never holds (stdout is no terminal here: nothing is copied).
WINDOW_WORDS = ("click Start Sharing", "cloudflared.exe", "copied", "Close it in any other app", "Drop a file",
                "Compressing folder")

def check_terminal_words(lines, label):
    bad = [l for l in lines if any(w in l for w in WINDOW_WORDS)]
    check(not bad, "%s: window wording %r" % (label, bad))

def check(cond, msg):
    if not cond:
        sys.exit("FAIL: " + msg)

def loopback(url, query="?dl=1"):
    p = urllib.parse.urlsplit(url)
    return "http://127.0.0.1:%d%s%s" % (p.port, p.path, query)

def fetch(url):
    r = subprocess.run(["curl", "-sS", "--noproxy", "*", "--max-time", "30", url], capture_output=True, timeout=40)
    check(r.returncode == 0, "curl %s failed: %s" % (url, r.stderr.decode()))
    return r.stdout

def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)
    return path

def fresh_dir(*parts):
    path = os.path.join(*parts)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path

def archives_left(env):
    own = os.path.join(env["TMPDIR"], "vornhale-%d" % os.geteuid())
    return sorted(os.listdir(own)) if os.path.isdir(own) else []

def enter_private_network():
    """Re-runs this script with only loopback; False when that is not possible here."""
    if os.environ.get("VH_E2E_NETNS") == "1":
        return True
    if subprocess.run(["unshare", "-n", "true"], capture_output=True, timeout=20).returncode != 0:
        return False
    sys.stdout.flush()
    os.execvpe("unshare", ["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$@"', "sh", sys.executable]
               + sys.argv, dict(os.environ, VH_E2E_NETNS="1"))

class Program:
    """One run of `vornhale share ...`, its output read line by line."""

    def __init__(self, exe, args, env):
        self.lines, self.err, self.cond = [], [], threading.Condition()
        self.proc = subprocess.Popen([exe, "share"] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     stdin=subprocess.DEVNULL, env=dict(os.environ, **env))
        self.readers = [threading.Thread(target=self._read, args=a, daemon=True)
                        for a in ((self.proc.stdout, self.lines), (self.proc.stderr, self.err))]
        for t in self.readers:
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

    def wait_line(self, pattern, timeout=20):
        """Index of the first line of standard output that matches (re.search)."""
        rx, deadline = re.compile(pattern), time.monotonic() + timeout
        with self.cond:
            while True:
                for i, line in enumerate(self.lines):
                    if rx.search(line):
                        return i
                left = deadline - time.monotonic()
                ended = self.proc.poll() is not None and not any(t.is_alive() for t in self.readers)
                check(left > 0 and not ended, "no line matching %r within %ss; stdout:\n%s\nstderr:\n%s"
                      % (pattern, timeout, "\n".join(self.lines), "\n".join(self.err)))
                self.cond.wait(min(left, 0.2))

    def check_qr(self, index, work):
        """The code printed under line `index` (half blocks, light drawn) reads back as that line."""
        rows = []
        for line in self.lines[index + 1:]:
            if not line or any(ch not in BLOCKS for ch in line):
                break
            rows += [[not BLOCKS[ch][0] for ch in line], [not BLOCKS[ch][1] for ch in line]]
        check(len(rows) >= 21, "no QR code under " + self.lines[index])
        pgm = b"P5\n%d %d\n255\n" % (len(rows[0]) * 6, len(rows) * 6)
        pgm += b"".join(b"".join(bytes([0 if dark else 255]) * 6 for dark in row) * 6 for row in rows)
        r = subprocess.run(["zbarimg", "--raw", "-q", write(os.path.join(work, "qr.pgm"), pgm)],
                           capture_output=True, timeout=60)
        check(r.stdout.decode().strip() == self.lines[index], "QR code of %s: %r" % (self.lines[index], r.stdout))

    def stop(self, sig=signal.SIGINT, timeout=30):
        """Signals the program; it ends (within `timeout` seconds) with exit code 0 after the last line."""
        self.proc.send_signal(sig)
        code = self.proc.wait(timeout)
        for t in self.readers:
            t.join(10)
        check(code == 0 and self.lines[-1] == "All sharing stopped.", "exit %d, last line %r" % (code, self.lines[-1]))

def share_file(exe, work, env):
    data = os.urandom(3 * 1024 * 1024 + 123)
    with Program(exe, ["--lan", "--link", "  my-payload_1\t", write(os.path.join(work, "payload.bin"), data)],
                 env) as prog:
        i = prog.wait_line(r"^http://\S+/my-payload_1$")
        link = prog.lines[i]
        prog.check_qr(i, work)
        row = r"^  payload\.bin\s+File\s+3\.0 MB\s+LAN\s+Active\s+%d\s+" + re.escape(link) + "$"
        prog.wait_line(row % 0)
        check(prog.lines[:i] == ["LAN link ready."], "lines: %r" % prog.lines[:i])
        check(fetch(loopback(link)) == data, "curl download differs")
        prog.wait_line(row % 1)
        prog.stop(signal.SIGINT)
        check(prog.err == [], "unexpected messages: %r" % prog.err)
        check_terminal_words(prog.lines, "a file")

def share_folder(exe, work, env):
    folder = fresh_dir(work, "holiday photos")
    files = {"a.txt": b"alpha\n", "sub/b.bin": os.urandom(70000), "-": b"dash", "new\nline": b"nl"}
    for rel, content in files.items():
        write(os.path.join(folder, rel), content)
    # A link to a file inside travels as a copy; links out, to a folder and a loop are left out and named, as is a FIFO.
    for name, target in (("copy.bin", "sub/b.bin"), ("outside", os.path.abspath(__file__)), ("sub-link", "sub"),
                         ("loop", "loop")):
        os.symlink(target, os.path.join(folder, name))
    os.mkfifo(os.path.join(folder, "pipe"))
    files["copy.bin"] = files["sub/b.bin"]
    with Program(exe, ["--lan", folder + "/"], env) as prog:
        link = prog.lines[prog.wait_line(r"^  holiday photos_\d+\.zip\s+Folder\s.* (http://\S+)$")].split()[-1]
        got_zip = write(os.path.join(work, "got.zip"), fetch(loopback(link)))
        with zipfile.ZipFile(got_zip) as z:
            got = {m.filename: z.read(m) for m in z.infolist() if not m.is_dir()}
            check(got == {"holiday photos/" + k: v for k, v in files.items()}, "archive holds %r" % sorted(got))
            check(all((m.external_attr >> 16) & 0o170000 != 0o120000 for m in z.infolist()), "a link entry")
        r = subprocess.run(["unzip", "-tqq", got_zip], capture_output=True, timeout=60)
        check(r.returncode == 0, "unzip -t: %r" % r.stdout)
        want = sorted("vornhale: skipped %s/%s: %s" % (folder, n, why) for n, why in (
            ("outside", "the link leads outside the folder"), ("sub-link", "the link leads to a folder"),
            ("loop", "the link leads nowhere"), ("pipe", "it is a FIFO, not a file")))
        check(sorted(prog.err) == want, "left out: %r" % prog.err)
        check(prog.lines[0] == "Archiving the folder... (this may take a moment)", "first line %r" % prog.lines[0])
        prog.stop(signal.SIGTERM)
        check_terminal_words(prog.lines + prog.err, "a folder")

def refusals(exe, w, env):
    """Exit codes and the terminal's own texts (the core's refusal and compressor texts are tested there)."""
    missing, fifo = os.path.join(w, "nothing-here"), os.path.join(w, "a-fifo")
    os.mkfifo(fifo)
    skipped = "vornhale: skipped %s: %s\n"
    cases = [  # (arguments, exit code, standard error or None for the usage)
        (["--lan", missing, "", os.path.join(w, os.fsdecode(b"bad\xff\x1b]0;t\x07\r\n")), fifo], 1,
         skipped % (missing, "No such file or directory") + skipped % ("", "the path is empty")
         + skipped % (os.path.join(w, "bad\\xFF\\x1B]0;t\\x07\\x0D\\x0A"), "the name is not valid UTF-8")
         + skipped % (fifo, "it is a FIFO, not a file") + "Vorn-Hale: None of the dropped paths could be opened.\n"),
        (["--lan"], 2, None)]
    for argv, code, err in cases:
        r = subprocess.run([exe, "share"] + argv, capture_output=True, timeout=60, env=dict(os.environ, **env),
                           stdin=subprocess.DEVNULL)
        got, label = r.stderr.decode(), "%r: exit code %d, stderr %r" % (argv, r.returncode, r.stderr)
        check(r.returncode == code and b"http" not in r.stdout, label)
        check(got == err if err else got.startswith("vornhale: ") and "usage: vornhale share" in got, label)
        if err:
            check_terminal_words(r.stdout.decode().splitlines() + got.splitlines(), label)
    # Usage errors echo the argument escaped: no raw control byte reaches the terminal.
    evil = "-\x1b]52;c;ZXZpbA==\x07x"
    for argv in (["share", "--lan", evil], [evil[1:]]):
        r = subprocess.run([exe] + argv, capture_output=True, timeout=60, env=dict(os.environ, **env))
        raw = [c for c in r.stdout + r.stderr if c < 0x20 and c not in b"\n" or c == 0x7F]
        check(r.returncode == 2 and not raw and b"\\x1B]52;c;ZXZpbA==\\x07x" in r.stderr, "usage error: %r" % r.stderr[:200])
    # Ctrl-C while a large folder is archived: ends within a second, exit 0, no archive, no child meanwhile.
    big = fresh_dir(w, "big")
    for i in range(200):
        with open(os.path.join(big, "zeros%d" % i), "wb") as f:
            f.truncate(8 << 20)
    with Program(exe, ["--lan", big], env) as prog:
        prog.wait_line(r"^Archiving the folder")
        time.sleep(0.5)
        check(prog.proc.poll() is None, "archiving ended early")
        children = open("/proc/%d/task/%d/children" % (prog.proc.pid, prog.proc.pid)).read().split()
        check(children == [], "children while archiving: %r" % children)
        prog.stop(timeout=1)
        check(prog.err == [], "stop during archiving: messages %r" % prog.err)
    check(archives_left(env) == [], "archives left: %r" % archives_left(env))
    shutil.rmtree(big)

def leftovers(exe, w, env):
    """A killed run's archive goes at the next start; a running instance's stays and is served while a second
    one (--internet without a tunnel client: a LAN link) starts; Ctrl-C during a download (the server still
    sending) exits 0 and leaves no archive."""
    archives = lambda: [n for n in archives_left(env) if n.endswith(".zip")]
    folders = [os.path.dirname(write(os.path.join(w, name, "big.bin"), os.urandom(24 << 20))) for name in ("k", "b")]
    row = r"^  %s_\d+\.zip\s+Folder\s.* (http://\S+)$"
    with Program(exe, ["--lan", folders[0]], env) as killed:
        killed.wait_line(row % "k", 60)
        killed.proc.kill()
        killed.proc.wait(10)
    left = archives()
    check(len(left) == 1 and left[0].startswith("k_"), "after kill -9: %r" % left)
    with Program(exe, ["--lan", folders[1]], env) as running:
        link = running.lines[running.wait_line(row % "b", 60)].split()[-1]
        kept = archives()
        check(len(kept) == 1 and kept[0].startswith("b_"), "the killed run's archive stayed: %r" % kept)
        with Program(exe, [write(os.path.join(w, "c.txt"), "c")], dict(env, PATH="/usr/bin:/bin")) as second:
            i = second.wait_line(r"^http://\S+/\S+$")
            check(second.lines[:i] == ["cloudflared not found next to vornhale or on PATH: using a LAN link instead."]
                  and fetch(loopback(second.lines[i])) == b"c", "no client: %r" % second.lines)
            check(archives() == kept, "a second start took the running instance's archive: %r" % archives())
            zipfile.ZipFile(write(os.path.join(w, "b.zip"), fetch(loopback(link)))).testzip()
            second.stop()
            check_terminal_words(second.lines + second.err, "no client")
        url = urllib.parse.urlsplit(loopback(link))
        with socket.create_connection(("127.0.0.1", url.port), timeout=10) as s:
            s.sendall(b"GET %s?dl=1 HTTP/1.1\r\nHost: x\r\n\r\n" % url.path.encode())
            check(s.recv(65536).startswith(b"HTTP/1.1 200 OK"), "no download under way")
            running.stop(signal.SIGINT)
            check(archives() == [], "the archive outlived a stop during a download: %r" % archives())

def lan(a):
    enter_private_network()
    work = fresh_dir(a.work)
    env = {"XDG_CONFIG_HOME": os.path.join(work, "cfg"), "TMPDIR": fresh_dir(work, "tmp")}
    for step in (share_file, share_folder, refusals, leftovers):
        step(a.exe, work, env)
    check(archives_left(env) == [], "temporary archives left: %r" % archives_left(env))

def start(a, name, script):
    """The program on a 200000-byte file in --work/NAME (Internet, the default), the fake client following `script`."""
    work = fresh_dir(a.work, name)
    bin_dir, fake_dir = fresh_dir(work, "bin"), fresh_dir(work, "fake")
    shutil.copy(a.fake, os.path.join(bin_dir, "cloudflared"))
    write(os.path.join(fake_dir, "script.txt"), script)
    data = os.urandom(200000)
    prog = Program(a.exe, [write(os.path.join(work, "notes.bin"), data)], {
        "PATH": bin_dir + os.pathsep + "/usr/bin:/bin", "VH_FAKE_TUNNEL_DIR": fake_dir,
        "XDG_CONFIG_HOME": os.path.join(work, "cfg")})
    prog.wait_line(r"^Starting Cloudflare tunnel \(up to 60s\)\.\.\.$")
    return prog, data, fake_dir

def starts(fake_dir):
    return [int(x) for x in open(os.path.join(fake_dir, "pids.txt")).read().split()]

def links(prog):
    return [i for i, line in enumerate(prog.lines) if re.fullmatch(r"https?://\S+", line)]

def tunnel(a):
    if not enter_private_network():
        print("skipped: no private network namespace (needs root and unshare)")
        sys.exit(77)
    address = "https://quiet-meadow-lantern-drift.trycloudflare.com"
    pub, data, pub_fake = start(a, "publish", "sleep 300\nprint 2026-12-06T08:00:00Z INF |  %s  |\nhang\n" % address)
    fail, _, fail_fake = start(a, "failing", "print starting\nexit 1\n")
    with pub, fail:
        end = fail.wait_line(r"^Tunnel unavailable\. Using LAN links instead\.$", timeout=60)
        drops, lan_links = fail.lines[:end].count("Tunnel dropped. Reconnecting..."), links(fail)
        check(drops == 3 and len(starts(fail_fake)) == 4 and len(lan_links) == 1
              and fail.lines[lan_links[0]].startswith("http://"), "restarts %d, links %r" % (drops, lan_links))
        fail.stop()

        row = r"^  notes\.bin\s+File\s+195\.3 KB\s+Internet\s+Active\s+"
        pub.wait_line(row + r"0\s+\(waiting for tunnel\.\.\.\)$")
        found = pub.wait_line(r"^Public link found\. Checking it's reachable\.\.\.$")
        # The probe cannot reach the address here: published after 15 s anyway.
        i = pub.wait_line(r"^" + re.escape(address) + r"/[A-Za-z0-9]{12}$", timeout=40)
        check(links(pub) == [i] and i > found, "links printed: %r" % links(pub))
        pub.wait_line(row + r"0\s+" + re.escape(pub.lines[i]) + "$")
        port = open(os.path.join(pub_fake, "cmdline.txt")).read().rsplit(":", 1)[1]  # the port the client was told
        check(fetch("http://127.0.0.1:%s/%s?dl=1" % (port, pub.lines[i].rsplit("/", 1)[1])) == data, "download")
        pub.wait_line(row + r"1\s")
        pids = starts(pub_fake)
        check(len(pids) == 1, "client starts: %r" % pids)
        pub.stop(signal.SIGTERM)
        try:
            with open("/proc/%d/stat" % pids[0]) as f:
                state = f.read().rsplit(")", 1)[1].split()[0]
        except OSError:
            state = "gone"
        check(state in ("gone", "Z"), "the tunnel client outlived the program")  # Z: ended, not yet reaped

def browser(a):
    if os.environ.get("VH_E2E_NETNS") != "1":  # what is missing is installed while there is a network
        if shutil.which("node") is None:
            print("skipped: node is not installed")
            sys.exit(77)
        if not os.path.exists("/usr/bin/chromium"):
            subprocess.run(["apt-get", "install", "-y", "--no-install-recommends", "chromium"], check=True, timeout=1200)
        if not os.path.isdir(os.path.join(a.node_dir, "node_modules", "playwright-core")):
            write(os.path.join(a.node_dir, "package.json"), '{"name": "vh-e2e-node", "private": true}\n')
            subprocess.run(["npm", "install", "--no-audit", "--no-fund", "playwright-core"], cwd=a.node_dir,
                           check=True, timeout=600)
    enter_private_network()
    work = fresh_dir(a.work)
    data = os.urandom(1500000)
    with Program(a.exe, ["--lan", write(os.path.join(work, "song.ogg"), data)],
                 {"XDG_CONFIG_HOME": os.path.join(work, "cfg")}) as prog:
        link, saved = prog.lines[prog.wait_line(r"^http://\S+$")], os.path.join(work, "saved.ogg")
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "click_download.js")
        r = subprocess.run(["node", script, loopback(link, ""), saved, os.path.join(work, "profile")],
                           capture_output=True, timeout=150,
                           env=dict(os.environ, NODE_PATH=os.path.join(a.node_dir, "node_modules")))
        check(r.returncode == 0, "browser run failed: %s %s" % (r.stdout.decode(), r.stderr.decode()))
        info = json.loads(r.stdout.decode().strip().splitlines()[-1])
        check((info["title"], info["suggested"]) == ("Download - Vorn-Hale", "song.ogg"), "page: %r" % info)
        check(open(saved, "rb").read() == data, "the browser's download differs")
        prog.wait_line(r"^  song\.ogg .* Active\s+1\s")
        prog.stop()

if __name__ == "__main__":
    ap = argparse.ArgumentParser()
    for opt in ("--exe", "--work", "--fake", "--node-dir"):
        ap.add_argument(opt)
    ap.add_argument("scenario", choices=("lan", "browser", "tunnel"))
    a = ap.parse_args()
    globals()[a.scenario](a)
    print("ok")
