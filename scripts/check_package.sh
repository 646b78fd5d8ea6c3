#!/usr/bin/env bash
# check_package.sh BUILD_DIR: installs the engine from BUILD_DIR into BUILD_DIR/package-check,
# compiles every installed header on its own (C++17, the package's floor), builds examples/ as an
# outside project against the installed package (find_package(QzLib CONFIG)) and runs its programs
# on the test data the build uses (ENGINE_TESTDATA_DIR in its cache); then runs the README's
# install recipe and builds and checks its code blocks against that install (check_readme.sh, in
# BUILD_DIR/readme).
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
stage=$build/package-check
data=$(sed -n 's/^ENGINE_TESTDATA_DIR:PATH=//p' "$build/CMakeCache.txt")
prefix=$stage/prefix
rm -rf "$stage"
cmake --install "$build" --prefix "$prefix" > /dev/null
inc=$prefix/include
headers=$(cd "$inc" && find qzlib -name '*.h' | sort)
for h in $headers; do
  printf '#include <%s>\n' "$h" | ${CXX:-c++} -std=c++17 -fsyntax-only -I"$inc" -x c++ - ||
    { echo "installed header $h does not compile on its own" >&2; exit 1; }
done
echo "$(echo "$headers" | wc -l) installed headers compile on their own"
cmake -S "$root/examples" -B "$stage/examples" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" > /dev/null
cmake --build "$stage/examples" > /dev/null
mkdir -p "$stage/run"
cd "$stage/run"
"$stage/examples/qzlib_example_draw_and_save" "$data/images/png/basn6a08.png" example.png
"$stage/examples/qzlib_example_models" "$data" .
echo "outside project built against $prefix and ran: $stage/run/example.png, tiger.png, gene.png, mqo.png"
bash "$root/scripts/check_readme.sh" "$data" "$build/readme"
