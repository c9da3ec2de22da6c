"""vornhale share --lan with real clients: curl (page and exact bytes), wget -c
resuming a partial download, a shared folder as a zip archive, the printed QR
code read back with zbarimg, the Downloads figure, and the stop on SIGINT /
SIGTERM."""
import argparse
import os
import re
import signal
import socket
import subprocess
import sys
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tvlib import Program, check, decode_qr, fetch, fresh_dir, loopback  # noqa: E402
import tvlib  # noqa: E402


def port_closed(url):
    p = __import__("urllib.parse").parse.urlsplit(url)
    s = socket.socket()
    s.settimeout(3)
    try:
        return s.connect_ex(("127.0.0.1", p.port)) != 0
    finally:
        s.close()


def share_file(exe, work):
    data = os.urandom(3 * 1024 * 1024 + 123)
    path = os.path.join(work, "payload.bin")
    with open(path, "wb") as f:
        f.write(data)
    env = {"XDG_CONFIG_HOME": os.path.join(work, "cfg")}
    prog = Program(exe, ["--lan", "--link", "  my-payload_1\t", path], env=env, cwd=work)
    try:
        i = prog.wait_line(r"^http://\S+$")
        link = prog.lines[i]
        check(link.endswith("/my-payload_1"), "custom link not used: " + link)
        check(decode_qr(prog.qr_after(i), work, "lan") == link, "QR code does not read as " + link)
        prog.wait_line(r"^LAN link ready and copied to clipboard\.$")
        prog.wait_line(r"^  payload\.bin\s+File\s+3\.0 MB\s+LAN\s+Active\s+0\s+" + re.escape(link) + "$")
        check(prog.lines[0] == "Choose a mode, then click Start Sharing.", "first line: %r" % prog.lines[0])

        url = loopback(link)
        page = fetch(url).decode()
        for piece in ("<h1>payload.bin</h1>", "3.0 MB", 'href="?dl=1"', ">Download file</a>"):
            check(piece in page, "page lacks %r" % piece)
        check(fetch(url + "?dl=1") == data, "curl download differs")
        prog.wait_line(r"^  payload\.bin .* Active\s+1\s")

        part = os.path.join(work, "resumed.bin")
        with open(part, "wb") as f:
            f.write(data[:1000003])
        r = subprocess.run(["wget", "-q", "--no-proxy", "-c", "-O", part, url + "?dl=1"],
                           capture_output=True, timeout=60)
        check(r.returncode == 0, "wget -c failed: %s" % r.stderr.decode())
        with open(part, "rb") as f:
            check(f.read() == data, "wget -c result differs")
        prog.wait_line(r"^  payload\.bin .* Active\s+2\s")
        check(prog.downloads_of("payload.bin") == 2, "downloads figure")

        # Twenty one-byte ranges in a burst: the table is printed at most once a
        # second, and its final state comes without another download.
        tables_before = len(prog.table_rows("payload.bin"))
        start = time.monotonic()
        burst = []
        for _ in range(20):
            burst += ["-r", "0-0", "-o", "/dev/null", url + "?dl=1"]
        r = subprocess.run(["curl", "-sS", "--noproxy", "*", "--max-time", "30"] + burst,
                           capture_output=True, timeout=60)
        check(r.returncode == 0, "range burst failed: %s" % r.stderr.decode())
        prog.wait_line(r"^  payload\.bin .* Active\s+22\s", timeout=5)
        tables = len(prog.table_rows("payload.bin")) - tables_before
        check(tables <= int(time.monotonic() - start) + 1, "%d tables for 20 downloads" % tables)

        code = prog.finish(signal.SIGINT)
        check(code == 0, "exit code after SIGINT: %d" % code)
        check(prog.lines[-1] == "All sharing stopped.", "last line: %r" % prog.lines[-1])
        check(port_closed(url), "server still answers after the stop")
        check(prog.err == [], "unexpected messages: %r" % prog.err)
    finally:
        prog.kill()


def share_folder(exe, work):
    folder = fresh_dir(os.path.join(work, "holiday photos"))
    files = {"a.txt": b"alpha\n", "sub/b.bin": os.urandom(70000)}
    for rel, content in files.items():
        os.makedirs(os.path.dirname(os.path.join(folder, rel)), exist_ok=True)
        with open(os.path.join(folder, rel), "wb") as f:
            f.write(content)
    # A link to a file inside travels as a copy; links out, to a folder and a
    # loop are left out and named.
    os.symlink("sub/b.bin", os.path.join(folder, "copy.bin"))
    os.symlink(os.path.abspath(__file__), os.path.join(folder, "outside"))
    os.symlink("sub", os.path.join(folder, "sub-link"))
    os.symlink("loop", os.path.join(folder, "loop"))
    files["copy.bin"] = files["sub/b.bin"]
    env = {"XDG_CONFIG_HOME": os.path.join(work, "cfg"), "TMPDIR": fresh_dir(os.path.join(work, "tmp"))}
    prog = Program(exe, ["--lan", folder + "/"], env=env, cwd=work)
    try:
        prog.wait_line(r"^Compressing folder\.\.\. \(this may take a moment\)$")
        i = prog.wait_line(r"^http://\S+$")
        prog.wait_line(r"^  holiday photos_\d+\.zip\s+Folder\s")
        archive = os.path.join(work, "got.zip")
        with open(archive, "wb") as f:
            f.write(fetch(loopback(prog.lines[i]) + "?dl=1"))
        with zipfile.ZipFile(archive) as z:
            names = {i.filename for i in z.infolist() if not i.is_dir()}
            check(names == set(files), "archive holds %r" % sorted(names))
            for rel, content in files.items():
                check(z.read(rel) == content, "archive member %s differs" % rel)
            for i in z.infolist():  # no entry is a link (Unix mode in the high bits)
                check((i.external_attr >> 16) & 0o170000 != 0o120000, "link entry %s" % i.filename)
        left_out = sorted(prog.err)
        want = sorted("vornhale: left out link %s: it points outside the folder or to a folder" % n
                      for n in ("outside", "sub-link", "loop"))
        check(left_out == want, "left-out links reported: %r" % left_out)
        code = prog.finish(signal.SIGTERM)
        check(code == 0, "exit code after SIGTERM: %d" % code)
        check(prog.lines[-1] == "All sharing stopped.", "last line: %r" % prog.lines[-1])
        own = os.path.join(work, "tmp", "vornhale-%d" % os.geteuid())
        left = os.listdir(own) if os.path.isdir(own) else []
        check(left == [], "temporary archives left: %r" % left)
    finally:
        prog.kill()


