"""`vornhale share` driven as a person would, one scenario per run, every
connection to loopback (and inside a private network namespace where possible).

clients   --lan with real clients: curl (page, exact bytes, a burst of ranges),
          wget -c resuming, the QR code read back, the Downloads figure, a
          folder as a zip archive, an odd name in the table, SIGINT / SIGTERM.
refusals  how a refusal shows (one row of each kind: the texts are the core's
          and are tested there), a batch partly refused, a broken zip.
browser   headless Chromium clicks "Download file"; Chromium (apt) and
          playwright-core (npm, into --node-dir) are installed when missing.
publish   --internet with the fake client printing an address: the link is
          printed once published (skipped without a private namespace, so the
          probe cannot leave the machine).
failing   the client keeps ending: three restarts, then a same-network link.
missing   no client anywhere: a same-network link at once.
(Archive names taken by another instance: the core's tests.)"""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tvlib  # noqa: E402
from tvlib import Program, check, check_qr, fetch, fresh_dir, loopback, write  # noqa: E402


def downloads_reach(prog, name, n, timeout=20):
    prog.wait_line(r"^  %s .* Active\s+%d\s" % (re.escape(name), n), timeout)


def share_file(exe, work, env):
    data = os.urandom(3 * 1024 * 1024 + 123)
    path = write(os.path.join(work, "payload.bin"), data)
    with Program(exe, ["--lan", "--link", "  my-payload_1\t", path], env=env, cwd=work) as prog:
        link, i = prog.link()
        check(link.endswith("/my-payload_1"), "custom link not used: " + link)
        check_qr(prog, i, work, "lan")
        prog.wait_line(r"^LAN link ready and copied to clipboard\.$")
        prog.wait_line(r"^  payload\.bin\s+File\s+3\.0 MB\s+LAN\s+Active\s+0\s+" + re.escape(link) + "$")
        check(prog.lines[0] == "Choose a mode, then click Start Sharing.", "first line: %r" % prog.lines[0])
        url = loopback(link)
        page = fetch(url).decode()
        for piece in ("<h1>payload.bin</h1>", "3.0 MB", 'href="?dl=1"', ">Download file</a>"):
            check(piece in page, "page lacks %r" % piece)
        check(fetch(url + "?dl=1") == data, "curl download differs")
        downloads_reach(prog, "payload.bin", 1)

        part = write(os.path.join(work, "resumed.bin"), data[:1000003])
        r = subprocess.run(["wget", "-q", "--no-proxy", "-c", "-O", part, url + "?dl=1"],
                           capture_output=True, timeout=60)
        check(r.returncode == 0, "wget -c failed: %s" % r.stderr.decode())
        with open(part, "rb") as f:
            check(f.read() == data, "wget -c result differs")
        downloads_reach(prog, "payload.bin", 2)

        # Twenty one-byte ranges in a burst: the table is printed at most once a
        # second, and its final state comes without another download.
        tables_before = len(prog.table_rows("payload.bin"))
        start = time.monotonic()
        burst = sum((["-r", "0-0", "-o", "/dev/null", url + "?dl=1"] for _ in range(20)), [])
        r = subprocess.run(["curl", "-sS", "--noproxy", "*", "--max-time", "30"] + burst,
                           capture_output=True, timeout=60)
        check(r.returncode == 0, "range burst failed: %s" % r.stderr.decode())
        downloads_reach(prog, "payload.bin", 22, timeout=5)
        tables = len(prog.table_rows("payload.bin")) - tables_before
        check(tables <= int(time.monotonic() - start) + 1, "%d tables for 20 downloads" % tables)
        prog.stop(signal.SIGINT)
        check(tvlib.port_closed(url), "server still answers after the stop")
        check(prog.err == [], "unexpected messages: %r" % prog.err)


def share_folder(exe, work, env):
    folder = fresh_dir(os.path.join(work, "holiday photos"))
    files = {"a.txt": b"alpha\n", "sub/b.bin": os.urandom(70000)}
    for rel, content in files.items():
        write(os.path.join(folder, rel), content)
    # A link to a file inside travels as a copy; links out, to a folder and a
    # loop are left out and named.
    for name, target in (("copy.bin", "sub/b.bin"), ("outside", os.path.abspath(__file__)),
                         ("sub-link", "sub"), ("loop", "loop")):
        os.symlink(target, os.path.join(folder, name))
    files["copy.bin"] = files["sub/b.bin"]
    tmp = fresh_dir(os.path.join(work, "tmp"))
    with Program(exe, ["--lan", folder + "/"], env=dict(env, TMPDIR=tmp), cwd=work) as prog:
        prog.wait_line(r"^Compressing folder\.\.\. \(this may take a moment\)$")
        link, _ = prog.link()
        prog.wait_line(r"^  holiday photos_\d+\.zip\s+Folder\s")
        archive = write(os.path.join(work, "got.zip"), fetch(loopback(link) + "?dl=1"))
        with zipfile.ZipFile(archive) as z:
            names = {m.filename for m in z.infolist() if not m.is_dir()}
            check(names == set(files), "archive holds %r" % sorted(names))
            for rel, content in files.items():
                check(z.read(rel) == content, "archive member %s differs" % rel)
            for m in z.infolist():  # no entry is a link (Unix mode in the high bits)
                check((m.external_attr >> 16) & 0o170000 != 0o120000, "link entry %s" % m.filename)
        want = sorted("vornhale: left out link %s: it points outside the folder or to a folder" % n
                      for n in ("outside", "sub-link", "loop"))
        check(sorted(prog.err) == want, "left-out links reported: %r" % prog.err)
        prog.stop(signal.SIGTERM)
    own = os.path.join(tmp, "vornhale-%d" % os.geteuid())
    check(not os.path.isdir(own) or os.listdir(own) == [], "temporary archives left")


