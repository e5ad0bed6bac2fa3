#!/usr/bin/env python3
"""Reads the counters of a coverage build (gcc --coverage) for the product's own sources and
writes what no run reached: every line never executed, and every line with a branch never taken.

Only the objects compiled from setup/, support/, container/ and fileops/ count. Their .gcda files
already hold the sum of every program that linked them (the setup, the tools, the unit tests);
a header's inline code appears once per object that includes it, so counts are merged per source
line here.

The coverage build is also the sanitizer build, and UBSan puts its own checks into the code before
gcc places its counters: a pointer handed to strlen, a bool loaded from memory, a shift, each gets
a branch whose failing side can never be counted (the run aborts there). Left in, every such line
would read as a failure path that no test reaches. So each product source is compiled once more
without sanitizers, into build/<preset>/coverage-shape; that object's notes file gives the lines
and branches that are really the code's, and on each line the sanitizer's extra branches (two arcs
per check, the failing one never counted) are taken off the never-taken count.

Usage: coverage_report.py BUILD_DIR SOURCE_ROOT OUT_DIR
"""
import collections
import concurrent.futures
import json
import os
import shlex
import subprocess
import sys

MODULES = ("setup", "support", "container", "fileops")


def is_product_source(path, root):
    return any(path.startswith(os.path.join(root, m) + os.sep) for m in MODULES)


def product_objects(build, root):
    """(directory, argv, source, object) of every product source compiled in the build."""
    with open(os.path.join(build, "compile_commands.json")) as f:
        entries = json.load(f)
    found = []
    for e in entries:
        if not is_product_source(e["file"], root):
            continue
        argv = e["arguments"] if "arguments" in e else shlex.split(e["command"])
        obj = argv[argv.index("-o") + 1]
        found.append((e["directory"], argv, e["file"], os.path.join(e["directory"], obj)))
    return found


def shape_command(argv, shape_obj):
    """The same compile with the counters but without sanitizers or dependency files."""
    out, skip = [], False
    for a in argv:
        if skip:
            skip = False
            continue
        if a in ("-o", "-MT", "-MF"):
            skip = True
            continue
        if a.startswith(("-fsanitize", "-fno-sanitize")) or a in ("-MD", "-MMD"):
            continue
        out.append(a)
    return out + ["-o", shape_obj]


def build_shapes(objects, build):
    """Compiles the sanitizer-free twin of each object where it is missing or older."""
    shape_dir = os.path.join(build, "coverage-shape")
    jobs = []
    for directory, argv, _source, obj in objects:
        twin = os.path.join(shape_dir, os.path.relpath(obj, build))
        fresh = (os.path.exists(twin) and os.path.exists(notes_of(twin)) and
                 os.path.getmtime(twin) >= os.path.getmtime(obj))
        if not fresh:
            os.makedirs(os.path.dirname(twin), exist_ok=True)
            jobs.append((directory, shape_command(argv, twin)))
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 2) as pool:
        for r in pool.map(lambda j: subprocess.run(j[1], cwd=j[0], capture_output=True, text=True),
                          jobs):
            if r.returncode != 0:
                raise RuntimeError("compile failed: " + " ".join(r.args) + "\n" + r.stderr)
    return [os.path.join(shape_dir, os.path.relpath(o[3], build)) for o in objects]


def notes_of(obj):
    # gcc names the notes after the object without its last suffix: x.cpp.o -> x.cpp.gcno.
    return os.path.splitext(obj)[0] + ".gcno"


