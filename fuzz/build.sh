#!/bin/sh
# Builds the fuzz targets with clang, ASan, UBSan and libFuzzer into
# build-fuzz/clang, then writes the seed corpora into build-fuzz/corpus.
#
#   fuzz/build.sh            build and make seeds
#   fuzz/build.sh --no-seeds build only
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build-fuzz/clang"
corpus="$root/build-fuzz/corpus"
fixture="$root/../shared/fixtures/savedmodels/half_plus_two_tf2"

cmake -S "$root/fuzz" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14
cmake --build "$out" --target saved_model_fuzzer checkpoint_fuzzer make_seeds -j"${JOBS:-2}"

if [ "${1:-}" != "--no-seeds" ]; then
  mkdir -p "$corpus/saved_model" "$corpus/checkpoint"
  models=""
  [ -d "$fixture" ] && models="$fixture"
  # The seeds only have to exist; leaks in the writer are not what is fuzzed.
  ASAN_OPTIONS=detect_leaks=0 "$out/make_seeds" "$corpus/saved_model" "$corpus/checkpoint" $models
fi
echo "fuzzers: $out/saved_model_fuzzer $out/checkpoint_fuzzer"