def odd_name(exe, work, env):
    """ESC, BEL, CR and LF in a name print as visible escapes; columns stay."""
    path = write(os.path.join(work, "odd\x1b[2J\x07\r\nname.txt"), b"odd")
    with Program(exe, ["--lan", path], env=env) as prog:
        row = prog.lines[prog.wait_line("^  " + re.escape("odd\\x1B[2J\\x07\\x0D\\x0Aname.txt") + "  File  ")]
        head = prog.lines[prog.wait_line(r"^  Name\s+Kind")]
        check(head.index("Kind") == row.index("File") and head.index("Link") == row.index("http"),
              "columns moved:\n%s\n%s" % (head, row))
        check(not any("\x1b[2J" in line or "\x07" in line for line in prog.lines), "raw control characters")
        prog.stop()


TOO_BIG = "File exceeds the 1 GB limit for the free tier."


def skipped(path, reason):
    return "vornhale: skipped %s: %s\n" % (path, reason)


def refused(exe, w, env):
    f1, f2, f3, f4 = (write(os.path.join(w, "f%d.txt" % i), b"x") for i in range(1, 5))
    missing = os.path.join(w, "nothing-here")
    odd_missing = os.path.join(w, "gone\x1b]0;title\x07\r\n")
    none_opened = "None of the dropped paths could be opened."
    cases = [
        # (arguments, exit code, standard error: the box text after the skipped lines, or None for usage)
        (["--lan", missing, odd_missing], 1, skipped(missing, "No such file or directory")
         + skipped(os.path.join(w, "gone\\x1B]0;title\\x07\\x0D\\x0A"), "No such file or directory"), none_opened),
        (["--lan", ""], 1, skipped("", "the path is empty"), none_opened),
        (["--lan", os.path.join(w, os.fsdecode(b"bad\xff"))], 1,
         skipped(os.path.join(w, "bad\\xFF"), "the name is not valid UTF-8"), none_opened),
        (["--lan", f1, f2, f3, f4], 1, "", "You've reached the free-tier sharing limit.\n\n"
         "   Free plan:  up to 3 files  OR  1 folder per session.\n"
         "   Premium:    unlimited files, mixed batches, larger size cap.\n\n"
         "Stop or remove an existing share to add another, or stay tuned - Premium is coming soon."),
        (["--lan", "--link", "Admin", f1], 1, "", "That custom link is reserved. Choose a different one."),
        (["--lan"], 2, "", None),
        (["--bogus", f1], 2, "", None),
    ]
    for argv, code, before, text in cases:
        r = subprocess.run([exe, "share"] + argv, capture_output=True, timeout=60,
                           env=dict(os.environ, **env), stdin=subprocess.DEVNULL)
        out, err = r.stdout.decode(), r.stderr.decode()
        label = " ".join(os.path.basename(x) for x in argv)
        check(r.returncode == code, "%s: exit code %d, want %d (stderr %r)" % (label, r.returncode, code, err))
        check("http" not in out, "%s: a link was printed: %r" % (label, out))
        if text is None:
            check(err.startswith("vornhale: ") and "usage: vornhale share" in err, "%s: stderr %r" % (label, err))
        else:
            check(err == before + "Vorn-Hale: " + text + "\n", "%s: stderr %r" % (label, err))

    # A batch with a missing and a too big path: the rest is shared (exit 0 after the stop).
    too_big = os.path.join(w, "big.bin")
    with open(too_big, "wb") as f:
        f.truncate(1073741825)
    with Program(exe, ["--lan", missing, f1, too_big], env=env) as prog:
        prog.wait_line(r"^  f1\.txt\s+File\s")
        prog.wait_line("^Vorn-Hale: " + TOO_BIG.replace(".", r"\.") + "$", stream=prog.err)
        check(not prog.table_rows("big.bin"), "the refused file has a row")
        prog.stop()
        check(prog.err == [skipped(missing, "No such file or directory").strip(), "Vorn-Hale: " + TOO_BIG],
              "messages: %r" % prog.err)


