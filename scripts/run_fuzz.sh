#!/usr/bin/env bash
# run_fuzz.sh BUILD_DIR SECONDS: runs each fuzz target for a bounded time.
# Seeds: fuzz/corpus/<name>/ (committed, crash regressions included) and fuzz/seeds/<name>.dirs,
# a list of folders below ../shared/testdata to seed from when that folder exists.
set -eu
build=$1; secs=$2
root=$(cd "$(dirname "$0")/.." && pwd)
for bin in "$build"/*_fuzz; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  work=$(mktemp -d)
  dirs=("$work")
  [ -d "$root/fuzz/corpus/$name" ] && dirs+=("$root/fuzz/corpus/$name")
  if [ -f "$root/fuzz/seeds/$name.dirs" ]; then
    while read -r d; do
      [ -n "$d" ] && [ -d "$root/../shared/testdata/$d" ] && dirs+=("$root/../shared/testdata/$d")
    done < "$root/fuzz/seeds/$name.dirs"
  fi
  echo "== $name for ${secs}s"
  "$bin" -max_total_time="$secs" -rss_limit_mb=2048 -timeout=10 "${dirs[@]}"
  rm -rf "$work"
done
