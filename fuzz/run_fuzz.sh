#!/usr/bin/env bash
# Builds the fuzz targets into fuzz/out/ and runs each for the given number of seconds
# (default 20), starting from a scratch copy of its seed corpus in fuzz/corpus/<target>/.
# Exits non-zero when a target fails to build or finds a crash.
set -u
seconds=${1:-20}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
out=$here/out
mkdir -p "$out"

cxx=${CXX_FUZZ:-clang++}
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -I"$root")
sources=("$root/app/texts.cpp" "$root/protocol/device_info.cpp" "$root/protocol/compat.cpp"
         "$root/files/fit_path.cpp" "$root/files/file_filter.cpp"
         "$root/platform/text_convert.cpp" "$root/platform/transfer.cpp" "$root/ports/com_name.cpp"
         "$root/records/json.cpp" "$root/records/json_reader.cpp" "$root/records/record_line.cpp"
         "$root/protocol/firmware_id.cpp"
         "$root"/report/*.cpp)
targets=(device_info_fuzz compat_fuzz fit_path_fuzz record_fuzz)

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

status=0
summary=()
for t in "${targets[@]}"; do
    echo "== building $t"
    if ! "$cxx" "${flags[@]}" "$here/$t.cpp" "${sources[@]}" -o "$out/$t"; then
        echo "== $t: build failed"
        status=1
        summary+=("$t: build failed")
        continue
    fi
    work=$out/corpus/$t
    rm -rf "$work" "$out/artifacts/$t"
    mkdir -p "$work" "$out/artifacts/$t"
    if [ -d "$here/corpus/$t" ]; then cp -r "$here/corpus/$t/." "$work/"; fi
    extra=()
    [ "$t" = fit_path_fuzz ] && extra=(-max_len=2050)
    echo "== running $t for $seconds s"
    "$out/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 \
        -artifact_prefix="$out/artifacts/$t/" "${extra[@]}" "$work" >"$out/$t.log" 2>&1
    rc=$?
    runs=$(grep -Eo 'Done [0-9]+ runs' "$out/$t.log" | tail -1 | grep -Eo '[0-9]+')
    if [ $rc -ne 0 ]; then
        status=1
        tail -40 "$out/$t.log"
        summary+=("$t: FAILED (exit $rc), artifacts in $out/artifacts/$t/")
    else
        summary+=("$t: clean, ${runs:-?} runs in $seconds s")
    fi
done

echo "== summary"
printf '%s\n' "${summary[@]}"
exit $status
