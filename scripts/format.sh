#!/usr/bin/env bash
# Lays out the tree's C++ sources by .clang-format.
# Usage: scripts/format.sh           rewrite every file that differs
#        scripts/format.sh --check   list the files that differ (with the lines), exit 1 if any
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tool=${CLANG_FORMAT:-clang-format}
command -v "$tool" >/dev/null || { echo "$tool is not installed (scripts/setup.sh installs it)" >&2; exit 2; }

mapfile -d '' files < <(find src tests bench -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
if [[ ${1:-} != --check ]]; then
  "$tool" -i --style=file "${files[@]}"
  exit 0
fi
differ=0
for f in "${files[@]}"; do
  if ! out=$("$tool" --style=file "$f" | diff -u --label "$f" --label "$f (laid out)" "$f" -); then
    echo "$out"
    differ=$((differ + 1))
  fi
done
if ((differ)); then
  echo "$differ of ${#files[@]} files differ from .clang-format ($("$tool" --version)); scripts/format.sh lays them out" >&2
  exit 1
fi
echo "${#files[@]} files match .clang-format"
