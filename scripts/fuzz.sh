#!/usr/bin/env bash
# Builds the decoder fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer), makes small starting files for each type from
# generated audio and the real-world corpus (tools/make_corpus), and runs every
# target for SECONDS (default 30). Fails when any target finds a crash, a hang, a
# leak or a sanitizer report; what it found is kept under build/fuzz/artifacts/<type>/,
# the grown corpus under build/fuzz/corpus/<type>/.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
root="$PWD"
dir="${TONARIA_FUZZ_DIR:-$root/build/fuzz}"

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTONARIA_BUILD_FUZZ=ON -DTONARIA_BUILD_TESTS=OFF -DTONARIA_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$dir" -j2 --target fuzz_all make_corpus
read -r -a types < <(tr ';' ' ' < "$dir/fuzz/fuzz_types.txt")
if [ ${#types[@]} -eq 0 ]; then
  echo "fuzz: no decoder exists yet"
  exit 0
fi

# Starting files: short and low-rate, so that each run reaches deep quickly.
work="$dir/work"
rm -rf "$work"
mkdir -p "$work"
sox -q -n -r 11025 -c 1 -b 16 "$work/mono.wav" synth 1 sine 440 gain -3
sox -q -n -r 22050 -c 2 -b 16 "$work/stereo.wav" synth 0.5 sine 300 sine 500 gain -3
sox -q -n -r 8000 -c 6 -b 16 "$work/six.wav" synth 0.2 sine 200 gain -3
sox -q -n -r 8000 -c 1 -b 8 "$work/u8.wav" synth 0.2 sine 200
sox -q -n -r 8000 -c 2 -b 24 "$work/s24.wav" synth 0.2 sine 200
sox -q -n -r 8000 -c 1 -e floating-point -b 32 "$work/f32.wav" synth 0.2 sine 200
# Files as people have them (tags, damage, cuts, many channels): the small ones start too.
"$dir/tools/make_corpus" "$work/real" || echo "fuzz: some real-world files were not made"

make_start_files() {
  local type="$1" out="$2"
  mkdir -p "$out"
  find "$work/real" -maxdepth 1 -name "*.$type" -size -100k -exec cp {} "$out/" \;
  case "$type" in
    wav) cp "$work"/*.wav "$out/" ;;
    mp3)
      lame --quiet -b 32 "$work/mono.wav" "$out/mono.mp3"
      lame --quiet -V 6 "$work/stereo.wav" "$out/stereo-vbr.mp3"
      lame --quiet -b 24 --resample 8 --add-id3v2 --tt tag "$work/mono.wav" "$out/id3.mp3" ;;
    ogg)
      oggenc -Q -q 0 -o "$out/mono.ogg" "$work/mono.wav"
      oggenc -Q -q 0 -o "$out/stereo.ogg" "$work/stereo.wav" ;;
    flac)
      flac -s -f -o "$out/mono.flac" "$work/mono.wav"
      flac -s -f -o "$out/stereo.flac" "$work/stereo.wav"
      flac -s -f -o "$out/s24.flac" "$work/s24.wav" 2>/dev/null ;;
    wma)
      ffmpeg -nostdin -v error -y -i "$work/mono.wav" -c:a wmav2 -b:a 32k "$out/mono.wma"
      ffmpeg -nostdin -v error -y -i "$work/stereo.wav" -c:a wmav1 -b:a 64k "$out/stereo.wma" ;;
    ape)
      jmac c1 "$work/mono.wav" "$out/mono.ape" >/dev/null
      jmac c3 "$work/stereo.wav" "$out/stereo.ape" >/dev/null ;;
  esac
}

# Third-party leaks the program cannot avoid (see the file); the program's own are not listed.
export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

failed=()
for type in "${types[@]}"; do
  starts="$work/start-$type"
  make_start_files "$type" "$starts"
  corpus="$dir/corpus/$type"
  artifacts="$dir/artifacts/$type"
  mkdir -p "$corpus" "$artifacts" "$dir/logs"
  log="$dir/logs/$type.log"
  echo "== fuzz_$type for ${seconds}s (log: $log)"
  if "$dir/fuzz/fuzz_$type" "$corpus" "$starts" \
      -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix="$artifacts/" -print_final_stats=1 >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$log" | tr '\n' ' '
    echo
  else
    echo "fuzz_$type FAILED:"
    grep -E -A30 'ERROR: |runtime error|Test unit written|timeout|leak' "$log" | head -60
    failed+=("$type")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: failures in: ${failed[*]}"
  exit 1
fi
echo "fuzz: all targets clean"
