# Sourced by scripts/fuzz and scripts/fuzz-check: where the fuzzers, their
# corpora and their build live, how they are built and run, and how a run's
# log is summed up.
#
# Each tests/fuzz/NAME.cpp is one libFuzzer program, build-fuzz/fuzz_NAME,
# built with clang, AddressSanitizer and UndefinedBehaviorSanitizer (the
# project's default sanitizers; -fno-sanitize-recover makes every report a
# finding). Its committed corpus is tests/data/NAME/: hand-made seeds and
# every past finding (finding-*), which the unit tests replay as well.

fuzz_repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# QV_FUZZ_BUILD names another clang tree configured with -DQV_FUZZ=ON to
# take the fuzzers from: the test command's native tree, which builds them
# beside the unit tests, so the core is compiled once.
fuzz_dir="${QV_FUZZ_BUILD:-$fuzz_repo/build-fuzz}"

# Options of every run: inputs up to 4 KiB, 10 s per input before it counts
# as a hang, 2 GiB of memory before an out-of-memory finding.
fuzz_options=(-max_len=4096 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1)
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"

fuzz_all_names() {
    local f
    for f in "$fuzz_repo"/tests/fuzz/*.cpp; do basename "$f" .cpp; done
}

# Dies unless every name is one of tests/fuzz.
fuzz_check_names() {
    local name
    for name in "$@"; do
        if [ ! -f "$fuzz_repo/tests/fuzz/$name.cpp" ]; then
            echo "fuzz: no fuzzer '$name'; there are: $(fuzz_all_names | tr '\n' ' ')" >&2
            exit 2
        fi
    done
}

# Configures build-fuzz (always with -DQV_FUZZ=ON) and builds the named
# fuzzers' programs only. A tree named by QV_FUZZ_BUILD keeps its own
# configuration.
fuzz_build() {
    local cache="$fuzz_dir/CMakeCache.txt"
    if [ -f "$cache" ] && ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang++' "$cache"; then
        echo "fuzz: $fuzz_dir was configured with another compiler than clang++; remove it first" >&2
        exit 2
    fi
    if [ -n "${QV_FUZZ_BUILD:-}" ]; then
        grep -q '^QV_FUZZ:BOOL=ON' "$cache" 2>/dev/null || {
            echo "fuzz: $fuzz_dir is not a tree configured with -DQV_FUZZ=ON" >&2
            exit 2
        }
    else
        CC=clang CXX=clang++ cmake -S "$fuzz_repo" -B "$fuzz_dir" -DQV_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DCMAKE_CXX_FLAGS=-Wno-unknown-warning-option >/dev/null
    fi
    local targets=() name
    for name in "$@"; do targets+=("fuzz_$name"); done
    cmake --build "$fuzz_dir" --target "${targets[@]}" -j"$(nproc)" >"$fuzz_dir/build.log" 2>&1 || {
        cat "$fuzz_dir/build.log"
        echo "fuzz: building ${targets[*]} failed" >&2
        exit 1
    }
}

# "runs N, cov C, ft F, new U" from a libFuzzer log: the final statistics
# when the run ended by itself, else the last status line before a finding.
fuzz_summary() {
    local log="$1" runs cov ft added
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    [ -n "$runs" ] || runs="$(sed -n 's/^#\([0-9]*\).*cov: .*/\1/p' "$log" | tail -n 1)"
    cov="$(sed -n 's/.* cov: \([0-9]*\) .*/\1/p' "$log" | tail -n 1)"
    ft="$(sed -n 's/.* ft: \([0-9]*\) .*/\1/p' "$log" | tail -n 1)"
    added="$(sed -n 's/^stat::new_units_added: *//p' "$log" | tail -n 1)"
    echo "runs ${runs:-?}, cov ${cov:-?}, ft ${ft:-?}, new ${added:-?}"
}

# The inputs libFuzzer saved as findings in a log, one a line.
fuzz_findings() {
    sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$1"
}
