#!/usr/bin/env python3
"""Hints and colour on a terminal: runs vellum with standard error on a
pseudo-terminal and checks that a compile error and a run-time report get
their hint lines and colour there, that NO_COLOR and -color=never take the
colour away but keep the hints, that -color=always colours a pipe, and that
without a terminal standard error is the plain text.

usage: terminal_hints.py PATH/TO/vellum
"""
import os
import pty
import subprocess
import sys
import tempfile

ESC = "\x1b["
failures = []


def run_on_terminal(vellum, args, cwd, env_extra=None):
    """Standard error (and output) on a pseudo-terminal; returns what the terminal showed."""
    env = dict(os.environ, TERM="xterm")
    env.pop("NO_COLOR", None)
    env.update(env_extra or {})
    master, slave = pty.openpty()
    process = subprocess.Popen([vellum] + args, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                               stdout=slave, stderr=slave)
    os.close(slave)
    chunks = []
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:  # the other end closed
            break
        if not chunk:
            break
        chunks.append(chunk)
    os.close(master)
    process.wait()
    return b"".join(chunks).decode().replace("\r\n", "\n"), process.returncode


def run_on_pipe(vellum, args, cwd):
    result = subprocess.run([vellum] + args, cwd=cwd, capture_output=True, text=True,
                            env={k: v for k, v in os.environ.items() if k != "NO_COLOR"})
    return result.stderr, result.returncode


def check(name, condition, shown):
    if not condition:
        failures.append(f"{name}\n--- shown:\n{shown}")


def main():
    vellum = os.path.realpath(sys.argv[1])
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "typo.vlt"), "w") as f:
            f.write("struct Entry {\n    u(1) tag;\n};\nstruct Top {\n    Entyr entries[2];\n};\nlayout Top;\n")
        with open(os.path.join(folder, "past.vlt"), "w") as f:
            f.write("struct Top {\n    @(14) u(4) value;\n};\nlayout Top;\n")
        with open(os.path.join(folder, "d.bin"), "wb") as f:
            f.write(bytes(range(16)))
        typo = ["-layout", "typo.vlt", "-data", "d.bin"]
        past = ["-layout", "past.vlt", "-data", "d.bin"]

        shown, status = run_on_terminal(vellum, typo, folder)
        check("terminal: compile error keeps its status", status == 1, shown)
        check("terminal: hint after a compile error", "did you mean 'Entry'?" in shown, shown)
        check("terminal: ERROR in colour", ESC + "1;31mERROR" + ESC + "0m" in shown, shown)
        check("terminal: hint label in colour", ESC + "1;36mhint:" in shown, shown)

        shown, status = run_on_terminal(vellum, past, folder)
        check("terminal: report keeps its status", status == 2, shown)
        check("terminal: report context", "in Top.value (u(4) in struct Top, bytes 0xe..0x11" in shown, shown)
        check("terminal: report hint", "end 2 byte(s) past its end" in shown, shown)

        for label, args, extra in (("NO_COLOR", typo, {"NO_COLOR": "1"}),
                                   ("-color=never", typo + ["-color=never"], None),
                                   ("TERM=dumb", typo, {"TERM": "dumb"})):
            shown, _ = run_on_terminal(vellum, args, folder, extra)
            check(f"{label}: no colour", ESC not in shown, shown)
            check(f"{label}: hints stay", "did you mean 'Entry'?" in shown, shown)

        shown, _ = run_on_terminal(vellum, typo, folder, {"NO_COLOR": ""})
        check("empty NO_COLOR: colour stays", ESC in shown, shown)

        plain, status = run_on_pipe(vellum, typo, folder)
        check("pipe: plain text only", "hint:" not in plain and ESC not in plain and status == 1, plain)
        check("pipe: the fixed text", plain.endswith("ERROR Expected 'type' or 'category[identifier]'.\n"), plain)

        coloured, _ = run_on_pipe(vellum, typo + ["-color=always"], folder)
        check("pipe with -color=always: colour without hints", ESC in coloured and "hint:" not in coloured,
              coloured)

        explained, _ = run_on_pipe(vellum, typo + ["-explain"], folder)
        check("pipe with -explain: hints without colour",
              "hint:" in explained and ESC not in explained and explained.startswith(plain), explained)

    for failure in failures:
        print("FAILED:", failure)
    print(f"terminal hints: {'ok' if not failures else str(len(failures)) + ' failed'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
