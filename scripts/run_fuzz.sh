#!/usr/bin/env bash
# run_fuzz.sh BUILD_DIR SECONDS: runs each fuzz target for a bounded time.
# Seeds: fuzz/corpus/<name>/ (committed, crash regressions included) and fuzz/seeds/<name>.dirs,
# a list of folders below tests/data to seed from (a listed folder that is missing is an error).
# A target may have a dictionary, fuzz/dicts/<name>.dict, and a maximum input length,
# fuzz/seeds/<name>.max_len (one number; without it libFuzzer takes the largest seed, at least
# 4096 bytes), so that inputs repeating faces, frames and keys can grow to sizes where a load's
# work outgrows its input; such targets try inputs up to that length from the start.
# New inputs go to a scratch folder, so the committed corpus only grows by hand; each target runs
# in a scratch folder of its own too, where the engine writes its Log.txt. A crash stops
# the run; its input is kept in BUILD_DIR/artifacts/<name>/ (copy it into fuzz/corpus/<name>/
# as a regression once the cause is fixed).
set -eu
build=$(cd "$1" && pwd); secs=$2
root=$(cd "$(dirname "$0")/.." && pwd)
work=""
trap '[ -n "$work" ] && rm -rf "$work"' EXIT
status=0
for bin in "$build"/*_fuzz; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  work=$(mktemp -d)
  mkdir "$work/new" "$work/run"
  dirs=("$work/new")
  [ -d "$root/fuzz/corpus/$name" ] && dirs+=("$root/fuzz/corpus/$name")
  if [ -f "$root/fuzz/seeds/$name.dirs" ]; then
    while read -r d; do
      [ -z "$d" ] && continue
      [ -d "$root/tests/data/$d" ] || { echo "!! seed folder tests/data/$d missing" >&2; exit 1; }
      dirs+=("$root/tests/data/$d")
    done < "$root/fuzz/seeds/$name.dirs"
  fi
  options=()
  [ -f "$root/fuzz/dicts/$name.dict" ] && options+=("-dict=$root/fuzz/dicts/$name.dict")
  # With a maximum length, inputs may reach it from the start (libFuzzer otherwise raises its cap
  # slowly, and a short run never tries the long inputs the length is there for).
  [ -f "$root/fuzz/seeds/$name.max_len" ] &&
    options+=("-max_len=$(cat "$root/fuzz/seeds/$name.max_len")" -len_control=0)
  artifacts="$build/artifacts/$name"
  mkdir -p "$artifacts"
  echo "== $name for ${secs}s"
  if ! (cd "$work/run" && "$bin" -max_total_time="$secs" -rss_limit_mb=2048 -timeout=10 "${options[@]}" \
       -artifact_prefix="$artifacts/" "${dirs[@]}"); then
    echo "!! $name failed; its input is in $artifacts/" >&2
    status=1
  fi
  rm -rf "$work"; work=""
done
exit $status
