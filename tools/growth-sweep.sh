#!/bin/bash
# Growth of vesk's work and memory with its input: each family of inputs
# (tools/growth_inputs.cpp) is written at two sizes (or as many as the
# family's FIRSTxK says), each four times the one before, and vesk runs on
# each. A family fails when its user time grows
# more than 6 times, or when a run's peak resident memory breaks its goal:
# 64 MB carving, twice the input plus 16 MB on lists, 16 MB reading small
# link files. Prints one row per run and exits 1 when a family fails.
#
# Usage: tools/growth-sweep.sh BUILD_DIR     (a Release build; vesk and
#        vesk_growth_inputs are built there when missing)
# VESK=path measures that program instead of the one built (the inputs
# still come from BUILD_DIR). FAMILIES="a b" runs only those ("held": only
# the held road against the copy, at the end); a run is stopped after
# GROWTH_TIMEOUT seconds (default 120) and fails.
set -euo pipefail
build=${1:?usage: growth-sweep.sh BUILD_DIR}
cmake --build "$build" --target vesk vesk_growth_inputs > /dev/null
vesk=${VESK:-$build/jumplist/vesk}
gen=$build/vesk_growth_inputs
tmp=$(mktemp -d "${TMPDIR:-/tmp}/growth.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
rc=0
limit_s=${GROWTH_TIMEOUT:-120}

# family, first size, goal (carve: 64 MB; list: 2 x input + 16 MB; none: 16 MB), vesk options.
families=(
  "falselnk4k 16 carve"
  "falselnk1m 64 carve"
  "falsecfb 64 carve"
  "links 64 carve"
  "oddlists 32 list"
  "nested 7 carve"
  "packed 160 list"
  "dense 64x3 carve"
  "interleaved 400 list"
  "padded 4 list"
  "automatic 5000 list"
  "carvedlist 16384 carve"
  "nestedlist 16384 carve"
  "custom 20000 list"
  "slack 20000 list -slack"
  "pipe 2000 none -pipe"
  "falsedifat 64x4 carve"
  "falsedifatm 64x4 carve"
  "ministream 1000x4 list"
  "vistaitems 50000x4 list"
  "vistapath 52000x4 list"
  "quotes 500 list"
  "controls 500 list"
)

# Runs vesk on an input; sets user (seconds), peak (KiB), bytes, records.
measure() {  # input options...
  local input=$1; shift
  local status
  timed_out=0
  set +e
  if [ "${1:-}" = -pipe ]; then
    timeout "$limit_s" /usr/bin/time -o "$tmp/time" -f '%U %M' "$vesk" -quiet -csv "$@" \
      < "$input.list" \
      > "$tmp/out" 2> "$tmp/err"
    status=$?
    bytes=$(du -sb "$input" | cut -f1)
  else
    timeout "$limit_s" /usr/bin/time -o "$tmp/time" -f '%U %M' "$vesk" -quiet -csv "$@" "$input" \
      > "$tmp/out" 2> "$tmp/err"
    status=$?
    bytes=$(stat -c %s "$input")
  fi
  set -e
  if [ "$status" -eq 124 ]; then
    echo "vesk ran past ${limit_s} s on $input" >&2
    user=$limit_s peak=0 records=0 timed_out=1
    rc=1
    return
  fi
  read -r user peak < <(tail -n 1 "$tmp/time")
  # The run header (3 lines), its empty line and the column names.
  records=$(($(wc -l < "$tmp/out") - 5))
  [ "$records" -lt 0 ] && records=0
  # 2: read, with damage noted (the junk of random data); anything else fails.
  if [ "$status" -ne 0 ] && [ "$status" -ne 2 ]; then
    echo "vesk failed ($status) on $input:" >&2
    head -n 5 "$tmp/err" >&2
    rc=1
  fi
}

# Whether user time B grew more than 6 times A; times below 0.1 s are
# start-up, clock ticks and noise (a run of 0.04 s reads 0.06 s the next
# time), counted as 0.1 s.
grew() {  # A B
  awk -v a="$1" -v b="$2" 'BEGIN { if (a < 0.1) a = 0.1; if (b < 0.1) b = 0.1; exit !(b > 6 * a) }'
}

# The least user time of three runs of vesk on an input.
best_user() {  # input options...
  local b="" t
  for _ in 1 2 3; do
    measure "$@"
    t=$user
    if [ -z "$b" ] || awk -v a="$t" -v b="$b" 'BEGIN { exit !(a < b) }'; then b=$t; fi
  done
  echo "$b"
}

prev_input=""
printf '%-12s %7s %11s %8s %9s %9s %9s  %s\n' family N bytes records "user s" "peak MB" "goal MB" verdict
for entry in "${families[@]}"; do
  read -r family first goal options <<< "$entry"
  [ -n "${FAMILIES:-}" ] && [[ " $FAMILIES " != *" $family "* ]] && continue
  prev_user=""
  # FIRSTxK: K sizes, each four times the one before (two by default).
  sizes=$first
  if [[ $first == *x* ]]; then
    count=${first#*x} first=${first%x*} sizes=$first
  else
    count=2
  fi
  for ((k = 1; k < count; k++)); do sizes="$sizes $((first * 4 ** k))"; done
  for n in $sizes; do
    input=$tmp/$family-$n
    "$gen" "$family" "$n" "$input"
    # shellcheck disable=SC2086
    measure "$input" $options
    case $goal in
      none) limit=16 ;;
      carve) limit=64 ;;
      list) limit=$((2 * bytes / 1000000 + 16)) ;;
    esac
    peak_mb=$((peak * 1024 / 1000000))
    verdict=ok
    if [ "$timed_out" -eq 1 ]; then
      verdict="FAIL: ran past ${limit_s} s"
    elif [ "$peak_mb" -gt "$limit" ]; then
      verdict="FAIL: memory past the goal"
      rc=1
    fi
    if [ -n "$prev_user" ] && [ "$timed_out" -eq 0 ] && grew "$prev_user" "$user"; then
      # One run's user time swings with the machine's load: a growth is
      # judged on the best of three runs at both sizes.
      # shellcheck disable=SC2086
      user=$(best_user "$input" $options)
      # shellcheck disable=SC2086
      prev_user=$(best_user "$prev_input" $options)
      if grew "$prev_user" "$user"; then
        verdict="FAIL: user time grew more than 6x"
        rc=1
      fi
    fi
    printf '%-12s %7s %11s %8s %9s %9s %9s  %s\n' "$family" "$n" "$bytes" "$records" "$user" \
      "$peak_mb" "$limit" "$verdict"
    prev_user=$user
    # The smaller input is kept until the next size is judged against it.
    [ -n "$prev_input" ] && rm -rf "$prev_input" "$prev_input.list"
    prev_input=$input
  done
  rm -rf "$prev_input" "$prev_input.list"
  prev_input=""
