"""What vornhale share refuses: the exact message on standard error, no link,
exit code 1 when nothing was shared (2 for a malformed command line)."""
import argparse
import os
import signal
import subprocess
import sys

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

    cases = [
        # (arguments, message box text or None, exit code)
        (["--lan", missing], "None of the dropped paths could be opened.", 1),
        (["--lan", missing, os.path.join(w, "gone")], "None of the dropped paths could be opened.", 1),
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
    for args, text, code in cases:
        r = subprocess.run([a.exe, "share"] + args, capture_output=True, timeout=60,
                           env=dict(os.environ, **env), stdin=subprocess.DEVNULL)
        out, err = r.stdout.decode(), r.stderr.decode()
        label = " ".join(os.path.basename(x) for x in args)
        check(r.returncode == code, "%s: exit code %d, want %d (stderr %r)" % (label, r.returncode, code, err))
        check("http" not in out, "%s: a link was printed: %r" % (label, out))
        if text is not None:
            check(err == "Vorn-Hale: " + text + "\n", "%s: stderr %r" % (label, err))
        else:
            check(err.startswith("vornhale: ") and "usage: vornhale share" in err, "%s: stderr %r" % (label, err))

    # A batch with a missing path stages the rest; a file of exactly 1 GiB is shared.
    exact = mk("exact.bin", GIB, sparse=True)
    prog = Program(a.exe, ["--lan", missing, exact], env=env)
    try:
        prog.wait_line(r"^http://\S+$")
        prog.wait_line(r"^  exact\.bin\s+File\s+1\.00 GB\s+LAN\s+Active\s+0\s")
        check(prog.finish(signal.SIGINT) == 0, "exit code after SIGINT")
        check(prog.err == [], "messages: %r" % prog.err)
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
    print("ok")


if __name__ == "__main__":
    main()
