"""What vornhale share refuses: the exact message on standard error, no link,
exit code 1 when nothing was shared (2 for a malformed command line)."""
import argparse
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tvlib import Program, check, fresh_dir  # noqa: E402

FREE_TIER = ("You've reached the free-tier sharing limit.\n\n"
             "   Free plan:  up to 3 files  OR  1 folder per session.\n"
             "   Premium:    unlimited files, mixed batches, larger size cap.\n\n"
             "Stop or remove an existing share to add another, or stay tuned - Premium is coming soon.")
GIB = 1073741824


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    w = fresh_dir(a.work)

    def mk(name, size=5, sparse=False):
        p = os.path.join(w, name)
        with open(p, "wb") as f:
            if sparse:
                f.truncate(size)
            else:
                f.write(b"x" * size)
        return p

    f1, f2, f3, f4 = (mk("f%d.txt" % i) for i in range(1, 5))
    d1 = fresh_dir(os.path.join(w, "d1"))
    d2 = fresh_dir(os.path.join(w, "d2"))
    mk("d1/in.txt")
    too_big = mk("big.bin", GIB + 1, sparse=True)
    missing = os.path.join(w, "nothing-here")

    odd_missing = os.path.join(w, "gone\x1b]0;title\x07\r\n")
    not_utf8 = os.path.join(w, os.fsdecode(b"bad\xff"))
    none_opened = "None of the dropped paths could be opened."

    def skipped(path, reason):
        return "vornhale: skipped %s: %s\n" % (path, reason)

    cases = [
        # (arguments, message box text or None, exit code, lines before the box)
        (["--lan", missing], none_opened, 1, skipped(missing, "No such file or directory")),
        (["--lan", missing, odd_missing], none_opened, 1,
         skipped(missing, "No such file or directory")
         + skipped(os.path.join(w, "gone\\x1B]0;title\\x07\\x0D\\x0A"), "No such file or directory")),
        (["--lan", ""], none_opened, 1, skipped("", "the path is empty")),
        (["--lan", not_utf8], none_opened, 1,
         skipped(os.path.join(w, "bad\\xFF"), "the name is not valid UTF-8")),
        (["--lan", f1, f2, f3, f4], FREE_TIER, 1),
        (["--lan", f1, d1], FREE_TIER, 1),
        (["--lan", d1, d2], FREE_TIER, 1),
        (["--lan", "--link", "mine", f1, f2],
         "Custom link can only be set when sharing a single item.\n"
         "Clear the custom link to share multiple items at once.", 1),
        (["--lan", "--link", "ab", f1],
         "Custom link must be 3 to 32 characters and contain only letters, digits, hyphens, or underscores.", 1),
        (["--lan", "--link", "bad/slash", f1],
         "Custom link must be 3 to 32 characters and contain only letters, digits, hyphens, or underscores.", 1),
        (["--lan", "--link", "Admin", f1], "That custom link is reserved. Choose a different one.", 1),
        (["--lan", too_big], "File exceeds the 1 GB limit for the free tier.", 1),
        (["--lan"], None, 2),
        (["--lan", "--internet", f1], None, 2),
        (["--bogus", f1], None, 2),
    ]
    env = {"XDG_CONFIG_HOME": os.path.join(w, "cfg")}
    cases = [c if len(c) == 4 else c + ("",) for c in cases]
    for args, text, code, before in cases:
        r = subprocess.run([a.exe, "share"] + args, capture_output=True, timeout=60,
                           env=dict(os.environ, **env), stdin=subprocess.DEVNULL)
        out, err = r.stdout.decode(), r.stderr.decode()
        label = " ".join(os.path.basename(x) for x in args)
        check(r.returncode == code, "%s: exit code %d, want %d (stderr %r)" % (label, r.returncode, code, err))
        check("http" not in out, "%s: a link was printed: %r" % (label, out))
        if text is not None:
            check(err == before + "Vorn-Hale: " + text + "\n", "%s: stderr %r" % (label, err))
        else:
            check(err.startswith("vornhale: ") and "usage: vornhale share" in err, "%s: stderr %r" % (label, err))

    # A batch with a missing path stages the rest; a file of exactly 1 GiB is shared.
    exact = mk("exact.bin", GIB, sparse=True)
    prog = Program(a.exe, ["--lan", missing, exact], env=env)
    try:
        prog.wait_line(r"^http://\S+$")
        prog.wait_line(r"^  exact\.bin\s+File\s+1\.00 GB\s+LAN\s+Active\s+0\s")
        check(prog.finish(signal.SIGINT) == 0, "exit code after SIGINT")
        check(prog.err == ["vornhale: skipped %s: No such file or directory" % missing], "messages: %r" % prog.err)
    finally:
        prog.kill()

    # One of two paths refused: the other is still shared (exit 0 after the stop).
    prog = Program(a.exe, ["--lan", f1, too_big], env=env)
    try:
        prog.wait_line(r"^  f1\.txt\s+File\s")
        prog.wait_line(r"^Vorn-Hale: File exceeds the 1 GB limit for the free tier\.$", stream=prog.err)
        check(len(prog.table_rows("f1.txt")) >= 1 and not prog.table_rows("big.bin"), "table rows")
        check(prog.finish(signal.SIGINT) == 0, "exit code after SIGINT")
    finally:
        prog.kill()
    broken_compressor(a.exe, w, env)
    print("ok")


def broken_compressor(exe, w, env):
    """A zip earlier on PATH that fails, or hangs: the failure names zip's exit
    code, also when the parent ignores SIGCHLD; a stop during the hang ends it
    at once, exit code 0, no archive left."""
    folder = fresh_dir(os.path.join(w, "photos"))
    with open(os.path.join(folder, "a.txt"), "w") as f:
        f.write("a")
    bin_dir = fresh_dir(os.path.join(w, "bin"))
    tmp = fresh_dir(os.path.join(w, "tmp"))
    for how, body in (("fail", "exit 3"), ("hang", "exec sleep 60")):
        with open(os.path.join(bin_dir, "zip"), "w") as f:
            f.write("#!/bin/sh\necho partial\n%s\n" % body)
        os.chmod(os.path.join(bin_dir, "zip"), 0o755)
        run_env = dict(os.environ, **env, TMPDIR=tmp, PATH=bin_dir + ":" + os.environ["PATH"])
        if how == "fail":
            r = subprocess.run([exe, "share", "--lan", folder], capture_output=True, timeout=60, env=run_env,
                               stdin=subprocess.DEVNULL,
                               preexec_fn=lambda: signal.signal(signal.SIGCHLD, signal.SIG_IGN))
            check(r.returncode == 1, "failing zip: exit code %d" % r.returncode)
            check(r.stderr.decode() == "Vorn-Hale: Could not compress folder: zip exited with code 3.\n",
                  "failing zip: stderr %r" % r.stderr.decode())
        else:
            prog = Program(exe, ["--lan", folder], env=run_env)
            try:
                prog.wait_line(r"^Compressing folder")
                time.sleep(0.3)
                code = prog.finish(signal.SIGINT, timeout=2)
                check(code == 0, "stop during compression: exit code %d" % code)
                check(prog.lines[-1] == "All sharing stopped.", "last line: %r" % prog.lines[-1])
                check(prog.err == [], "stop during compression: messages %r" % prog.err)
            finally:
                prog.kill()
        left = [n for d in os.listdir(tmp) for n in os.listdir(os.path.join(tmp, d))]
        check(left == [], "%s: archives left: %r" % (how, left))


if __name__ == "__main__":
    main()
