#!/usr/bin/env bash
# check_link_order.sh LIB... : the engine's static libraries, highest layer first (the order a
# linker reads them). Fails when a library takes a symbol that only a library before it (a higher
# layer) defines: such an upward call needs a link group, or breaks a plain `-l` link line.
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 LIB..." >&2; exit 2; }
status=0
for ((i = 1; i <= $#; ++i)); do
  lib=${!i}
  # Symbols this library defines, and those the libraries after it (lower layers) define.
  own=$(nm -g --defined-only "$lib" 2>/dev/null | awk 'NF >= 3 {print $3}' | sort -u)
  lower=$(for ((j = i + 1; j <= $#; ++j)); do nm -g --defined-only "${!j}" 2>/dev/null; done |
          awk 'NF >= 3 {print $3}' | sort -u)
  need=$(nm -g --undefined-only "$lib" 2>/dev/null | awk '{print $NF}' | sort -u |
         comm -23 - <(echo "$own") | comm -23 - <(echo "$lower"))
  for ((j = 1; j < i; ++j)); do
    upward=$(nm -g --defined-only "${!j}" 2>/dev/null | awk 'NF >= 3 {print $3}' | sort -u |
             comm -12 - <(echo "$need"))
    if [ -n "$upward" ]; then
      echo "$(basename "$lib") calls up into $(basename "${!j}"):" >&2
      echo "$upward" | c++filt | sed 's/^/  /' >&2
      status=1
    fi
  done
done
[ $status -eq 0 ] && echo "link order ok: $(for l in "$@"; do basename "$l"; done | tr '\n' ' ')"
exit $status
