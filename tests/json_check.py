#!/usr/bin/env python3
"""Checks the JSON outputs over every golden case and example.

usage: json_check.py VELLUM schema       every -ndjson line and -json document
                                         validates against docs/schema/
       json_check.py VELLUM properties   the outputs agree with the text output
       json_check.py VELLUM values       the values of tests/cases/json-edge-values-ndjson
                                         equal the data file's bytes, decoded here

Each case folder (tests/cases/*, examples/*) is run in a scratch copy as
run_case.sh runs it, once as written and once more with -ndjson or -json
added. Cases that do not decode (usage, help, version, a rejected layout,
-debug listings) are left out; so are cases that already ask for a JSON
output or a selection, except by the schema check.

Properties, per case:
  1. the -ndjson members' offset and text, in order, are the address and
     value columns of the text output's member lines; the exit status is
     the text run's;
  2. the -json tree walked in order gives the same members and prints;
  3. with -select P (P taken from the case's own paths: a member, its
     struct, and the struct with every index and occurrence made a
     wildcard) the -ndjson members are exactly the full run's members whose
     path lies at or below P, and the text output's member lines are theirs.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SKIP_WORDS = ("-help", "--help", "-h", "-version", "--version", "-test", "-debug", "-limit")


def case_folders():
    for parent in ("tests/cases", "examples"):
        base = os.path.join(ROOT, parent)
        for name in sorted(os.listdir(base)):
            folder = os.path.join(base, name)
            if os.path.isfile(os.path.join(folder, "args")):
                yield folder


def run(vellum, folder, extra):
    """Runs the case's command line plus `extra` in a scratch copy; (rc, stdout, stderr)."""
    with open(os.path.join(folder, "args")) as f:
        args = f.read().strip()
    work = tempfile.mkdtemp()
    shim = tempfile.mkdtemp()
    try:
        os.symlink(os.path.abspath(vellum), os.path.join(shim, "vellum"))
        shutil.copytree(folder, work, dirs_exist_ok=True)
        env = dict(os.environ, PATH=shim + os.pathsep + os.environ["PATH"])
        command = "exec timeout 60 vellum %s %s" % (args, extra)
        done = subprocess.run(["bash", "-c", command], cwd=work, env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        return done.returncode, done.stdout, done.stderr
    finally:
        shutil.rmtree(work)
        shutil.rmtree(shim)


def words(folder):
    with open(os.path.join(folder, "args")) as f:
        return f.read().split()


def decodes(folder, rc):
    """True for a case that runs a layout over data (status 0 or 2) with the text output."""
    w = words(folder)
    if any(word in SKIP_WORDS or word.startswith("-color") or ">" in word for word in w):
        return False  # not a plain run, or standard error mixed into the output
    return rc in (0, 2)


def asks_for_json(folder):
    w = words(folder)
    return "-json" in w or "-ndjson" in w or "-select" in w


# ---------------------------------------------------------------------------
# Text output
# ---------------------------------------------------------------------------

def address_text(offset):
    if offset == 0:
        return "0h"
    count = (offset.bit_length() + 7) // 8
    return " ".join("%02X" % ((offset >> (8 * i)) & 255) for i in range(count - 1, -1, -1)) + "h"


def member_lines(text):
    """The member lines of a text output: the only lines that end with a space."""
    return [line for line in text.split("\n") if line.endswith(" ") and line.strip()]


def check_lines(lines, members, where):
    """Member lines against members (offset, text) in order; returns a list of faults."""
    if len(lines) != len(members):
        return ["%s: %d member lines, %d members" % (where, len(lines), len(members))]
    faults = []
    for line, member in zip(lines, members):
        body = line[:-1]
        if not body.lstrip().startswith(address_text(member["offset"]) + " "):
            faults.append("%s: line %r does not start with the address of %s" % (where, line, member["path"]))
        elif not body.endswith(member["text"]):
            faults.append("%s: line %r does not end with %r" % (where, line, member["text"]))
        if len(faults) > 3:
            break
    return faults


# ---------------------------------------------------------------------------
# JSON outputs
# ---------------------------------------------------------------------------

def ndjson(out):
    return [json.loads(line) for line in out.decode("utf-8").split("\n") if line]


def walk(node, items):
    """A -json node's members and prints in document order."""
    for item in node.get("members", []):
        if "print" in item:
            items.append(item)
        elif "members" in item:
            walk(item, items)
        else:
            items.append(item)


def document_items(document):
    items = list(document.get("prints", []))
    if document["root"] is not None:
        walk(document["root"], items)
    for item in document.get("more", []):
        if "print" in item:
            items.append(item)
        else:
            walk(item, items)
    return items


STEP = re.compile(r"^([^.#\[\]]+)(?:#(\d+|\*))?(?:\[(\d+|\*)\])?$")


def steps(path):
    result = []
    for text in path.split("."):
        match = STEP.match(text)
        assert match, (path, text)
        occurrence = match.group(2) or "0"
        result.append((match.group(1), occurrence, match.group(3)))
    return result


def selected(pattern, path):
    """True when `path` lies at or below the -select pattern."""
    want, have = steps(pattern), steps(path)
    if len(want) > len(have):
        return False
    for (name, occurrence, index), (hname, hoccurrence, hindex) in zip(want, have):
        if name != hname or (occurrence != "*" and int(occurrence) != int(hoccurrence)):
            return False
        if index is not None and (hindex is None or (index != "*" and index != hindex)):
            return False
    return True


def wildcard(path):
    return re.sub(r"\[\d+\]", "[*]", re.sub(r"#\d+", "#*", path))


def parent(path):
    return path.rsplit(".", 1)[0] if "." in path else path


def patterns_for(members):
    """A member, the struct of another and every instance of a third's struct."""
    if not members:
        return []
    first, middle, last = members[0], members[len(members) // 2], members[-1]
    chosen = []
    for pattern in (first["path"], parent(middle["path"]), wildcard(parent(last["path"]))):
        if pattern not in chosen:
            chosen.append(pattern)
    return chosen


def without_report(items):
    return [item for item in items if "report" not in item]


# ---------------------------------------------------------------------------
# Checks
# ---------------------------------------------------------------------------

def check_schema(vellum):
    import jsonschema
    from referencing import Registry, Resource

    schemas = {}
    for name in ("vellum-ndjson.schema.json", "vellum-json.schema.json"):
        with open(os.path.join(ROOT, "docs", "schema", name)) as f:
            schemas[name] = json.load(f)
    registry = Registry().with_resources(
        [(schema["$id"], Resource.from_contents(schema)) for schema in schemas.values()])
    line_validator = jsonschema.Draft202012Validator(schemas["vellum-ndjson.schema.json"], registry=registry)
    document_validator = jsonschema.Draft202012Validator(schemas["vellum-json.schema.json"], registry=registry)
    def one(folder):
        name = os.path.relpath(folder, ROOT)
        rc, _, _ = run(vellum, folder, "")
        if not decodes(folder, rc):
            return None
        faults = []
        for option, validator in (("-ndjson", line_validator), ("-json", document_validator)):
            jrc, out, _ = run(vellum, folder, option)
            if jrc != rc and not asks_for_json(folder):
                faults.append("%s %s: status %d, the text run's is %d" % (name, option, jrc, rc))
            try:
                values = ndjson(out) if option == "-ndjson" else [json.loads(out.decode("utf-8"))]
            except ValueError as error:
                faults.append("%s %s: not JSON: %s" % (name, option, error))
                continue
            for value in values:
                for error in validator.iter_errors(value):
                    faults.append("%s %s: %s at %s" % (name, option, error.message, list(error.absolute_path)))
                    break
        return faults

    return over_cases(one)


def check_properties(vellum):
    def one(folder):
        name = os.path.relpath(folder, ROOT)
        rc, text, _ = run(vellum, folder, "")
        if not decodes(folder, rc) or asks_for_json(folder):
            return None
        faults = []
        nrc, out, _ = run(vellum, folder, "-ndjson")
        items = ndjson(out)
        members = [item for item in items if "path" in item and "report" not in item]
        if nrc != rc:
            faults.append("%s: -ndjson status %d, text %d" % (name, nrc, rc))
        faults += check_lines(member_lines(text.decode("latin-1")), members, name + " text/-ndjson")
        jrc, out, _ = run(vellum, folder, "-json")
        walked = document_items(json.loads(out.decode("utf-8")))
        if jrc != rc:
            faults.append("%s: -json status %d, text %d" % (name, jrc, rc))
        flat = [dict((k, v) for k, v in item.items() if k not in ("name", "index")) for item in walked]
        if flat != without_report(items):
            faults.append("%s: the -json tree in order differs from the -ndjson lines" % name)
        for pattern in patterns_for(members):
            quoted = "'" + pattern + "'"
            src, out, _ = run(vellum, folder, "-select %s -ndjson" % quoted)
            got = [item for item in ndjson(out) if "report" not in item and "print" not in item]
            want = [member for member in members if selected(pattern, member["path"])]
            if got != want:
                faults.append("%s: -select %s gives %d members, %d lie below it" % (name, pattern, len(got), len(want)))
            if src != rc:
                faults.append("%s: -select %s status %d, full run %d" % (name, pattern, src, rc))
            trc, text, _ = run(vellum, folder, "-select %s" % quoted)
            faults += check_lines(member_lines(text.decode("latin-1")), want, "%s -select %s" % (name, pattern))
        return faults

    return over_cases(one)


def over_cases(check):
    """Runs `check` over every case folder, a few at a time; (faults, cases checked)."""
    from concurrent.futures import ThreadPoolExecutor
    with ThreadPoolExecutor(max_workers=4) as pool:
        results = list(pool.map(check, case_folders()))
    checked = [result for result in results if result is not None]
    return [fault for result in checked for fault in result], len(checked)


def check_values(vellum):
    """Exact values: each member of the edge case against Python's own reading of its bytes."""
    import math
    import struct
    folder = os.path.join(ROOT, "tests", "cases", "json-edge-values-ndjson")
    with open(os.path.join(folder, "edge.bin"), "rb") as f:
        data = f.read()
    _, out, _ = run(vellum, folder, "")
    faults = []
    names = {
        "Edges.enumerations.exact": ["Blue"], "Edges.enumerations.flags": ["Read", "Write", "Execute"],
        "Edges.enumerations.unknown_bits": ["Read"], "Edges.enumerations.nothing": ["Red"],
        "Edges.enumerations.zero": [],
    }
    members = ndjson(out)
    for member in members:
        raw = data[member["offset"]:member["offset"] + member["size"]]
        value, kind, path = member["value"], member["type"], member["path"]
        big = path.endswith("minus_one") or path.endswith("third")
        order = ">" if big else "<"
        if kind in ("u", "s") and member["size"] <= 8:
            expected = int.from_bytes(raw, "big" if big else "little", signed=kind == "s")
            ok = value == expected and type(value) is int
        elif kind == "f" and member["size"] in (4, 8):
            number = struct.unpack(order + ("f" if member["size"] == 4 else "d"), raw)[0]
            if math.isnan(number):
                ok = value == "nan"
            elif math.isinf(number):
                ok = value == ("inf" if number > 0 else "-inf")
            else:  # the shortest text that reads back as the same bits
                ok = struct.pack(order + ("f" if member["size"] == 4 else "d"), value) == raw
        elif kind == "string":
            ok = value.encode("utf-8", "surrogateescape") == raw
        else:  # raw and wide members: every byte, lowercase, file order
            ok = value == raw.hex()
        if path in names:
            ok = ok and member.get("names") == names[path]
        if not ok:
            faults.append("%s: value %r does not carry the bytes %s" % (path, value, raw.hex()))
    if len(members) != 25:
        faults.append("%d members, 25 expected" % len(members))
    return faults, len(members)


def main():
    modes = {"schema": check_schema, "properties": check_properties, "values": check_values}
    if len(sys.argv) != 3 or sys.argv[2] not in modes:
        print(__doc__, file=sys.stderr)
        return 2
    vellum, mode = sys.argv[1], sys.argv[2]
    faults, checked = modes[mode](vellum)
    for fault in faults[:40]:
        print(fault)
    print("%s: %d cases checked, %d faults" % (mode, checked, len(faults)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