def broken_compressor(exe, w, env):
    """A zip earlier on PATH that fails (its exit code is named, also when the
    parent ignores SIGCHLD) or hangs (a stop ends it at once): no archive left."""
    folder = os.path.dirname(write(os.path.join(w, "photos", "a.txt"), "a"))
    bin_dir, tmp = fresh_dir(os.path.join(w, "bin")), fresh_dir(os.path.join(w, "tmp"))
    run_env = dict(env, TMPDIR=tmp, PATH=bin_dir + ":" + os.environ["PATH"])
    for how, body in (("fail", "exit 3"), ("hang", "exec sleep 60")):
        os.chmod(write(os.path.join(bin_dir, "zip"), "#!/bin/sh\necho partial\n%s\n" % body), 0o755)
        if how == "fail":
            r = subprocess.run([exe, "share", "--lan", folder], capture_output=True, timeout=60,
                               env=dict(os.environ, **run_env), stdin=subprocess.DEVNULL,
                               preexec_fn=lambda: signal.signal(signal.SIGCHLD, signal.SIG_IGN))
            check(r.returncode == 1, "failing zip: exit code %d" % r.returncode)
            check(r.stderr.decode() == "Vorn-Hale: Could not compress folder: zip exited with code 3.\n",
                  "failing zip: stderr %r" % r.stderr.decode())
        else:
            with Program(exe, ["--lan", folder], env=run_env) as prog:
                prog.wait_line(r"^Compressing folder")
                time.sleep(0.3)
                prog.stop(timeout=2)
                check(prog.err == [], "stop during compression: messages %r" % prog.err)
        left = [n for d in os.listdir(tmp) for n in os.listdir(os.path.join(tmp, d))]
        check(left == [], "%s: archives left: %r" % (how, left))


ADDRESS = "https://quiet-meadow-lantern-drift.trycloudflare.com"
ROW = r"^  notes\.bin\s+File\s+195\.3 KB\s+"


def run(a, script):
    """Starts the program on a 200000-byte file with the fake (unless None) as
    the only client on PATH; the program, the data and the fake's folder."""
    work = fresh_dir(a.work)
    bin_dir, fake_dir = fresh_dir(os.path.join(work, "bin")), fresh_dir(os.path.join(work, "fake"))
    if script is not None:
        shutil.copy(a.fake, os.path.join(bin_dir, "cloudflared"))
        write(os.path.join(fake_dir, "script.txt"), script)
    data = os.urandom(200000)
    path = write(os.path.join(work, "notes.bin"), data)
    env = {"PATH": bin_dir + os.pathsep + "/usr/bin:/bin", "VH_FAKE_TUNNEL_DIR": fake_dir,
           "XDG_CONFIG_HOME": os.path.join(work, "cfg")}
    args = [path] if script is None else ["--internet", path]  # Internet is the default
    return Program(a.exe, args, env=env), data, fake_dir, work


def starts(fake_dir):
    with open(os.path.join(fake_dir, "pids.txt")) as f:
        return [int(x) for x in f.read().split()]


def publish(a):
    prog, data, fake_dir, work = run(a, "sleep 300\nprint 2026-12-06T08:00:00Z INF |  %s  |\nhang\n" % ADDRESS)
    with prog:
        prog.wait_line(r"^Starting Cloudflare tunnel \(up to 60s\)\.\.\.$")
        prog.wait_line(ROW + r"Internet\s+Active\s+0\s+\(waiting for tunnel\.\.\.\)$")
        check(prog.link_lines() == [], "a link before the address was published")
        prog.wait_line(r"^Public link found\. Checking it's reachable\.\.\.$")
        # The probe cannot reach the address here: published after 15 s anyway.
        link, i = prog.link(r"^" + re.escape(ADDRESS) + r"/[A-Za-z0-9]{12}$", timeout=40)
        check_qr(prog, i, work, "internet")
        prog.wait_line(r"^Link ready and copied\. Allow a few seconds to come online\.$")
        prog.wait_line(ROW + r"Internet\s+Active\s+0\s+" + re.escape(link) + "$")
        # The server answers on the port the client was told.
        with open(os.path.join(fake_dir, "cmdline.txt")) as f:
            port = f.read().rsplit(":", 1)[1]
        check(fetch("http://127.0.0.1:%s/%s?dl=1" % (port, link.rsplit("/", 1)[1])) == data, "download")
        prog.wait_line(r"^  notes\.bin .* Internet\s+Active\s+1\s")
        pids = starts(fake_dir)
        check(len(pids) == 1, "client starts: %r" % pids)
        prog.stop(signal.SIGTERM)
        check(not tvlib.pid_alive(pids[0]), "the tunnel client outlived the program")


