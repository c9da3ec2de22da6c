"""Headless Chromium opens a link of vornhale share --lan, clicks "Download
file", and the file it saves matches; the terminal's Downloads figure rises.
Chromium (apt) and playwright-core (npm, into --node-dir) are installed when
missing; the run then happens in a private network namespace where possible."""
import json
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tvlib  # noqa: E402
from tvlib import Program, check, fresh_dir, loopback, write  # noqa: E402

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


def main():
    a = tvlib.args(("--node-dir", {"required": True}))
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
    print("ok")


if __name__ == "__main__":
    main()
