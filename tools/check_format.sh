#!/usr/bin/env bash
# Fails when a C or C++ file of the tree is not laid out as the project's .clang-format says.
# The logging library (tracelib/ and its suite, tests/tracelib/) keeps its own style and is
# left out. In a git checkout the tracked files are checked; in a copy without git, every
# such file outside build/ and out/.
#
# Usage: tools/check_format.sh [source folder]   (default: the folder above this script)
# To format: tools/check_format.sh --list | xargs clang-format-14 -i
set -euo pipefail

list=0
if [[ ${1:-} == --list ]]; then list=1; shift; fi
root=$(cd "${1:-$(dirname "$0")/..}" && pwd)
cd "$root"

if [[ $(git rev-parse --show-toplevel 2>/dev/null) == "$root" ]]; then
  mapfile -t files < <(git ls-files -- '*.cpp' '*.h' '*.c' ':!:tracelib/*' ':!:tests/tracelib/*')
else
  mapfile -t files < <(find . \( -path ./build -o -path ./out -o -path ./.git -o -path ./tracelib -o -path ./tests/tracelib \) \
    -prune -o -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print | sed 's|^\./||' | sort)
fi
if ((${#files[@]} == 0)); then
  echo "check_format: no C or C++ files under $root" >&2
  exit 2
fi
if ((list)); then
  printf '%s\n' "${files[@]}"
  exit 0
fi
clang-format-14 --dry-run -Werror "${files[@]}"
echo "check_format: ${#files[@]} files, all laid out as .clang-format says"
