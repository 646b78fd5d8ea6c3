#!/usr/bin/env bash
# compile_times.sh BUILD_DIR [N]: the N (default 15) slowest steps of the last build of each
# output in BUILD_DIR, in seconds, from ninja's log.
set -eu
awk 'NR > 1 { t[$4] = ($2 - $1) / 1000 } END { for (o in t) printf "%7.1f  %s\n", t[o], o }' \
  "$1/.ninja_log" | sort -rn | head -"${2:-15}"
