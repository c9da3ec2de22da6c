"""vornhale share --internet with the fake tunnel client on PATH.

publish: the client prints a quick-tunnel address; the Internet link is
         printed (with a QR code) once published. Runs in a private network
         namespace so that the reachability probe cannot leave the machine
         (skipped where that is not possible).
failing: the client keeps ending; three restarts, then every item falls back
         to a same-network link, which is printed and serves the file.
missing: no client anywhere: the item becomes a same-network item at once."""
import argparse
import os
import re
import shutil
import signal
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tvlib  # noqa: E402
from tvlib import Program, check, decode_qr, fetch, fresh_dir, loopback  # noqa: E402

ADDRESS = "https://quiet-meadow-lantern-drift.trycloudflare.com"


def pid_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    # A zombie counts as ended.
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().split(")")[-1].split()[0] != "Z"
    except OSError:
        return False


def setup(work, fake, script):
    bin_dir = fresh_dir(os.path.join(work, "bin"))
    fake_dir = fresh_dir(os.path.join(work, "fake"))
    if fake:
        shutil.copy(fake, os.path.join(bin_dir, "cloudflared"))
        with open(os.path.join(fake_dir, "script.txt"), "w") as f:
            f.write(script)
    data = os.urandom(200000)
    path = os.path.join(work, "notes.bin")
    with open(path, "wb") as f:
        f.write(data)
    env = {"PATH": bin_dir + os.pathsep + "/usr/bin:/bin", "VH_FAKE_TUNNEL_DIR": fake_dir,
           "XDG_CONFIG_HOME": os.path.join(work, "cfg")}
    return path, data, fake_dir, env


def read(path):
    with open(path) as f:
        return f.read()


def publish(exe, fake, work):
    path, data, fake_dir, env = setup(work, fake, "sleep 300\nprint 2026-12-06T08:00:00Z INF |  %s  |\nhang\n" % ADDRESS)
    prog = Program(exe, ["--internet", path], env=env)
    try:
        prog.wait_line(r"^Starting Cloudflare tunnel \(up to 60s\)\.\.\.$")
        prog.wait_line(r"^  notes\.bin\s+File\s+195\.3 KB\s+Internet\s+Active\s+0\s+\(waiting for tunnel\.\.\.\)$")
        check(prog.link_lines() == [], "a link before the address was published")
        prog.wait_line(r"^Public link found\. Checking it's reachable\.\.\.$")
        # The probe cannot reach the address here: published after 15 s anyway.
        i = prog.wait_line(r"^" + re.escape(ADDRESS) + r"/[A-Za-z0-9]{12}$", timeout=40)
        link = prog.lines[i]
        check(decode_qr(prog.qr_after(i), work, "internet") == link, "QR code does not read as " + link)
        prog.wait_line(r"^Link ready and copied\. Allow a few seconds to come online\.$")
        prog.wait_line(r"^  notes\.bin\s+File\s+195\.3 KB\s+Internet\s+Active\s+0\s+" + re.escape(link) + "$")

        cmd = read(os.path.join(fake_dir, "cmdline.txt"))
        m = re.search(r"cloudflared tunnel --no-autoupdate --protocol http2 --url http://localhost:(\d+)$", cmd)
        check(m is not None, "client command line: %r" % cmd)
        slug = link.rsplit("/", 1)[1]
        check(fetch("http://127.0.0.1:%s/%s?dl=1" % (m.group(1), slug)) == data, "download through the local port")
        prog.wait_line(r"^  notes\.bin .* Internet\s+Active\s+1\s")

        pids = [int(x) for x in read(os.path.join(fake_dir, "pids.txt")).split()]
        check(len(pids) == 1, "client starts: %r" % pids)
        check(prog.finish(signal.SIGTERM) == 0, "exit code after SIGTERM")
        check(prog.lines[-1] == "All sharing stopped.", "last line %r" % prog.lines[-1])
        check(not pid_alive(pids[0]), "the tunnel client outlived the program")
    finally:
        prog.kill()


def failing(exe, fake, work):
    path, data, fake_dir, env = setup(work, fake, "print starting\nexit 1\n")
    prog = Program(exe, ["--internet", path], env=env)
    try:
        prog.wait_line(r"^Starting Cloudflare tunnel \(up to 60s\)\.\.\.$")
        end = prog.wait_line(r"^Tunnel unavailable\. Using LAN links instead\.$", timeout=60)
        drops = [l for l in prog.lines[:end] if l == "Tunnel dropped. Reconnecting..."]
        check(len(drops) == 3, "restarts: %d" % len(drops))
        links = prog.link_lines()
        check(len(links) == 1, "links printed: %r" % [prog.lines[i] for i in links])
        link = prog.lines[links[0]]
        check(link.startswith("http://"), "fallback link: " + link)
        check(decode_qr(prog.qr_after(links[0]), work, "fallback") == link, "QR code of the fallback link")
        prog.wait_line(r"^  notes\.bin\s+File\s+195\.3 KB\s+LAN\s+Active\s+0\s+" + re.escape(link) + "$")
        check(fetch(loopback(link) + "?dl=1") == data, "download through the fallback link")
        check(len(read(os.path.join(fake_dir, "pids.txt")).split()) == 4, "client starts")
        check(prog.finish(signal.SIGINT) == 0, "exit code after SIGINT")
    finally:
        prog.kill()


def missing(exe, work):
    path, data, _, env = setup(work, None, "")
    prog = Program(exe, [path], env=env)  # Internet is the default
    try:
        prog.wait_line(r"^cloudflared\.exe missing using LAN link instead\.$")
        i = prog.wait_line(r"^http://\S+$")
        prog.wait_line(r"^  notes\.bin\s+File\s+195\.3 KB\s+LAN\s+Active\s+0\s")
        check(fetch(loopback(prog.lines[i]) + "?dl=1") == data, "download through the LAN link")
        check(prog.finish(signal.SIGINT) == 0, "exit code after SIGINT")
    finally:
        prog.kill()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--fake", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("scenario", choices=["publish", "failing", "missing"])
    a = ap.parse_args()
    if not tvlib.enter_private_network(sys.argv) and a.scenario == "publish":
        print("skipped: no private network namespace (needs root and unshare)")
        sys.exit(tvlib.SKIP)
    work = fresh_dir(a.work)
    if a.scenario == "publish":
        publish(a.exe, a.fake, work)
    elif a.scenario == "failing":
        failing(a.exe, a.fake, work)
    else:
        missing(a.exe, work)
    print("ok")


if __name__ == "__main__":
    main()
