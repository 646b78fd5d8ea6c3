#!/usr/bin/env bash
# check_layers.sh: run from the repository root, with no arguments, on a plain copy of the source
# tree (no build, no git needed). Every folder of qzlib/ belongs to one layer, as CMakeLists.txt
# lists them (QZLIB_LAYERS, lowest first, and each layer's QZLIB_<layer>_FOLDERS); a file may
# include the folders of its own layer and the layers below, never a higher one, and nothing
# outside qzlib/. The umbrella header qzlib/qzlib.h stands above every layer. Prints every offending include as file:line and exits 1; exits 0 when none.
set -uo pipefail
[ -f CMakeLists.txt ] && [ -d qzlib ] || { echo "check_layers.sh: run it from the repository root" >&2; exit 2; }

# The layer table, read from the build's own lists.
layers=$(sed -n 's/^set(QZLIB_LAYERS \(.*\))$/\1/p' CMakeLists.txt)
[ -n "$layers" ] || { echo "check_layers.sh: no QZLIB_LAYERS in CMakeLists.txt" >&2; exit 2; }
declare -A rank layer_of
r=0
for layer in $layers; do
  for folder in $(sed -n "s/^set(QZLIB_${layer}_FOLDERS \(.*\))\$/\1/p" CMakeLists.txt); do
    rank[$folder]=$r
    layer_of[$folder]=$layer
  done
  r=$((r + 1))
done

bad=0
# A folder that no layer lists.
for dir in qzlib/*/; do
  folder=$(basename "$dir")
  if [ -z "${rank[$folder]+x}" ]; then
    echo "qzlib/$folder: a folder in no layer (add it to a QZLIB_<layer>_FOLDERS list)"
    bad=1
  fi
done

# Every include line of every engine source.
while IFS= read -r hit; do
  file=${hit%%:*}
  rest=${hit#*:}
  line=${rest%%:*}
  text=${rest#*:}
  from=${file#qzlib/}
  from=${from%%/*}
  [ -n "${rank[$from]+x}" ] || continue  # reported above
  target=$(printf '%s\n' "$text" | sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]\([^>"]*\)[>"].*/\1/p')
  case "$target" in
    qzlib/*)
      to=${target#qzlib/}
      to=${to%%/*}
      if [ -z "${rank[$to]+x}" ]; then
        echo "$file:$line: includes $target, a folder in no layer"
        bad=1
      elif [ "${rank[$to]}" -gt "${rank[$from]}" ]; then
        echo "$file:$line: includes $target (layer ${layer_of[$to]}) from layer ${layer_of[$from]}"
        bad=1
      fi
      ;;
    tests/* | bench/* | demo/* | examples/* | fuzz/*)
      echo "$file:$line: includes $target, outside the engine"
      bad=1
      ;;
  esac
done < <(grep -rn --include='*.h' --include='*.cpp' --include='*.inl' -E '^[[:space:]]*#[[:space:]]*include' qzlib)

if [ $bad -ne 0 ]; then
  echo "layer check failed: a layer may include only its own and lower layers' folders" >&2
  exit 1
fi
echo "layer check passed: $(printf '%s\n' $layers | wc -l) layers, no include reaches upward"
