#!/usr/bin/env bash
# gen_texts.sh LIST OUT: turns the UTF-8 text list (lines "NAME<TAB>text", '#' comments)
# into a header of CP932 string literals with every byte octal-escaped, so that every compiler
# sees exactly the same bytes whatever its source character set. Each text is a macro standing
# for its literal, so that it joins with neighbouring literals: WriteLog(TEXT_X "\n").
# A text that CP932 cannot hold, or a name that is not an identifier, stops the build.
set -euo pipefail
list=$1; out=$2
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
declare -A seen=()
lineno=0
{
  echo "// Generated from qzlib/base/texts_ja.txt; do not edit."
  echo "#pragma once"
  while IFS=$'\t' read -r name text || [ -n "$name" ]; do
    lineno=$((lineno + 1))
    name=${name%$'\r'}; text=${text%$'\r'}
    case "$name" in ''|'#'*) continue ;; esac
    if ! [[ $name =~ ^[A-Za-z_][A-Za-z0-9_]*$ ]]; then
      echo "$list:$lineno: bad name '$name'" >&2; exit 1
    fi
    if [ -n "${seen[$name]+x}" ]; then
      echo "$list:$lineno: '$name' defined twice" >&2; exit 1
    fi
    seen[$name]=1
    if ! bytes=$(printf '%s' "$text" | iconv -f UTF-8 -t CP932 | od -An -v -to1 | tr -s ' \n' ' '); then
      echo "$list:$lineno: '$name' cannot be written in CP932" >&2; exit 1
    fi
    lit=""
    for b in $bytes; do lit+="\\$b"; done
    echo "#define $name \"$lit\""
  done < "$list"
} > "$tmp"
mv "$tmp" "$out"
trap - EXIT
