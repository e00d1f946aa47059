#!/usr/bin/env bash
# Refuses a folder of one developer's machine in the tree's documents: a
# reader's machine has none of them. Every *.md file under ROOT is read, but
# build folders (build*/) and hidden ones (.git/, .demo/). A path is refused
# when it is absolute and starts in a home, a work or a scratch folder:
#   /home/NAME  /root/...  /Users/NAME  /work/...  /mnt/...  /tmp/NAME
# Paths a store's install has (/etc/storeserver, /var/lib/storeserver, /dev/...)
# and /tmp alone are fine. Name a build folder relative to the tree
# (build-bench/) or by a placeholder (BUILD) instead.
#   tests/machine_paths.sh ROOT          prints FILE:LINE: TEXT for each, fails on any
#   tests/machine_paths.sh --self-test   checks the rule on a planted path
set -euo pipefail

pattern='(^|[^[:alnum:]_.~/:-])/(home|root|Users|work|mnt|tmp)/[[:alnum:]_.*-]'

scan() {
  local root=$1 found=0
  while IFS= read -r -d '' file; do
    if grep -nE "$pattern" "$file" | sed "s|^|${file#"$root"/}:|"; then found=1; fi
  done < <(find "$root" -mindepth 1 \( -path "$root/build*" -o -path "$root/.*" \) -prune -o -name '*.md' -type f -print0)
  return $found
}

self_test() {
  local dir
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' RETURN
  printf 'Install it under /etc/storeserver and /var/lib/storeserver; logs in /tmp.\n' >"$dir/fine.md"
  mkdir "$dir/build-tests"
  printf 'cmake -B /work/build-rel\n' >"$dir/build-tests/ignored.md"
  scan "$dir" >/dev/null || { echo "machine_paths: an operator's paths were refused" >&2; return 1; }
  for planted in '/work/build-rel' '`/home/dev/store/build`' '(/tmp/build-bench)' '/root/cat.db'; do
    printf 'Run it from\n%s here.\n' "$planted" >"$dir/docs.md"
    if [ "$(scan "$dir")" != "docs.md:2:$planted here." ]; then
      echo "machine_paths: the planted path $planted was not refused on its line" >&2
      return 1
    fi
  done
  echo "machine_paths: planted paths refused, an operator's paths kept"
}

if [ "${1:-}" = --self-test ]; then
  self_test
  exit
fi
root=${1:?usage: tests/machine_paths.sh ROOT | --self-test}
if ! scan "$root"; then
  echo "machine_paths: the lines above name a folder of one machine; name it relative to the tree or by a placeholder" >&2
  exit 1
fi
