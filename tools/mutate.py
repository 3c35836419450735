#!/usr/bin/env python3
"""Mutation testing of the portable product code: plants one small fault at a time, rebuilds,
runs the native tests and reports which faults no test noticed.

  tools/mutate.py [--seed 1] [--count 60] [--list] [--plant FILE:OLD:NEW ...]

A mutant that does not compile counts as "not built"; one whose test run fails or times out as
"killed"; score = killed / built. The source file is restored after every mutant, also on
Ctrl-C or an error, so the working tree is left as it was found.
"""
import argparse, glob, os, random, re, shlex, signal, subprocess, sys, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCES = ["app/*.cpp", "paths/*.cpp", "strings/*.cpp", "xml/*.cpp", "logging/*.cpp", "tracelib/tracelib.cpp", "tracelib/utf8.h"]
BUILD_DIR = "build/mutate"
# The out-of-memory sweep alone takes minutes; the fault sweep and the other suites stay in.
# The layout check is left out: a mutant's removed call leaves a line it would reject.
TEST_CMD = f"ctest --test-dir {BUILD_DIR} -E 'memcheck|OutOfMemory|clang_format' --timeout 60 -j2"
KEYWORDS = {"return", "if", "while", "for", "switch", "sizeof", "delete", "throw", "case", "static_assert", "co_return"}
SWAPS = {"==": ["!="], "!=": ["=="], "<": ["<=", ">"], "<=": ["<"], ">": [">=", "<"], ">=": [">"],
         "&&": ["||"], "||": ["&&"], "true": ["false"], "false": ["true"]}


def blank(text):
    """Returns text with comments, string and character literals and preprocessor lines turned
    into spaces (newlines and quotes kept), so that offsets still match the original."""
    out, i, n = list(text), 0, len(text)
    def wipe(a, b):
        for k in range(a, b):
            if out[k] != "\n": out[k] = " "
    while i < n:
        c = text[i]
        if text.startswith("//", i) or (c == "#" and text[text.rfind("\n", 0, i) + 1:i].strip() == ""):
            j = text.find("\n", i); j = n if j < 0 else j
            while c == "#" and text[j - 1:j] == "\\": j = text.find("\n", j + 1); j = n if j < 0 else j
            wipe(i, j); i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2); j = n if j < 0 else j + 2
            wipe(i, j); i = j
        elif c == '"' and re.search(r"(?<![\w])(?:u8|u|U|L)?R$", text[max(0, i - 4):i]):
            m = re.match(r'"([^(\s]*)\(', text[i:]); j = text.find(")" + m.group(1) + '"', i) + len(m.group(1)) + 1
            wipe(i + 1, j); i = j + 1
        elif c in "\"'" and not (c == "'" and text[i - 1:i].isdigit()):
            j = i + 1
            while j < n and text[j] != c: j += 2 if text[j] == "\\" else 1
            wipe(i + 1, j); i = j + 1
        else:
            i += 1
    return "".join(out)


def sites_in(path):
    """Every mutation of one file: (path, offset, old, new, operator), in file order."""
    text = open(os.path.join(ROOT, path), encoding="utf-8").read()
    code, found = blank(text), []
    for m in re.finditer(r"(?<= )(==|!=|<=|>=|<|>|&&|\|\|)(?= )|\b(true|false)\b", code):
        op = "logic" if m.group() in ("&&", "||") else "bool" if m.group(2) else "compare"
        found += [(path, m.start(), m.group(), new, op) for new in SWAPS[m.group()]]
    for m in re.finditer(r"!(?!=)", code):
        found.append((path, m.start(), "!", "", "negation"))
    for m in re.finditer(r"(?<![\w.])0[xX]([0-9A-Fa-f]+)", code):
        found.append((path, m.start(), m.group(), f"0x{int(m.group(1), 16) + 1:X}", "constant"))
    for m in re.finditer(r"(?<![\w.])(\d+)(?:[uUlL]*)\b(?!\.)", code):
        line = code[code.rfind("\n", 0, m.start()) + 1:code.find("\n", m.start())]
        if re.match(r"\s*(const\s+)?[\w:]+\s+\w+\[\s*" + m.group(1) + r"\s*\]", line): continue  # an array size
        value = int(m.group(1))
        found += [(path, m.start(1), m.group(1), str(v), "constant") for v in dict.fromkeys([value + 1] + ([0] if value == 1 else []))]
    lines, offset, previous = code.split("\n"), 0, ";"
    for raw in lines:
        s = raw.strip()
        call = re.sub(r"^\(void\)\s*", "", s)
        head = call.split("(", 1)[0]
        if (s.endswith(");") and "(" in call and re.fullmatch(r"[A-Za-z_][\w:.]*(?:->[\w:.]+)*", head)
                and head not in KEYWORDS and s.count("(") == s.count(")") and previous[-1:] in ";{}):"):
            start = offset + raw.index(s[0])
            found.append((path, start, text[start:start + len(s)], ";", "call"))
        if s: previous = s if s != "else" else ";"
        offset += len(raw) + 1
    return sorted(found, key=lambda site: (site[1], site[3]))


