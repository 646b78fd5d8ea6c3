#!/usr/bin/env bash
# The layer check passes on the tree and fails, naming file and line, on a planted upward include,
# an include of test code and a folder that no layer lists. Each case runs on a plain copy of the
# files (no git, no build) in a fresh temporary folder.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
copy() {  # a bare tree: the build lists, the script and the engine sources
  rm -rf "$work/tree" && mkdir -p "$work/tree/scripts"
  cp "$root/CMakeLists.txt" "$work/tree/" && cp "$root/scripts/check_layers.sh" "$work/tree/scripts/"
  cp -r "$root/qzlib" "$work/tree/"
}
expect() {  # expect NAME STATUS PATTERN: runs the check, compares exit status and output
  local out status
  out=$(cd "$work/tree" && bash scripts/check_layers.sh 2>&1); status=$?
  if [ "$status" -ne "$2" ] || ! printf '%s\n' "$out" | grep -q -- "$3"; then
    echo "FAIL $1: status $status, output:"; printf '%s\n' "$out" | sed 's/^/  /'; fails=$((fails + 1))
  else
    echo "ok   $1"
  fi
}
plant() {  # plant FILE LINE TEXT: inserts TEXT before line LINE of FILE
  sed -i "$2i $3" "$work/tree/$1"
}

copy
expect "the tree passes" 0 "layer check passed"
copy; plant qzlib/base/log.cpp 3 '#include <qzlib/model/model.h>'
expect "core includes the model layer" 1 "^qzlib/base/log.cpp:3: includes qzlib/model/model.h (layer model) from layer core"
copy; plant qzlib/math/math3d.cpp 2 '#include "qzlib/soft/memimg.h"'
expect "maths includes graphics, quoted" 1 "^qzlib/math/math3d.cpp:2: includes qzlib/soft/memimg.h"
copy; plant qzlib/modelimport/x/xfile_parser.cpp 2 '  #  include <qzlib/system/library.h>'
expect "an importer includes engine start" 1 "^qzlib/modelimport/x/xfile_parser.cpp:2: "
copy; plant qzlib/model/model.cpp 2 '#include "tests/support/test_support.h"'
expect "the engine includes test code" 1 "^qzlib/model/model.cpp:2: includes tests/support/test_support.h, outside the engine"
copy; mkdir -p "$work/tree/qzlib/extra" && echo '#pragma once' > "$work/tree/qzlib/extra/x.h"
expect "a folder in no layer" 1 "^qzlib/extra: a folder in no layer"
copy; plant qzlib/system/library.cpp 2 '#include <qzlib/base/log.h>'
expect "a downward include is fine" 0 "layer check passed"

[ $fails -eq 0 ] && echo "7 passed, 0 failed" || { echo "$((7 - fails)) passed, $fails failed"; exit 1; }
