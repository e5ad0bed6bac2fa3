#!/usr/bin/env python3
"""Checks of coverage_report's merging and counting on small made-up gcov documents: a wrong
merge here would list reached code as unreached, or hide a failure branch no test takes.
scripts/coverage runs these before it trusts the report."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import coverage_report as cr  # noqa: E402

ROOT = "/src"


def arc(count, throw=False, fallthrough=False):
    return {"count": count, "throw": throw, "fallthrough": fallthrough}


def doc(path, *lines):
    """A gcov document of one file; each line is (number, count, arcs, function), an arc given
    as its count or, for a call that could throw, as ("call", count): gcov's pair of the way on
    and the exception edge."""
    out = []
    for number, count, arcs, fn in lines:
        branches = []
        for a in arcs:
            if isinstance(a, tuple):
                branches += [arc(a[1], fallthrough=True), arc(0, throw=True)]
            else:
                branches.append(arc(a))
        out.append({"line_number": number, "count": count, "function_name": fn,
                    "branches": branches})
    return {"files": [{"file": path, "lines": out}]}


class Collect(unittest.TestCase):
    def test_header_code_reached_from_one_object_only_is_reached(self):
        a = doc("/src/container/block_chain.h", (10, 0, [0, 0], "f"))
        b = doc("/src/container/block_chain.h", (10, 3, [3, 0], "f"))
        lines = cr.collect([a, b], ROOT)["container/block_chain.h"]
        self.assertEqual(lines[(10, "f")], [3, [3, 0]])

    def test_arcs_add_up_index_by_index_across_objects(self):
        a = doc("/src/support/text.h", (4, 2, [2, 0], "g"))
        b = doc("/src/support/text.h", (4, 1, [0, 1], "g"))
        lines = cr.collect([a, b], ROOT)["support/text.h"]
        self.assertEqual(lines[(4, "g")][1], [2, 1])

    def test_calls_that_could_throw_are_no_decisions(self):
        # if (!ok) ReportError(...): the decision stays, the call's pair of arcs goes, whether
        # or not the call was made.
        d = doc("/src/setup/run_sfx.cpp", (7, 1, [1, 0, ("call", 0)], "h"),
                (8, 2, [("call", 2), 2, 0, ("call", 0)], "h"))
        lines = cr.collect([d], ROOT)["setup/run_sfx.cpp"]
        self.assertEqual(lines[(7, "h")][1], [1, 0])
        self.assertEqual(lines[(8, "h")][1], [2, 0])

    def test_sources_outside_the_product_are_ignored(self):
        d = {"files": doc("/src/tests/unit/x.cpp", (1, 0, [], "t"))["files"] +
             doc("/usr/include/c++/12/vector", (1, 0, [], "v"))["files"] +
             doc("/src/setupx/y.cpp", (1, 0, [], "y"))["files"]}
        self.assertEqual(dict(cr.collect([d], ROOT)), {})


class NeverTaken(unittest.TestCase):
    def test_sanitizer_checks_do_not_count_as_untaken(self):
        # strlen(p) under UBSan: its nonnull check's failing arc is always zero.
        self.assertEqual(cr.never_taken([5, 0], 0, True), 0)
        # A reached if/else whose condition also carries a check: both real arcs taken.
        self.assertEqual(cr.never_taken([4, 1, 5, 0], 2, True), 0)

    def test_an_untaken_failure_branch_beside_a_check_is_still_seen(self):
        self.assertEqual(cr.never_taken([5, 0, 5, 0], 2, True), 1)

    def test_a_line_never_run_has_all_its_branches_untaken(self):
        self.assertEqual(cr.never_taken([0, 0, 0, 0], 2, False), 2)

    def test_arcs_that_do_not_pair_up_are_counted_as_they_are(self):
        # Three extra arcs are no whole number of checks: nothing is taken off, capped at the
        # code's own count.
        self.assertEqual(cr.never_taken([1, 0, 0, 0, 1], 2, True), 2)


class Report(unittest.TestCase):
    def test_lines_and_branches_come_from_the_sanitizer_free_shape(self):
        counted = cr.collect([doc("/src/fileops/reboot.cpp",
                                  (3, 0, [], "f"),     # a declaration ASan poisons: not code
                                  (5, 2, [2, 0, 1, 1], "f"),
                                  (6, 0, [0, 0], "f"),
                                  (8, 1, [1, 0], "f"))], ROOT)
        shape = cr.shape_of([doc("/src/fileops/reboot.cpp",
                                 (5, 0, [0, 0], "f"), (6, 0, [0, 0], "f"),
                                 (8, 0, [], "f"))], ROOT)
        executable, unreached, branches = cr.report(counted, shape)["fileops/reboot.cpp"]
        self.assertEqual(executable, [5, 6, 8])
        self.assertEqual(unreached, [6])
        self.assertEqual(branches, {5: [0, 2], 6: [2, 2]})

    def test_code_the_sanitizer_build_moved_counts_as_run_with_its_branches_untaken(self):
        # Its arcs cannot be placed, so none is claimed as taken.
        counted = cr.collect([doc("/src/setup/run_sfx.cpp", (30, 4, [], "c"))], ROOT)
        shape = cr.shape_of([doc("/src/setup/run_sfx.cpp", (30, 0, [0, 0], "c2"))], ROOT)
        _e, unreached, branches = cr.report(counted, shape)["setup/run_sfx.cpp"]
        self.assertEqual(unreached, [])
        self.assertEqual(branches, {30: [2, 2]})


class ShapeCommand(unittest.TestCase):
    def test_sanitizers_and_dependency_output_are_dropped(self):
        argv = ["g++", "-I/src", "-fsanitize=address,undefined", "-fno-sanitize-recover=all",
                "--coverage", "-MD", "-MT", "a.o", "-MF", "a.o.d", "-o", "a.o", "-c", "a.cpp"]
        self.assertEqual(cr.shape_command(argv, "/b/shape/a.o"),
                         ["g++", "-I/src", "--coverage", "-c", "a.cpp", "-o", "/b/shape/a.o"])

    def test_notes_file_is_named_after_the_object(self):
        self.assertEqual(cr.notes_of("/b/x.dir/crc32.cpp.o"), "/b/x.dir/crc32.cpp.gcno")


if __name__ == "__main__":
    unittest.main()
