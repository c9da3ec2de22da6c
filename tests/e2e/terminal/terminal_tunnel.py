"""vornhale share --internet with the fake tunnel client on PATH.

publish: the client prints a quick-tunnel address; the Internet link is
         printed (with a QR code) once published. Runs in a private network
         namespace so that the reachability probe cannot leave the machine
         (skipped where that is not possible).
failing: the client keeps ending; three restarts, then every item falls back
         to a same-network link, which is printed and serves the file.
missing: no client anywhere: the item becomes a same-network item at once."""
import os
import re
import shutil
import signal
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tvlib  # noqa: E402
from tvlib import Program, check, check_qr, fetch, fresh_dir, loopback, write  # noqa: E402

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


def main():
    a = tvlib.args(("--fake", {"required": True}),
                   ("scenario", {"choices": ["publish", "failing", "missing"]}))
    if not tvlib.enter_private_network(sys.argv) and a.scenario == "publish":
        print("skipped: no private network namespace (needs root and unshare)")
        sys.exit(tvlib.SKIP)
    {"publish": publish, "failing": failing, "missing": missing}[a.scenario](a)
    print("ok")


if __name__ == "__main__":
    main()
