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
# One run over every file finds those that differ; only they are shown line by line.
mapfile -t differ < <("$tool" --style=file --dry-run "${files[@]}" 2>&1 | sed -n 's/^\(.*\):[0-9]*:[0-9]*: warning: code should be clang-formatted.*/\1/p' | sort -u)
if ((${#differ[@]})); then
  for f in "${differ[@]}"; do
    "$tool" --style=file "$f" | diff -u --label "$f" --label "$f (laid out)" "$f" - || true
  done
  echo "${#differ[@]} of ${#files[@]} files differ from .clang-format ($("$tool" --version)); scripts/format.sh lays them out" >&2
  exit 1
fi
echo "${#files[@]} files match .clang-format"
