"""vornhale share --lan with real clients: curl (page, exact bytes, a burst of
ranges), wget -c resuming, the QR code read back, the Downloads figure, a
folder as a zip archive, an odd name in the table, the stop on SIGINT / SIGTERM.
(Archive names taken by another instance: the core's tests.)"""
import os
import re
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


def main():
    a = tvlib.args()
    tvlib.enter_private_network(sys.argv)  # loopback only when possible
    work = fresh_dir(a.work)
    env = {"XDG_CONFIG_HOME": os.path.join(work, "cfg")}
    for scenario in (share_file, share_folder, odd_name):
        scenario(a.exe, work, env)
    print("ok")


if __name__ == "__main__":
    main()
