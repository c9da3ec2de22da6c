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
            names = {n.split("holiday photos/")[-1] for n in z.namelist() if not n.endswith("/")}
            check(set(files) <= names, "archive holds %r" % sorted(names))
            for rel, content in files.items():
                member = [n for n in z.namelist() if n.endswith(rel)][0]
                check(z.read(member) == content, "archive member %s differs" % rel)
        code = prog.finish(signal.SIGTERM)
        check(code == 0, "exit code after SIGTERM: %d" % code)
        check(prog.lines[-1] == "All sharing stopped.", "last line: %r" % prog.lines[-1])
        left = os.listdir(os.path.join(work, "tmp", "vornhale")) if os.path.isdir(os.path.join(work, "tmp", "vornhale")) else []
        check(left == [], "temporary archives left: %r" % left)
    finally:
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
    print("ok")


if __name__ == "__main__":
    main()
