#!/usr/bin/env python3
"""Keeps the examples of docs/LANGUAGE.md and their golden cases in step.

Every example in the guide is marked like this:

    <!-- example NAME: ARGUMENTS -->
    ```
    ...layout text (the file named after -layout in ARGUMENTS)...
    ```
    <!-- output -->
    ...whatever stands here is generated...
    <!-- end -->

The layout block is optional (examples of the command line have none). Files the
layout includes come before it, each as a block after a line `<!-- file NAME -->`
(NAME relative to the case folder); they are written into the case as well. Data files
named in ARGUMENTS come from: test.bin, the 256-byte file that `vellum -test` writes;
`FILE=HEX` after the arguments (separated by " | "), a small file given in
hexadecimal; otherwise a file of that name in one of the examples/*/ folders.

  --write VELLUM   run VELLUM on every example, write tests/cases/guide-NAME/ (layout,
                   data, args, expected.stdout, expected.stderr, expected.rc) and put
                   the real output into the guide.
  --check          verify, without running anything, that every example's layout and
                   shown output equal its golden case (exit status 1 otherwise).
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
GUIDE = os.path.join(ROOT, "docs", "LANGUAGE.md")
CASES = os.path.join(ROOT, "tests", "cases")
MARKER = re.compile(r"^<!-- example ([a-z0-9-]+): (.*?) -->$")


FILE_MARKER = re.compile(r"^<!-- file ([A-Za-z0-9_./-]+) -->$")


def code_block(lines, j):
    """The text of the ``` block starting at line j, and the line after it."""
    k = j + 1
    while not lines[k].startswith("```"):
        k += 1
    return "\n".join(lines[j + 1:k]) + "\n", k + 1


def parse(text):
    """Yields (name, args, datafiles, layout, extra, output_start, output_end) per
    example, extra being {path: text} of the included files; output_start and
    output_end delimit the generated lines (line numbers)."""
    lines = text.split("\n")
    i = 0
    while i < len(lines):
        m = MARKER.match(lines[i])
        if not m:
            i += 1
            continue
        name = m.group(1)
        parts = [p.strip() for p in m.group(2).split(" | ")]
        args, files = parts[0], dict(p.split("=", 1) for p in parts[1:])
        j = i + 1
        extra = {}
        while FILE_MARKER.match(lines[j]):
            path = FILE_MARKER.match(lines[j]).group(1)
            extra[path], j = code_block(lines, j + 1)
            while lines[j] == "":
                j += 1
        layout = None
        if lines[j].startswith("```"):
            layout, j = code_block(lines, j)
        if lines[j] != "<!-- output -->":
            sys.exit("%s: expected <!-- output --> at line %d" % (name, j + 1))
        k = j + 1
        while lines[k] != "<!-- end -->":
            k += 1
        yield name, args, files, layout, extra, j + 1, k
        i = k + 1


def layout_name(args):
    words = args.split()
    return words[words.index("-layout") + 1] if "-layout" in words else None


def render(args, out, err, rc):
    """The guide's text for one run: standard output, then standard error if any."""
    def lines(stream):  # every line as printed, empty ones included
        return stream[:-1].split("\n") if stream.endswith("\n") else stream.split("\n")
    text = ["```", "$ vellum " + args] + (lines(out) if out else []) + ["```"]
    if err:
        text += ["", "Standard error:", "", "```"] + lines(err) + ["```"]
    if rc != 0:
        text += ["", "Exit status: %d" % rc]
    return text


def place_data(folder, args, files):
    for word in args.split():
        if word in files:
            with open(os.path.join(folder, word), "wb") as f:
                f.write(bytes.fromhex(files[word]))
        elif word == "test.bin":
            with open(os.path.join(folder, word), "wb") as f:
                f.write(bytes(range(256)))
        else:
            for example in sorted(os.listdir(os.path.join(ROOT, "examples"))):
                candidate = os.path.join(ROOT, "examples", example, word)
                if os.path.isfile(candidate) and not word.endswith(".vlt"):
                    shutil.copy(candidate, os.path.join(folder, word))
                    break


def write(vellum):
    text = open(GUIDE).read()
    lines = text.split("\n")
    replacements = []
    names = set()
    for name, args, files, layout, extra, start, end in parse(text):
        assert name not in names, name
        names.add(name)
        folder = os.path.join(CASES, "guide-" + name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        if layout is not None:
            with open(os.path.join(folder, layout_name(args)), "w") as f:
                f.write(layout)
        for path, content in extra.items():
            os.makedirs(os.path.dirname(os.path.join(folder, path)), exist_ok=True)
            with open(os.path.join(folder, path), "w") as f:
                f.write(content)
        place_data(folder, args, files)
        with open(os.path.join(folder, "args"), "w") as f:
            f.write(args + "\n")
        with tempfile.TemporaryDirectory() as work, tempfile.TemporaryDirectory() as shim:
            os.symlink(os.path.abspath(vellum), os.path.join(shim, "vellum"))
            shutil.copytree(folder, work, dirs_exist_ok=True)
            env = dict(os.environ, PATH=shim + os.pathsep + os.environ["PATH"])
            run = subprocess.run("exec vellum " + args, shell=True, cwd=work, env=env,
                                 capture_output=True, stdin=subprocess.DEVNULL)
        rc = run.returncode
        for suffix, content in (("stdout", run.stdout), ("stderr", run.stderr)):
            with open(os.path.join(folder, "expected." + suffix), "wb") as f:
                f.write(content)
        with open(os.path.join(folder, "expected.rc"), "w") as f:
            f.write("%d\n" % rc)
        replacements.append((start, end, [""] + render(
            args, run.stdout.decode("latin-1"), run.stderr.decode("latin-1"), rc) + [""]))
    for start, end, new in reversed(replacements):
        lines[start:end] = new
    with open(GUIDE, "w") as f:
        f.write("\n".join(lines))
    for stale in os.listdir(CASES):
        if stale.startswith("guide-") and stale[6:] not in names:
            shutil.rmtree(os.path.join(CASES, stale))
    print("%d guide examples written" % len(names))


def check():
    text = open(GUIDE).read()
    lines = text.split("\n")
    bad = 0
    count = 0
    for name, args, files, layout, extra, start, end in parse(text):
        count += 1
        folder = os.path.join(CASES, "guide-" + name)

        def read(entry, mode="r"):
            path = os.path.join(folder, entry)
            return open(path, mode).read() if os.path.exists(path) else None
        problems = []
        if read("args") != args + "\n":
            problems.append("args")
        if layout is not None and read(layout_name(args)) != layout:
            problems.append("layout")
        if any(read(path) != content for path, content in extra.items()):
            problems.append("included files")
        out, err = read("expected.stdout", "rb"), read("expected.stderr", "rb")
        rc = read("expected.rc")
        if out is None or err is None or rc is None:
            problems.append("golden files missing")
        elif lines[start:end] != [""] + render(args, out.decode("latin-1"),
                                               err.decode("latin-1"), int(rc)) + [""]:
            problems.append("shown output")
        if problems:
            bad += 1
            print("guide-%s: %s differ" % (name, ", ".join(problems)))
    print("%d passed, %d failed" % (count - bad, bad))
    return 1 if bad else 0


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--write":
        write(sys.argv[2])
    elif len(sys.argv) == 2 and sys.argv[1] == "--check":
        sys.exit(check())
    else:
        sys.exit(__doc__)
