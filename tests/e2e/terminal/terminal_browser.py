"""Headless Chromium opens a link of vornhale share --lan, clicks "Download
file", and the file it saves matches; the terminal's Downloads figure rises.

Chromium comes from apt and playwright-core from npm (into --node-dir) when
missing; then the test runs in a private network namespace where possible."""
import argparse
import json
import os
import shutil
import signal
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tvlib  # noqa: E402
from tvlib import Program, check, fresh_dir, loopback  # noqa: E402

CHROMIUM = "/usr/bin/chromium"


def ensure_tools(node_dir):
    if not os.path.exists(CHROMIUM):
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(["apt-get", "install", "-y", "--no-install-recommends", "chromium"],
                       env=env, check=True, timeout=1200)
    if not os.path.isdir(os.path.join(node_dir, "node_modules", "playwright-core")):
        os.makedirs(node_dir, exist_ok=True)
        pkg = os.path.join(node_dir, "package.json")
        if not os.path.exists(pkg):
            with open(pkg, "w") as f:
                f.write('{"name": "vh-e2e-node", "private": true}\n')
        subprocess.run(["npm", "install", "--no-audit", "--no-fund", "playwright-core"],
                       cwd=node_dir, check=True, timeout=600)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--node-dir", required=True)
    a = ap.parse_args()
    if os.environ.get("VH_E2E_NETNS") != "1":
        if shutil.which("node") is None:
            print("skipped: node is not installed")
            sys.exit(tvlib.SKIP)
        ensure_tools(a.node_dir)
    tvlib.enter_private_network(sys.argv)
    work = fresh_dir(a.work)

    data = os.urandom(1500000)
    path = os.path.join(work, "song.ogg")
    with open(path, "wb") as f:
        f.write(data)
    prog = Program(a.exe, ["--lan", path], env={"XDG_CONFIG_HOME": os.path.join(work, "cfg")})
    try:
        link = prog.lines[prog.wait_line(r"^http://\S+$")]
        prog.wait_line(r"^  song\.ogg .* Active\s+0\s")
        saved = os.path.join(work, "saved.ogg")
        env = dict(os.environ, NODE_PATH=os.path.join(a.node_dir, "node_modules"))
        r = subprocess.run(["node", os.path.join(os.path.dirname(os.path.abspath(__file__)), "click_download.js"),
                            loopback(link), saved, os.path.join(work, "profile")],
                           capture_output=True, timeout=150, env=env)
        check(r.returncode == 0, "browser run failed: %s %s" % (r.stdout.decode(), r.stderr.decode()))
        info = json.loads(r.stdout.decode().strip().splitlines()[-1])
        check(info["title"] == "Download - Vorn-Hale", "page title %r" % info["title"])
        check(info["suggested"] == "song.ogg", "suggested name %r" % info["suggested"])
        with open(saved, "rb") as f:
            check(f.read() == data, "the browser's download differs")
        prog.wait_line(r"^  song\.ogg .* Active\s+1\s")
        check(prog.finish(signal.SIGINT) == 0, "exit code after SIGINT")
    finally:
        prog.kill()
    print("ok")


if __name__ == "__main__":
    main()