def run(cmd, timeout):
    """Runs a shell command in the tree's root; True when it exits with 0 within the time.
    The command's whole process group ends with it, on a timeout or an interruption too."""
    child = subprocess.Popen(cmd, shell=True, cwd=ROOT, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             start_new_session=True)
    try:
        return child.wait(timeout) == 0
    except subprocess.TimeoutExpired:
        return False
    finally:
        if child.poll() is None:
            os.killpg(child.pid, signal.SIGKILL); child.wait()


def try_mutant(path, start, old, new, build_cmd, test_cmd):
    """Applies one replacement, builds and tests; the file is restored before returning."""
    full = os.path.join(ROOT, path)
    original = open(full, encoding="utf-8", newline="").read()
    assert original[start:start + len(old)] == old, (path, start, old)
    try:
        with open(full, "w", encoding="utf-8", newline="") as f: f.write(original[:start] + new + original[start + len(old):])
        if not run(build_cmd, 900): return "not built"
        return "survived" if run(test_cmd, 1800) else "killed"
    finally:
        with open(full, "w", encoding="utf-8", newline="") as f: f.write(original)


def interrupted(*_):
    """A terminating signal unwinds like Ctrl-C, so the file being mutated is restored."""
    raise KeyboardInterrupt


def line_of(path, start):
    """file:line:column of an offset, for the report."""
    text = open(os.path.join(ROOT, path), encoding="utf-8").read()
    return f"{path}:{text.count(chr(10), 0, start) + 1}:{start - text.rfind(chr(10), 0, start)}"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--count", type=int, default=60)
    ap.add_argument("--list", action="store_true", help="show the chosen mutants without building")
    ap.add_argument("--plant", action="append", default=[], metavar="FILE:OLD:NEW",
                    help="run only this literal replacement (every occurrence of OLD, which holds no colon)")
    ap.add_argument("--build-dir", default=BUILD_DIR)
    ap.add_argument("--test", default=TEST_CMD, help=f"test command (default: {TEST_CMD})")
    args = ap.parse_args()
    if args.build_dir != BUILD_DIR and args.test == TEST_CMD: args.test = TEST_CMD.replace(BUILD_DIR, args.build_dir)
    signal.signal(signal.SIGTERM, interrupted)

    # Each mutant: (file, offset, old text, new text, operator).
    if args.plant:
        chosen = []
        for plant in args.plant:
            path, old, new = plant.split(":", 2)
            text = open(os.path.join(ROOT, path), encoding="utf-8").read()
            if old not in text: sys.exit(f"{path}: '{old}' not found")
            # Every occurrence at once: the file's whole text is the replaced part.
            lines = ",".join(str(text.count("\n", 0, m.start()) + 1) for m in re.finditer(re.escape(old), text))
            chosen.append((path, 0, text, text.replace(old, new), f"planted  {old} -> {new}  (line {lines})"))
    else:
        files = sorted(os.path.relpath(f, ROOT) for p in SOURCES for f in glob.glob(os.path.join(ROOT, p)))
        everything = [site for f in files for site in sites_in(f)]
        random.Random(args.seed).shuffle(everything)
        chosen = everything[:args.count]
        print(f"{len(everything)} mutation sites in {len(files)} files; seed {args.seed}, taking {len(chosen)}")
    def describe(path, start, old, new, op):
        if op.startswith("planted"): return f"{path}  {op}"
        return f"{line_of(path, start)}  {op}  {old} -> {new if new else '(removed)'}"
    if args.list:
        for mutant in chosen: print(describe(*mutant))
        return 0

    build_cmd = f"cmake --build {shlex.quote(args.build_dir)} -j2"
    if not os.path.exists(os.path.join(ROOT, args.build_dir, "CMakeCache.txt")):
        subprocess.run(["cmake", "--preset", "native", "-B", args.build_dir], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    if not run(build_cmd, 1800) or not run(args.test, 3600):
        sys.exit("the unmutated tree does not build or does not pass its tests")
    counts = {"killed": 0, "survived": 0, "not built": 0}
    began = time.monotonic()
    for mutant in chosen:
        result = try_mutant(*mutant[:4], build_cmd, args.test)
        counts[result] += 1
        print(f"{describe(*mutant)}  {result.upper()}", flush=True)
    built = counts["killed"] + counts["survived"]
    score = f"{100 * counts['killed'] / built:.1f}%" if built else "n/a"
    print(f"\nbuilt {built}, killed {counts['killed']}, survived {counts['survived']}, "
          f"not built {counts['not built']}, score {score} (killed/built); {time.monotonic() - began:.0f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