def failing(a):
    prog, data, fake_dir, work = run(a, "print starting\nexit 1\n")
    with prog:
        prog.wait_line(r"^Starting Cloudflare tunnel \(up to 60s\)\.\.\.$")
        end = prog.wait_line(r"^Tunnel unavailable\. Using LAN links instead\.$", timeout=60)
        drops = prog.lines[:end].count("Tunnel dropped. Reconnecting...")
        check(drops == 3 and len(starts(fake_dir)) == 4, "restarts: %d" % drops)
        links = prog.link_lines()
        check(len(links) == 1, "links printed: %r" % [prog.lines[i] for i in links])
        link = prog.lines[links[0]]
        check(link.startswith("http://"), "fallback link: " + link)
        check_qr(prog, links[0], work, "fallback")
        prog.wait_line(ROW + r"LAN\s+Active\s+0\s+" + re.escape(link) + "$")
        check(fetch(loopback(link) + "?dl=1") == data, "download through the fallback link")
        prog.stop()


def missing(a):
    prog, data, _, _ = run(a, None)
    with prog:
        prog.wait_line(r"^cloudflared\.exe missing using LAN link instead\.$")
        link, _ = prog.link(r"^http://\S+$")
        prog.wait_line(ROW + r"LAN\s+Active\s+0\s")
        check(fetch(loopback(link) + "?dl=1") == data, "download through the LAN link")
        prog.stop()


CHROMIUM = "/usr/bin/chromium"


def ensure_tools(node_dir):
    if not os.path.exists(CHROMIUM):
        subprocess.run(["apt-get", "install", "-y", "--no-install-recommends", "chromium"],
                       env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"), check=True, timeout=1200)
    if not os.path.isdir(os.path.join(node_dir, "node_modules", "playwright-core")):
        pkg = os.path.join(node_dir, "package.json")
        if not os.path.exists(pkg):
            write(pkg, '{"name": "vh-e2e-node", "private": true}\n')
        subprocess.run(["npm", "install", "--no-audit", "--no-fund", "playwright-core"],
                       cwd=node_dir, check=True, timeout=600)


def browser(a):
    if os.environ.get("VH_E2E_NETNS") != "1":
        if shutil.which("node") is None:
            print("skipped: node is not installed")
            sys.exit(tvlib.SKIP)
        ensure_tools(a.node_dir)
    tvlib.enter_private_network(sys.argv)
    work = fresh_dir(a.work)
    data = os.urandom(1500000)
    path = write(os.path.join(work, "song.ogg"), data)
    with Program(a.exe, ["--lan", path], env={"XDG_CONFIG_HOME": os.path.join(work, "cfg")}) as prog:
        link, _ = prog.link()
        prog.wait_line(r"^  song\.ogg .* Active\s+0\s")
        saved = os.path.join(work, "saved.ogg")
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "click_download.js")
        r = subprocess.run(["node", script, loopback(link), saved, os.path.join(work, "profile")],
                           capture_output=True, timeout=150,
                           env=dict(os.environ, NODE_PATH=os.path.join(a.node_dir, "node_modules")))
        check(r.returncode == 0, "browser run failed: %s %s" % (r.stdout.decode(), r.stderr.decode()))
        info = json.loads(r.stdout.decode().strip().splitlines()[-1])
        check(info["title"] == "Download - Vorn-Hale", "page title %r" % info["title"])
        check(info["suggested"] == "song.ogg", "suggested name %r" % info["suggested"])
        with open(saved, "rb") as f:
            check(f.read() == data, "the browser's download differs")
        prog.wait_line(r"^  song\.ogg .* Active\s+1\s")
        prog.stop()


def clients(a):
    tvlib.enter_private_network(sys.argv)
    work = fresh_dir(a.work)
    env = {"XDG_CONFIG_HOME": os.path.join(work, "cfg")}
    for scenario in (share_file, share_folder, odd_name):
        scenario(a.exe, work, env)


def refusals(a):
    w = fresh_dir(a.work)
    env = {"XDG_CONFIG_HOME": os.path.join(w, "cfg")}
    refused(a.exe, w, env)
    broken_compressor(a.exe, w, env)


SCENARIOS = {"clients": clients, "refusals": refusals, "browser": browser,
             "publish": publish, "failing": failing, "missing": missing}


def main():
    a = tvlib.args(("--fake", {}), ("--node-dir", {}), ("scenario", {"choices": sorted(SCENARIOS)}))
    if a.scenario in ("publish", "failing", "missing"):
        if not tvlib.enter_private_network(sys.argv) and a.scenario == "publish":
            print("skipped: no private network namespace (needs root and unshare)")
            sys.exit(tvlib.SKIP)
    SCENARIOS[a.scenario](a)
    print("ok")


if __name__ == "__main__":
    main()
