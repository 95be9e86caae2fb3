#!/usr/bin/env python3
"""The progress line as a terminal sees it, through a pseudo-terminal of 40
columns: never wider than the terminal, at most ten redraws a second, its
last drawing the time taken, cleared before every line of output and at the
end; none when standard output is a pipe; and Ctrl-C (SIGINT) or SIGTERM
told, the line cleared, no temporary left, the run ended by the signal
(a shell says 130, 143).
Usage: progress_test.py PAGEMEND EXAMPLE_REGION"""
import fcntl, os, pty, re, shutil, signal, struct, subprocess, sys, tempfile, termios, threading, time

pagemend, example = sys.argv[1], sys.argv[2]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def world(folder, files):
    os.makedirs(os.path.join(folder, "region"))
    for i in range(files):
        shutil.copy(example, os.path.join(folder, "region", "r.%d.%d.mca" % (i % 32, i // 32)))


def run(args, stdout_pipe=False, interrupt=None):
    """Runs pagemend with standard error (and output, unless a pipe) on a
    terminal of 40 columns; returns what the terminal got, what the pipe
    got, and the exit code."""
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 40, 0, 0))
    process = subprocess.Popen([pagemend] + args, stdin=subprocess.DEVNULL, stderr=slave,
                               stdout=subprocess.PIPE if stdout_pipe else slave)
    os.close(slave)
    seen = b""
    piped = []
    reader = None
    if stdout_pipe:  # read as it comes, or a full pipe would hold the run back
        reader = threading.Thread(target=lambda: piped.append(process.stdout.read()))
        reader.start()
    signalled = False
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:
            break
        if not chunk:
            break
        seen += chunk
        if interrupt and not signalled and b"files" in seen:
            process.send_signal(interrupt)
            signalled = True
    if reader:
        reader.join()
    code = process.wait()
    os.close(master)
    return seen.decode("utf-8", "replace"), b"".join(piped).decode(), code


with tempfile.TemporaryDirectory() as scratch:
    big = os.path.join(scratch, "big")
    world(big, 400)

    # On a terminal: the line cut to 39 columns, drawn a few times, ended by the time taken and cleared.
    started = time.monotonic()
    seen, _, code = run(["--check", "-j", "1", big])
    took = time.monotonic() - started
    check(code == 3, "a check of a world to repair exits 3, not %d" % code)
    drawings = [d for d in re.split(r"\r\x1b\[K", seen.replace("\r\n", "\n")) if "files," in d]
    widest = max((len(d.split("\n")[0]) for d in drawings), default=0)
    check(drawings, "no progress line was drawn")
    check(widest <= 39, "a progress line %d columns wide on a terminal of 40" % widest)
    check(len(drawings) <= 10 * took + 3, "%d redraws in %.2f s" % (len(drawings), took))
    check(any("done in" in d for d in drawings), "the last drawing does not say the time taken")
    check(seen.replace("\r\n", "\n").rstrip("\n").endswith("Files with errors: 0"),
          "the summary is not the last of the output")
    last_line = seen.rfind("== Summary")
    check("files," not in seen[last_line:], "the progress line is drawn after the summary")

    # Standard output a pipe (a pager): nothing drawn on the terminal.
    seen, piped, code = run(["--check", "-j", "1", big], stdout_pipe=True)
    check(seen == "", "a progress line was drawn while standard output is a pipe: %r" % seen[:80])
    check("== Summary" in piped, "the report did not go to the pipe")

    # Interrupted: told, the line cleared, nothing half written, exit 128 + the signal.
    for sig in (signal.SIGINT, signal.SIGTERM):
        seen, _, code = run(["-j", "1", big], interrupt=sig)
        check(code == -sig, "%s did not end the run as the signal ends a process: %d" % (sig.name, code))
        told = re.search(r"\r\x1b\[KInterrupted: (\d+) of 400 files done; the rest left as they were\r?\n$", seen)
        check(told is not None, "%s was not told as it should be: %r" % (sig.name, seen[-160:]))
        left = [n for n in os.listdir(os.path.join(big, "region")) if ".pagemend-" in n]
        check(not left, "%s left temporaries: %s" % (sig.name, left))
        shutil.rmtree(big)
        world(big, 400)

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("the progress line fits a terminal of 40 columns, stays off a pipe, and an interruption is told")