def odd_name(exe, work):
    """ESC, BEL, CR and LF in a shared file's name print as visible escapes and
    the table keeps its columns."""
    path = os.path.join(work, "odd\x1b[2J\x07\r\nname.txt")
    with open(path, "wb") as f:
        f.write(b"odd")
    prog = Program(exe, ["--lan", path], env={"XDG_CONFIG_HOME": os.path.join(work, "cfg")})
    try:
        shown = "odd\\x1B[2J\\x07\\x0D\\x0Aname.txt"
        row = prog.lines[prog.wait_line("^  " + re.escape(shown) + "  File  ")]
        head = prog.lines[prog.wait_line(r"^  Name\s+Kind")]
        check(head.index("Kind") == row.index("File") and head.index("Link") == row.index("http"),
              "columns moved:\n%s\n%s" % (head, row))
        check(not any("\x1b[2J" in line or "\x07" in line for line in prog.lines), "raw control characters printed")
        check(prog.finish(signal.SIGINT) == 0, "exit code after SIGINT")
    finally:
        prog.kill()


def two_instances(exe, work, rounds=20):
    """Two programs started together for folders of the same name, sharing one
    temporary folder: distinct archives, each recipient gets its own folder, and
    stopping one never touches the other's archive."""
    tmp = fresh_dir(os.path.join(work, "tmp2"))
    env = {"XDG_CONFIG_HOME": os.path.join(work, "cfg"), "TMPDIR": tmp}
    folders = []
    for who in ("alice", "bob"):
        folder = fresh_dir(os.path.join(work, who, "same"))
        with open(os.path.join(folder, "owner.txt"), "w") as f:
            f.write(who)
        folders.append((who, folder))
    own = os.path.join(tmp, "vornhale-%d" % os.geteuid())

    # Another instance's archives under every name of the next few hundred
    # milliseconds (the names count the monotonic clock's milliseconds, which
    # Python reads too): ours takes a free name, and theirs stay as they were.
    os.makedirs(own, mode=0o700, exist_ok=True)
    now = int(time.monotonic() * 1000)
    theirs = ["same_%d.zip" % t for t in range(now, now + 400)]
    for name in theirs:
        with open(os.path.join(own, name), "w") as f:
            f.write("theirs")
    prog = Program(exe, ["--lan", folders[0][1]], env=env)
    try:
        mine = prog.lines[prog.wait_line(r"^  same_\d+\.zip\s+Folder\s")].split()[0]
        check(mine not in theirs, "took a name that was taken: " + mine)
        check(prog.finish(signal.SIGINT) == 0, "exit code")
    finally:
        prog.kill()
    for name in theirs:
        with open(os.path.join(own, name)) as f:
            check(f.read() == "theirs", "another instance's archive changed: " + name)
        os.remove(os.path.join(own, name))

    for n in range(rounds):
        progs = [Program(exe, ["--lan", folder], env=env) for _, folder in folders]
        try:
            archives = []
            for (who, _), prog in zip(folders, progs):
                i = prog.wait_line(r"^  same_\d+\.zip\s+Folder\s")
                archives.append(prog.lines[i].split()[0])
                link = prog.lines[prog.wait_line(r"^http://\S+$")]
                got = os.path.join(work, "got-%s.zip" % who)
                with open(got, "wb") as f:
                    f.write(fetch(loopback(link) + "?dl=1"))
                with zipfile.ZipFile(got) as z:
                    check(z.read("owner.txt") == who.encode(), "round %d: %s got another folder" % (n, who))
            check(archives[0] != archives[1], "round %d: one archive name for both: %s" % (n, archives[0]))
            check(progs[0].finish(signal.SIGINT) == 0, "round %d: exit code" % n)
            check(sorted(os.listdir(own)) == [archives[1]], "round %d: after the first stop: %r"
                  % (n, os.listdir(own)))
            link = progs[1].lines[progs[1].link_lines()[0]]
            with open(os.path.join(work, "got-again.zip"), "wb") as f:
                f.write(fetch(loopback(link) + "?dl=1"))
            with zipfile.ZipFile(os.path.join(work, "got-again.zip")) as z:
                check(z.read("owner.txt") == b"bob", "round %d: the second archive changed" % n)
            check(progs[1].finish(signal.SIGINT) == 0, "round %d: exit code" % n)
            check(os.listdir(own) == [], "round %d: archives left: %r" % (n, os.listdir(own)))
        finally:
            for prog in progs:
                prog.kill()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    tvlib.enter_private_network(sys.argv)  # loopback only when possible
    work = fresh_dir(a.work)
    share_file(a.exe, work)
    share_folder(a.exe, work)
    odd_name(a.exe, work)
    two_instances(a.exe, work)
    print("ok")


if __name__ == "__main__":
    main()
