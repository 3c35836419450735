#!/usr/bin/env bash
# Fails when a folder of the program includes a header of a folder above it. From the top:
#   app (entry and switch), strings, xml, logging, paths, platform, tracelib
# strings and xml share a floor, as do logging and paths; within each pair the first may
# include the second and never the reverse (AppPaths is built by the Logger, so it must not
# log). The logging library stands below everything and includes nothing of the program.
# The one exception: app/fixed_names.h, the product's fixed names, may be included anywhere.
# docs/architecture.md describes the floors.
#
# Usage: tools/check_layers.sh [source folder]   (default: the folder above this script)
set -euo pipefail

root=$(cd "${1:-$(dirname "$0")/..}" && pwd)
declare -A rank=([app]=6 [strings]=5 [xml]=4 [logging]=3 [paths]=2 [platform]=1 [tracelib]=0)
allowed=app/fixed_names.h

files=0
broken=0
for folder in "${!rank[@]}"; do
  [[ -d $root/$folder ]] || { echo "check_layers: no folder $root/$folder" >&2; exit 2; }
  while IFS= read -r -d '' file; do
    files=$((files + 1))
    while IFS=: read -r line text; do
      # The header as the compiler finds it: a quoted name beside the including file first,
      # then (quoted or not) from the source folder, which is the program's include folder.
      name=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^">]+)[">].*/\1/' <<<"$text")
      if [[ $text == *\"* && -e $(dirname "$file")/$name ]]; then
        header=$(realpath -m --relative-to="$root" "$(dirname "$file")/$name")
      elif [[ -e $root/$name || $text == *\"* ]]; then
        header=$(realpath -m --relative-to="$root" "$root/$name")
      else
        continue  # a system header
      fi
      target=${header%%/*}
      [[ -n ${rank[$target]:-} && $header != "$allowed" ]] || continue
      if ((rank[$target] > rank[$folder])); then
        echo "${file#"$root"/}:$line: $folder/ includes $header, which is above it"
        broken=$((broken + 1))
      fi
    done < <(grep -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$file" || true)
  done < <(find "$root/$folder" -type f \( -name '*.cpp' -o -name '*.h' \) -print0)
done

if ((files == 0)); then
  echo "check_layers: no sources under $root" >&2
  exit 2
fi
if ((broken > 0)); then
  echo "check_layers: $broken include(s) from above in $files files" >&2
  exit 1
fi
echo "check_layers: $files files, none includes a header from above its own folder"
