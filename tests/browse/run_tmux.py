#!/usr/bin/env python3
"""End-to-end tests of the terminal explorer (-browse) in a real terminal.

Each case starts Vellum inside its own tmux server with a fixed window size,
sends keys with `send-keys`, reads the screen with `capture-pane -p` and
compares it with an expected screen in tests/browse/screens/. Nothing waits
for a fixed time: after each step the screen is read again until it equals
the expected one, up to a generous limit, so a slow machine only makes the
test take longer.

usage: run_tmux.py VELLUM [--write] [CASE...]
  --write  store the screens seen as the expected ones (review them!)
Exits 77 (skipped) when tmux is not installed.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SCREENS = os.path.join(HERE, "screens")
PATIENCE = 30.0  # seconds a step may take before the test fails

# A layout whose run stops with a report half way.
REPORT_LAYOUT = """struct Entry { u(1) kind; u(1) length; };
struct File {
    u(2, hex) magic;
    Entry entries[3];
    assert(magic == 0);
    u(1) never;
};
layout File;
"""

# A layout whose run never ends and shows nothing after its first member.
LOOP_LAYOUT = """struct File { u(1) first; var i = 0; while (1) { i = i + 1; } };
layout File;
"""

# Cases: name, folder (relative to the repository), arguments, window size,
# then steps of (keys to send, name of the expected screen, capture options).
# Keys are tmux key names; "text:..." sends the characters literally.
CASES = [
    ("first-screen", "examples/bmp", "-browse -layout bmp.vlt -data sample.bmp", (100, 30),
     [(None, "first-screen")]),
    ("fold-unfold", "examples/bmp", "-browse -layout bmp.vlt -data sample.bmp", (100, 30),
     [("j Enter", "fold-unfold-folded"), ("Enter", "fold-unfold-open"), ("Down Left", "fold-unfold-from-member")]),
    ("goto-nested", "examples/elf64", "-browse -layout elf64.vlt -data sample.elf", (100, 30),
     [("g text:0x05 Enter", "goto-nested"), ("g text:99999 Enter", "goto-beyond"), ("g text:9Ah Enter", "goto-hex-suffix")]),
    ("search", "examples/bmp", "-browse -layout bmp.vlt -data sample.bmp", (100, 30),
     [("/ text:red Enter", "search-first"), ("n", "search-next"), ("N N", "search-back-round")]),
    ("hex-follows", "examples/bmp", "-browse -layout bmp.vlt -data sample.bmp", (100, 30),
     [("j j", "hex-follows-tree"), ("Tab Right Right", "hex-cursor-moves-tree")], True),
    ("report", "@report", "-browse -layout l.vlt -data d.bin", (100, 30),
     [(None, "report")]),
    ("resize", "examples/bmp", "-browse -layout bmp.vlt -data sample.bmp", (100, 30),
     [(None, "first-screen"), ("resize:70x24", "resize-narrow"), ("resize:100x30", "first-screen")]),
    ("select-start", "examples/tar", "-browse -layout tar.vlt -data sample.tar -select 'TarArchive.entry#2.modified_time'",
     (100, 30), [(None, "select-start"), ("Enter", "select-start-unfolded")]),
    ("quit-while-decoding", "@loop", "-browse -layout l.vlt -data d.bin", (100, 30),
     [(None, "quit-while-decoding"), ("q", "quit")]),
    ("help-and-quit", "examples/bmp", "-browse -layout bmp.vlt -data sample.bmp", (100, 30),
     [("?", "help"), ("Escape", "first-screen"), ("q", "quit")]),
]


class Terminal:
    """One tmux server (its own socket) running one command."""

    def __init__(self, socket, cwd, command, size):
        self.socket = socket
        self.base = ["tmux", "-L", socket, "-f", "/dev/null"]
        env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", NO_COLOR="1", TERM="xterm-256color")
        env.setdefault("ASAN_OPTIONS", "detect_leaks=0")
        # The shell reports the exit status once Vellum ends, and keeps the pane open.
        script = command + '; echo "exit status $?"; sleep 600'
        subprocess.run(self.base + ["new-session", "-d", "-x", str(size[0]), "-y", str(size[1]), "-c", cwd,
                                    "sh", "-c", script], check=True, env=env)
        subprocess.run(self.base + ["set-option", "-g", "status", "off"], check=True)

    def send(self, keys):
        for key in keys.split(" "):
            if key.startswith("text:"):
                subprocess.run(self.base + ["send-keys", "-l", key[5:]], check=True)
            elif key.startswith("resize:"):
                width, height = key[7:].split("x")
                subprocess.run(self.base + ["resize-window", "-x", width, "-y", height], check=True)
            else:
                subprocess.run(self.base + ["send-keys", key], check=True)

    def capture(self, attributes):
        options = ["-p", "-e"] if attributes else ["-p"]
        result = subprocess.run(self.base + ["capture-pane"] + options, check=True, capture_output=True, text=True)
        lines = [line.rstrip() for line in result.stdout.split("\n")]
        while lines and not lines[-1]:
            lines.pop()
        return "\n".join(lines) + "\n"

    def close(self):
        subprocess.run(self.base + ["kill-server"], capture_output=True)


def run_case(vellum, case, write):
    name, folder, args, size, steps = case[:5]
    attributes = len(case) > 5 and case[5]
    scratch = tempfile.mkdtemp(prefix="vellum-browse-")
    try:
        if folder.startswith("@"):
            with open(os.path.join(scratch, "l.vlt"), "w") as f:
                f.write(REPORT_LAYOUT if folder == "@report" else LOOP_LAYOUT)
            with open(os.path.join(scratch, "d.bin"), "wb") as f:
                f.write(bytes(range(1, 17)))
        else:
            for entry in os.listdir(os.path.join(ROOT, folder)):
                shutil.copy(os.path.join(ROOT, folder, entry), scratch)
        terminal = Terminal("vellum-test-%d-%s" % (os.getpid(), name), scratch, vellum + " " + args, size)
        try:
            for keys, screen in steps:
                if keys:
                    terminal.send(keys)
                path = os.path.join(SCREENS, screen + ".txt")
                if write:
                    # The screen as it settles: unchanged over half a second.
                    got, previous = terminal.capture(attributes), None
                    deadline = time.monotonic() + 10.0
                    while got != previous and time.monotonic() < deadline:
                        time.sleep(0.5)
                        previous, got = got, terminal.capture(attributes)
                else:
                    want = open(path).read()
                    deadline = time.monotonic() + PATIENCE
                    got = terminal.capture(attributes)
                    while got != want and time.monotonic() < deadline:
                        time.sleep(0.05)
                        got = terminal.capture(attributes)
                if write:
                    with open(path, "w") as f:
                        f.write(got)
                    continue
                if got != want:
                    print("FAIL %s: screen %s after keys %r" % (name, screen, keys))
                    print("--- want\n" + want + "--- got\n" + got)
                    return False
        finally:
            terminal.close()
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("ok   %s" % name)
    return True


def main():
    args = sys.argv[1:]
    if not args:
        print(__doc__)
        return 2
    vellum = os.path.abspath(args[0])
    write = "--write" in args
    chosen = [a for a in args[1:] if a != "--write"]
    if shutil.which("tmux") is None:
        print("SKIPPED: tmux is not installed, so the terminal explorer tests cannot run")
        return 77
    os.makedirs(SCREENS, exist_ok=True)
    failed = 0
    for case in CASES:
        if chosen and case[0] not in chosen:
            continue
        if not run_case(vellum, case, write):
            failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