done

# The held road against the copy: links whose descriptions, full of quotes
# or of control characters, a report holds (72,000 bytes) or copies (64,000
# bytes), in each form; the best of three user times of each, and the held
# road's time per byte over the copy's. Measured, not judged.
if [ -z "${FAMILIES:-}" ] || [[ " $FAMILIES " == *" held "* ]]; then
  best() {  # input options...: the least user time of three runs
    local input=$1 b="" t
    shift
    for _ in 1 2 3; do
      /usr/bin/time -o "$tmp/time" -f '%U' "$vesk" -quiet "$@" "$input" > /dev/null 2>&1 || true
      t=$(tail -n 1 "$tmp/time")
      if [ -z "$b" ] || awk -v a="$t" -v b="$b" 'BEGIN { exit !(a < b) }'; then b=$t; fi
    done
    echo "$b"
  }
  printf '\n%-9s %5s %-32s %8s %8s %14s\n' texts N form "held s" "copy s" "held/copy/byte"
  for kind in quotes controls; do
    for n in 500 2000; do
      "$gen" "$kind" "$n" "$tmp/held"
      "$gen" "${kind}copy" "$n" "$tmp/copy"
      for form in "-csv" "-csvl2t" "-csv -enable_quoted_csv_fields"; do
        # shellcheck disable=SC2086
        held=$(best "$tmp/held" $form)
        # shellcheck disable=SC2086
        copy=$(best "$tmp/copy" $form)
        ratio=$(awk -v h="$held" -v c="$copy" \
          'BEGIN { if (c < 0.01) c = 0.01; if (h < 0.01) h = 0.01; printf "%.2f", (h / 72000) / (c / 64000) }')
        printf '%-9s %5s %-32s %8s %8s %14s\n' "$kind" "$n" "$form" "$held" "$copy" "$ratio"
      done
      rm -f "$tmp/held" "$tmp/copy"
    done
  done
fi
exit $rc