def run_gcov(objects, workdir):
    """gcov's JSON documents (one per object), with branches; a missing .gcda reads as zero."""
    r = subprocess.run(["gcov", "--json-format", "--stdout", "--branch-probabilities"] + objects,
                       cwd=workdir, capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError("gcov failed:\n" + r.stderr)
    return [json.loads(line) for line in r.stdout.splitlines() if line.strip()], r.stderr


def decisions(branches):
    """The counts of the arcs that leave a block by a decision, without calls' exception pairs."""
    kept = []
    for b in branches:
        if b["throw"]:
            if kept:
                kept.pop()  # the call's way on to the next statement
        else:
            kept.append(b["count"])
    return kept


def collect(docs, root):
    """Merges gcov documents per source file and line.

    Returns {relative path: {(line, function): [count, arcs]}} where arcs are the counts of the
    line's branches in that function. A call that could throw ends its block with two arcs, on
    to the next statement and the exception edge (listed right after it); neither is a decision
    of the code (the product throws nothing itself), so both are left out. The same inline
    function from several objects adds up arc by arc.
    """
    files = collections.defaultdict(dict)
    for doc in docs:
        for f in doc["files"]:
            path = os.path.normpath(f["file"])
            if not is_product_source(path, root):
                continue
            lines = files[os.path.relpath(path, root)]
            # Should gcov list a line twice for one function, both parts count.
            seen = collections.defaultdict(lambda: [0, []])
            for ln in f["lines"]:
                key = (ln["line_number"], ln.get("function_name", ""))
                seen[key][0] += ln["count"]
                seen[key][1] += decisions(ln["branches"])
            for key, (count, arcs) in seen.items():
                if key not in lines:
                    lines[key] = [count, arcs]
                    continue
                have = lines[key]
                have[0] += count
                if len(have[1]) == len(arcs):
                    have[1] = [a + b for a, b in zip(have[1], arcs)]
                elif len(arcs) > len(have[1]):
                    # Another shape of the same inline code: keep the fuller one, a reached arc
                    # from the other cannot be placed.
                    have[1] = arcs
    return files


def never_taken(arcs, real_arcs, executed):
    """How many of the code's own branches on a line were never taken.

    arcs: counted arcs of the sanitizer build; real_arcs: how many the code has without
    sanitizers. Each sanitizer check adds two arcs, the failing one always zero.
    """
    if real_arcs == 0:
        return 0
    if not executed:
        return real_arcs
    extra = len(arcs) - real_arcs
    checks = extra // 2 if extra > 0 and extra % 2 == 0 else 0
    zeros = sum(1 for c in arcs if c == 0)
    return max(0, min(real_arcs, zeros - checks))


def report(counted, shape):
    """Per file: executable lines, the unexecuted ones, and lines with untaken branches."""
    result = {}
    for path, shape_lines in shape.items():
        got = counted.get(path, {})
        line_count = collections.Counter()
        for (line, _fn), (count, _arcs) in got.items():
            line_count[line] += count
        executable = sorted({line for line, _fn in shape_lines})
        unreached = [line for line in executable if line_count[line] == 0]
        branches = collections.defaultdict(lambda: [0, 0])  # line -> [never taken, of]
        for (line, fn), real in shape_lines.items():
            n = len(real)
            if n == 0:
                continue
            if (line, fn) in got:
                count, arcs = got[(line, fn)]
            else:  # the sanitizer build placed this code elsewhere: judge it by its line
                count, arcs = line_count[line], [0] * n
            branches[line][0] += never_taken(arcs, n, count > 0)
            branches[line][1] += n
        if executable:
            result[path] = (executable, unreached, dict(branches))
    return result


def source_lines(root, path):
    try:
        with open(os.path.join(root, path), errors="replace") as f:
            return f.read().split("\n")
    except OSError:
        return []


def write(result, root, out_dir):
    os.makedirs(out_dir, exist_ok=True)
    rows = []
    with open(os.path.join(out_dir, "coverage-unreached.txt"), "w") as unreached_out, \
         open(os.path.join(out_dir, "coverage-branches.txt"), "w") as branches_out:
        for path in sorted(result):
            executable, unreached, branches = result[path]
            text = source_lines(root, path)
            show = lambda n: text[n - 1].rstrip() if 0 < n <= len(text) else ""
            if unreached:
                unreached_out.write("== %s: %d of %d lines never executed\n"
                                    % (path, len(unreached), len(executable)))
                for n in unreached:
                    unreached_out.write("%6d  %s\n" % (n, show(n)))
                unreached_out.write("\n")
            untaken = 0
            for n in sorted(branches):
                missed, of = branches[n]
                if missed:
                    untaken += missed
                    branches_out.write("%s:%d: %d of %d never taken: %s\n"
                                       % (path, n, missed, of, show(n).strip()))
            total_branches = sum(of for _m, of in branches.values())
            rows.append((path, len(executable), len(executable) - len(unreached),
                         total_branches, untaken))
    return rows


def print_table(rows):
    width = max([len("file")] + [len(r[0]) for r in rows])
    head = "%-*s %7s %9s %7s %9s %12s" % (width, "file", "lines", "executed", "%",
                                           "branches", "never taken")
    print(head)
    print("-" * len(head))
    for path, lines, executed, branches, untaken in rows:
        print("%-*s %7d %9d %6.1f%% %9d %12d" % (width, path, lines, executed,
                                                 100.0 * executed / lines, branches, untaken))
    lines = sum(r[1] for r in rows)
    executed = sum(r[2] for r in rows)
    print("-" * len(head))
    print("%-*s %7d %9d %6.1f%% %9d %12d" % (width, "total", lines, executed,
                                             100.0 * executed / lines if lines else 0.0,
                                             sum(r[3] for r in rows), sum(r[4] for r in rows)))


def shape_of(docs, root):
    """{path: {(line, function): [arcs]}}: the code's own lines and branches, without counts."""
    return {path: {key: arcs for key, (_count, arcs) in lines.items()}
            for path, lines in collect(docs, root).items()}


def main(argv):
    if len(argv) != 4:
        print(__doc__.strip().split("\n")[-1], file=sys.stderr)
        return 2
    build, root, out_dir = (os.path.abspath(a) for a in argv[1:])
    objects = product_objects(build, root)
    if not objects:
        print("coverage: no product objects in %s/compile_commands.json" % build, file=sys.stderr)
        return 1
    # An object that did not build (a tree mid-change) has nothing to say; say that it is missing.
    built = [o for o in objects if os.path.exists(o[3]) and os.path.exists(notes_of(o[3]))]
    for o in objects:
        if o not in built:
            print("coverage: not built, left out: %s" % os.path.relpath(o[2], root))
    objects = built
    twins = build_shapes(objects, build)
    work = os.path.join(build, "coverage-shape")
    counted_docs, messages = run_gcov([o[3] for o in objects], work)
    shape_docs, _ = run_gcov(twins, work)
    missing = [m for m in messages.splitlines() if "cannot open data file" in m]
    if missing:
        print("coverage: %d of %d objects were never run (no .gcda)" % (len(missing), len(objects)))
    result = report(collect(counted_docs, root), shape_of(shape_docs, root))
    rows = write(result, root, out_dir)
    print_table(rows)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
