#!/bin/sh
# Builds the menu-file fuzz target with clang and runs it for a bounded time.
#   tests/fuzz/run.sh [seconds, default 60] [build directory, default build-fuzz]
# QEL_FUZZ_NO_BUILD=1 runs an already built target (CTest does so in the fuzz build directory).
# Exits non-zero when the target finds a crash, a hang or a broken property; the input that
# did it is left in the build directory as crash-*, timeout-* or leak-*.
set -eu
seconds=${1:-60}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${2:-$root/build-fuzz}

if [ "${QEL_FUZZ_NO_BUILD:-0}" != 1 ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQEL_FUZZ=ON >/dev/null
    cmake --build "$build" --target fuzz_menu_file -j2
fi

# New inputs go to a scratch corpus; the seeds in the tree stay as they are.
corpus="$build/fuzz-corpus/menu_file"
mkdir -p "$corpus"
cd "$build"
exec "$build/fuzz_menu_file" -max_total_time="$seconds" -timeout=5 -max_len=8192 \
    -rss_limit_mb=1024 -print_final_stats=1 -dict="$root/tests/fuzz/menu_file.dict" \
    "$corpus" "$root/tests/fuzz/corpus"
