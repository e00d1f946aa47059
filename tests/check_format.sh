#!/usr/bin/env bash
# Fails, naming each file, when a C++ source of the tree differs from what
# clang-format makes of it with the tree's .clang-format. Fix with
#   clang-format -i FILE...
#   tests/check_format.sh ROOT
set -euo pipefail
root=${1:?usage: tests/check_format.sh ROOT}
cd "$root"
command -v clang-format >/dev/null || { echo "check_format: clang-format is not installed (scripts/setup-deps.sh test)" >&2; exit 1; }
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
  mapfile -t files < <(find . \( -path './build*' -o -path './.*' \) -prune -o \( -name '*.cpp' -o -name '*.h' \) -type f -print)
fi
unformatted=()
for file in "${files[@]}"; do
  clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
if [ ${#unformatted[@]} -gt 0 ]; then
  printf 'not formatted by clang-format: %s\n' "${unformatted[@]}"
  exit 1
fi
echo "${#files[@]} files formatted"
