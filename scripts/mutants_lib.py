"""Where the mutation sampler may change the product, and how: operator mutations in code only,
never inside comments, string or character literals, or preprocessor lines. Kept apart from the
driver (scripts/mutants) so that the finding can be checked on its own (mutants_lib_test.py)."""
import random
import re

# The product's own code: what the tests are there to guard.
SOURCE_DIRS = ("setup", "support", "container", "fileops")
SOURCE_SUFFIXES = (".cpp", ".h")

# (kind, pattern, replacement). Binary operators are matched with the blanks clang-format puts
# around them, so that templates (`std::vector<int>`), `->`, `<<` and `&&` in `T&&` stay out.
_SWAPS = [
    ("==", r"(?<=\s)==(?=\s)", "!="),
    ("!=", r"(?<=\s)!=(?=\s)", "=="),
    ("<", r"(?<=\s)<(?=\s)", "<="),
    ("<=", r"(?<=\s)<=(?=\s)", "<"),
    (">", r"(?<=\s)>(?=\s)", ">="),
    (">=", r"(?<=\s)>=(?=\s)", ">"),
    ("&&", r"(?<=\s)&&(?=\s)", "||"),
    ("||", r"(?<=\s)\|\|(?=\s)", "&&"),
    ("+ 1", r"(?<=\s)\+ 1(?![\w.])", "- 1"),
    ("- 1", r"(?<=\s)- 1(?![\w.])", "+ 1"),
    ("true", r"\btrue\b", "false"),
    ("false", r"\bfalse\b", "true"),
    ("TRUE", r"\bTRUE\b", "FALSE"),
    ("FALSE", r"\bFALSE\b", "TRUE"),
    ("S_OK", r"\bS_OK\b", "E_FAIL"),
    ("E_FAIL", r"\bE_FAIL\b", "S_OK"),
    ("return 0", r"\breturn 0;", "return 1;"),
    ("return 1", r"\breturn 1;", "return 0;"),
    # A logical not before a name or a parenthesis; `!=` is not one.
    ("!", r"!(?=[A-Za-z_(])", ""),
]
_COMPILED = [(kind, re.compile(pattern), repl) for kind, pattern, repl in _SWAPS]


def code_mask(text):
    """A copy of text in which every character of a comment, a string or character literal and
    every preprocessor line is a blank, newlines kept: offsets into it are offsets into text."""
    out = list(text)
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c in " \t":
            i += 1
            continue
        if line_start and c == "#":
            # A directive, with its continuation lines.
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                    out[i] = " "
                    i += 2
                    continue
                out[i] = " "
                i += 1
            continue
        line_start = False
        if c == "\n":
            line_start = True
            i += 1
        elif text.startswith("//", i):
            while i < n and text[i] != "\n":
                out[i] = " "
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            for j in range(i, end):
                if out[j] != "\n":
                    out[j] = " "
            i = end
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            end = min(j + 1, n)
            for k in range(i, end):
                out[k] = " "
            i = end
        else:
            i += 1
    return "".join(out)


def find_mutations(path, text):
    """Every mutation of one file, as dicts in file order: path, offset, line, kind, before,
    after (the matched text and its replacement)."""
    masked = code_mask(text)
    found = []
    for kind, regex, repl in _COMPILED:
        for m in regex.finditer(masked):
            found.append({"path": path, "offset": m.start(), "line": text.count("\n", 0, m.start()) + 1,
                          "kind": kind, "before": m.group(0), "after": repl})
    found.sort(key=lambda f: (f["offset"], f["kind"]))
    return found


def apply(text, mutation):
    at, before = mutation["offset"], mutation["before"]
    assert text[at:at + len(before)] == before, "the file changed under the sampler"
    return text[:at] + mutation["after"] + text[at + len(before):]


def sample(mutations, n, seed):
    """N of the mutations, the same N for the same list and seed."""
    ordered = sorted(mutations, key=lambda f: (f["path"], f["offset"], f["kind"]))
    return random.Random(seed).sample(ordered, min(n, len(ordered)))
