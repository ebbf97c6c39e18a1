#!/usr/bin/env bash
# Builds the engine's libFuzzer targets with clang-14 into build-fuzz/ and runs each for SECONDS
# on a scratch copy of its committed corpus, which therefore never grows here. Exits non-zero on
# any finding (crash, sanitizer report, leak, timeout, memory blow-up); the input that caused it
# is kept in build-fuzz/findings/.
#   fuzz/run.sh SECONDS
set -euo pipefail

seconds=${1:?usage: fuzz/run.sh SECONDS}
case $seconds in
'' | *[!0-9]*) echo "SECONDS must be a whole number" >&2 && exit 2 ;;
esac

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
build=$repo/build-fuzz

fuzzer_runtime() {
    local lib
    lib=$(clang-14 -print-file-name=libclang_rt.fuzzer-x86_64.a 2>/dev/null || true)
    [ -n "$lib" ] && [ -f "$lib" ] && return 0
    compgen -G "/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null
}

if ! command -v clang++-14 >/dev/null || ! fuzzer_runtime; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
        clang-14 libclang-rt-14-dev
fi

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14
cmake --build "$build" -j2

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/findings"

status=0
# Access-made databases seed the file target at run time only: they belong to other projects and
# never enter the committed corpus.
samples="${PATCH16_JET_SAMPLES:-$repo/../shared/jet-samples}"
mkdir -p "$scratch/access-seeds"
if [ -d "$samples" ]; then
    find "$samples" -name '*.mdb' -size -257k -exec cp {} "$scratch/access-seeds/" \;
fi

run() {
    local name=$1 seeds=$2
    shift 2
    mkdir -p "$scratch/$name"
    cp "$here/corpus/$name/." "$scratch/$name/" -r
    echo "== fuzz_$name for ${seconds}s"
    if ! "$build/fuzz_$name" "$scratch/$name" $seeds -max_total_time="$seconds" -rss_limit_mb=2048 \
        -timeout=10 -print_final_stats=1 -artifact_prefix="$build/findings/$name-" "$@" \
        >"$build/fuzz_$name.log" 2>&1; then
        echo "fuzz_$name: FINDING (see $build/fuzz_$name.log and $build/findings/)" >&2
        tail -n 60 "$build/fuzz_$name.log" >&2
        status=1
    fi
    grep -E "^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units)" "$build/fuzz_$name.log" || true
}

run jet_sql "" -dict="$here/jet_sql.dict" -max_len=4096
run open_file "$scratch/access-seeds" -max_len=262144
exit $status
