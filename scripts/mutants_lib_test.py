#!/usr/bin/env python3
"""Checks of where the mutation sampler may change code: a mutation inside a log text or a
comment would only ever "survive" and lower the kill rate for nothing, and one in a template
would only fail to build."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mutants_lib as ml  # noqa: E402

SNIPPET = r'''#include <vector>
#define LIMIT(a) ((a) < 3 && \
                  (a) > 1)
// if (a == b) return 0;
/* x != y || true
   return 1; */
static std::vector<int> v;
bool F(int a, const char* p) {
  WriteLog("a == b && !c", "x < y", 0);
  char q = '"';
  if (a == 1 || !p) return false;
  if (a + 1 >= 4 && p[a - 1] != '!') return true;
  HRESULT r = a <= 2 ? S_OK : E_FAIL;
  return a < 0;
}
'''


class Find(unittest.TestCase):
    def setUp(self):
        self.found = ml.find_mutations("x.cpp", SNIPPET)

    def kinds_on(self, line):
        return sorted(m["kind"] for m in self.found if m["line"] == line)

    def test_comments_strings_and_directives_are_left_alone(self):
        for line in range(1, 10):
            self.assertEqual(self.kinds_on(line), [], line)
        self.assertEqual(self.kinds_on(10), [], "a quote in a character literal ends nothing")

    def test_code_operators_are_found_where_they_stand(self):
        self.assertEqual(self.kinds_on(11), ["!", "==", "false", "||"])
        self.assertEqual(self.kinds_on(12), ["!=", "&&", "+ 1", "- 1", ">=", "true"])
        self.assertEqual(self.kinds_on(13), ["<=", "E_FAIL", "S_OK"])
        self.assertEqual(self.kinds_on(14), ["<"])

    def test_apply_changes_only_the_operator(self):
        m = next(m for m in self.found if m["kind"] == "||")
        out = ml.apply(SNIPPET, m)
        self.assertIn("if (a == 1 && !p) return false;", out)
        self.assertEqual(len(out), len(SNIPPET))
        m = next(m for m in self.found if m["kind"] == "!")
        self.assertIn("if (a == 1 || p) return false;", ml.apply(SNIPPET, m))
        with self.assertRaises(AssertionError):
            ml.apply(SNIPPET.replace("a == 1", "a == 2 "), m)

    def test_the_same_seed_gives_the_same_sample(self):
        a = ml.sample(self.found, 5, 7)
        self.assertEqual(a, ml.sample(list(reversed(self.found)), 5, 7))
        self.assertNotEqual(a, ml.sample(self.found, 5, 8))
        self.assertEqual(len(ml.sample(self.found, 500, 1)), len(self.found))


if __name__ == "__main__":
    unittest.main()
