#!/usr/bin/env bash
# gen_texts.sh LIST OUT: turns the UTF-8 text list (lines "NAME<TAB>text", '#' comments)
# into a header of CP932 literals with every byte octal-escaped, so that every compiler
# sees exactly the same bytes whatever its source character set.
set -eu
list=$1; out=$2
tmp=$(mktemp)
{
  echo "// Generated from engine/base/texts_ja.txt; do not edit."
  echo "#pragma once"
  while IFS=$'\t' read -r name text || [ -n "$name" ]; do
    case "$name" in ''|'#'*) continue ;; esac
    bytes=$(printf '%s' "$text" | iconv -f UTF-8 -t CP932 | od -An -v -to1 | tr -s ' \n' ' ')
    lit=""
    for b in $bytes; do lit+="\\$b"; done
    echo "inline constexpr char $name[] = \"$lit\";"
  done < "$list"
} > "$tmp"
mv "$tmp" "$out"
