"""How vornhale share shows a refusal: the core's message on standard error
after "Vorn-Hale: ", the terminal's own lines for skipped paths, no link, exit
code 1 when nothing was shared (2 for a malformed command line). The refusal
texts themselves are the core's and are tested there; one row of each kind
shows the wiring. Also a batch that is partly refused, and a broken zip."""
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tvlib  # noqa: E402
from tvlib import Program, check, fresh_dir, write  # noqa: E402

TOO_BIG = "File exceeds the 1 GB limit for the free tier."


def skipped(path, reason):
    return "vornhale: skipped %s: %s\n" % (path, reason)


def refusals(exe, w, env):
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


def main():
    a = tvlib.args()
    w = fresh_dir(a.work)
    env = {"XDG_CONFIG_HOME": os.path.join(w, "cfg")}
    refusals(a.exe, w, env)
    broken_compressor(a.exe, w, env)
    print("ok")


if __name__ == "__main__":
    main()
