#!/usr/bin/env bash
# check_readme.sh DATA OUT [README]: the README's code blocks, run as a user pastes them.
# - The install recipe runs from the repository's root, with OUT/engine for its build folder and
#   OUT/prefix for /opt/qzlib (the engine build is kept between runs: the next one is quicker).
# - Each C++ block becomes the body of main() in a program that includes <cstring> and
#   <qzlib/qzlib.h>, built with -Wall -Wextra -Werror as an outside project whose CMake lines
#   are the README's own, against that install.
# - Each program runs in a scratch folder holding the files it names (from the test data in
#   DATA); it must exit with 0 and leave a log whose last line holds no block. The MEMIMG block
#   runs in both modes, its picture checked pixel by pixel against the rules of
#   docs/pixel-rules.md (scripts/pixel_rules); the replay block's picture must show the model.
# - Then the pixel-rules program, built against the same install, compares every rule of
#   docs/pixel-rules.md with the drawers, and draws every value that the page and the README's
#   rule paragraphs state (each a quoted example; a value without one fails it).
set -euo pipefail
data=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
readme=${3:-$root/README.md}
rm -rf "$out/src" "$out/build" "$out/run" "$out/prefix"
mkdir -p "$out/src"

# The first indented code block after the README line that begins with $1, unindented.
block() {
  awk -v anchor="$1" '
    !found { found = index($0, anchor) == 1; next }
    /^    / { started = 1; print substr($0, 5); next }
    started && /^ *$/ { print ""; next }
    started { exit }' "$readme" | grep . ||
    { echo "README: no code block after the line \"$1\"" >&2; return 1; }
}
install=$(block 'or install it and find the package:')
memimg=$(block '## Drawing into a MEMIMG of your own')
start3d=$(block '**Start in 3-D mode.**')
replay=$(block 'To see a picture, replay the snapshots')

# The install recipe: its shell lines, then its CMake lines for a program of ours.
recipe=$(sed '/^# in your CMakeLists.txt/,$d' <<< "$install")
recipe=${recipe//build\/install/$out/engine}
(cd "$root" && bash -eo pipefail -c "${recipe//\/opt\/qzlib/$out/prefix}") > "$out/install.log" 2>&1 ||
  { cat "$out/install.log" >&2; echo "README: the install recipe failed" >&2; exit 1; }
steps=$(sed -n 's/^\[[1-9][0-9]*\/\([0-9]*\)\].*/\1/p' "$out/install.log" | tail -n 1)
echo "README install recipe: ${steps:-no} build steps, installed into $out/prefix"
usage=$(sed '1,/^# in your CMakeLists.txt/d' <<< "$install")

# program NAME BODY [INCLUDE]: BODY as main() of NAME.cpp.
program() {
  { echo '#include <cstring>'; echo '#include <qzlib/qzlib.h>'; [ -z "${3:-}" ] || echo "$3"
    echo 'int main() {'; printf '%s\n' "$2"; echo '}'; } > "$out/src/$1.cpp"
}
program memimg "$memimg"
program memimg_3d "SetUse3DFlag(1);
$memimg"
# The 3-D start, its "..." a model of the test data loaded, looked at and pictured by the replay
# block.
model=$(printf '%s\n' 'const int W = 640, H = 480;' 'int h = MV1LoadModel("model.x");' \
        'if (h < 0) return 2;' 'SetCameraNearFar(0.1f, 100.0f);' \
        'SetCameraPositionAndTargetUpVecY(VECTOR{-1.5f, 1.2f, -3.0f}, VECTOR{0, 0, 0});' \
        "$replay")
program models "$(while IFS= read -r line; do
  if [ "$line" = ... ]; then printf '%s\n' "$model"; else printf '%s\n' "$line"; fi
done <<< "$start3d")" '#include "d3d_replay.h"'

cp "$root/examples/support/d3d_replay.h" "$root/examples/support/d3d_replay.cpp" "$out/src/"
cat > "$out/src/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.21)
project(ReadmeBlocks LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_EXTENSIONS OFF)
add_compile_options(-Wall -Wextra -Werror)
add_executable(my_program memimg.cpp)
set_target_properties(my_program PROPERTIES OUTPUT_NAME memimg)
$usage
add_executable(memimg_3d memimg_3d.cpp)
add_executable(models models.cpp d3d_replay.cpp)
foreach(program memimg_3d models)
  target_link_libraries(\${program} PRIVATE qzlib::engine)
endforeach()
EOF
cmake -S "$out/src" -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$out/prefix" > "$out/configure.log" 2>&1 ||
  { cat "$out/configure.log" >&2; exit 1; }
cmake --build "$out/build" > "$out/build.log" 2>&1 || { cat "$out/build.log" >&2; exit 1; }
rules=$out/pixel_rules
cmake -S "$root/scripts/pixel_rules" -B "$rules" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$out/prefix" > "$out/rules-configure.log" 2>&1 &&
  cmake --build "$rules" > "$out/rules-build.log" 2>&1 ||
  { cat "$out/rules-configure.log" "$out/rules-build.log" >&2; exit 1; }

# run NAME "PICTURE [SPRITE]" NAME=DATAFILE...: runs NAME in a folder of its own holding the files
# given, then checks its exit status, its log and its picture (pixel_rules).
failed=0
run() {
  local name=$1 pictures=$2 dir=$out/run/$1 status=0 last
  shift 2
  mkdir -p "$dir"
  for file in "$@"; do cp "$data/${file#*=}" "$dir/${file%%=*}"; done
  (cd "$dir" && "$out/build/$name") || status=$?
  echo "README block $name: exit status $status"
  last=$( { tail -n 1 "$dir/Log.txt" 2> /dev/null || echo none; } | tr -d '\r')
  echo "  the log ends: ${last#*:}"
  [[ $status -eq 0 && $last == *"Blocks held: 0, bytes held: 0" ]] || failed=1
  # shellcheck disable=SC2086  # the picture and the sprite, two arguments
  (cd "$dir" && "$rules/pixel_rules" $pictures) || { echo "  the picture is wrong"; failed=1; }
}
run memimg "canvas.png sprite.png" sprite.png=images/png/basn6a08.png
run memimg_3d "canvas.png sprite.png" sprite.png=images/png/basn6a08.png
run models model.png model.x=models/x/tiger.x tiger.bmp=models/x/tiger.bmp
[ "$failed" -eq 0 ] || { echo "README blocks: FAILED (above)" >&2; exit 1; }
mkdir -p "$out/run/pixel_rules"
(cd "$out/run/pixel_rules" && "$rules/pixel_rules" --readme "$readme") ||
  { echo "docs/pixel-rules.md: the drawers differ from the page, or a value on it or in the README is not drawn (above)" >&2; exit 1; }
