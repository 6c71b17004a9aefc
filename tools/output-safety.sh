#!/usr/bin/env bash
# The evidence-safety check: every option of vesk that writes a file (-out,
# -outfile, -diags), pointed at each kind of target, must leave every input
# as it was (a digest of each before and after), keep an earlier report when
# the run fails, leave no unfinished file behind, and end with the status and
# message README.md gives. Prints one table row per target and option; fails
# on any changed input, lost report, file left behind or other status or
# message.
#
# usage: tools/output-safety.sh path/to/vesk
set -uo pipefail

vesk=$(realpath "${1:?usage: $0 path/to/vesk}")
here=$(cd "$(dirname "$0")/.." && pwd)
example="$here/examples/5f7b5f1e01b83767.automaticDestinations-ms"
[ -f "$example" ] || { echo "output-safety: $example is missing" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vesk-output-safety-XXXXXX")
mounted=""
cleanup() {
  [ -n "$mounted" ] && umount "$mounted" 2>/dev/null
  chmod -R u+w "$work" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1
chmod 755 "$work"

# The inputs: one named file, a walked folder, a file named on -pipe input,
# and links to the named file.
mkdir -p in/w in/p
cp "$example" in/one.ms
cp "$example" in/w/a.ms
cp "$example" in/w/b.lnk
cp "$example" in/p/c.ms
ln -s one.ms in/soft.ms
ln in/one.ms in/hard.ms
chmod -R a+rX in

digest() { (cd in && find . -type f -print0 | sort -z | xargs -0 sha256sum); }
temps() { find "$work" -name '.vesk-report-*' 2>/dev/null | grep -c . ; }

failures=0
printf '%-28s %-9s %-6s %-66s %-6s %-9s %-7s %s\n' target option status message inputs report no-temp result
row() {  # target option status message inputs report notemp ok
  printf '%-28s %-9s %-6s %-66s %-6s %-9s %-7s %s\n' "$1" "$2" "$3" "${4:0:66}" "$5" "$6" "$7" "$8"
}

# check TARGET-KIND OPTION WANT-STATUS WANT-MESSAGE REPORT-FILE KEEP
#        -- command words...
# WANT-MESSAGE: an extended regular expression for the whole of standard
# error, its lines joined by " // ".
# REPORT-FILE: a file holding an earlier report that must survive (KEEP=kept)
# or be replaced by a whole report (KEEP=replaced); "-" for none.
check() {
  local kind=$1 option=$2 want_status=$3 want_msg=$4 report=$5 keep=$6
  shift 7
  local before after status msg inputs="yes" kept="-" notemp="yes" ok="ok"
  [ "$report" != "-" ] && [ "$keep" = kept ] && printf 'earlier report\n' >"$report"
  before=$(digest)
  timeout 120 "$@" >out.txt 2>err.txt
  status=$?
  # A report or log the run said it left beside a listed input is its own,
  # neither an input nor a file left behind.
  local beside
  beside=$(sed -n 's/^\(report\|diagnostics log\) written to \(.*\): the output file .*/\2/p' err.txt)
  [ -n "$beside" ] && rm -f -- "$beside"
  after=$(digest)
  msg=$(sed -e ':a' -e 'N' -e '$!ba' -e 's/\n/ \/\/ /g' err.txt)
  [ "$before" = "$after" ] || { inputs="NO"; ok="FAIL"; }
  if [ "$report" != "-" ]; then
    if [ "$keep" = kept ]; then
      if [ "$(cat "$report" 2>/dev/null)" = "earlier report" ]; then kept="kept"; else kept="LOST"; ok="FAIL"; fi
    else
      if head -c 15 "$report" 2>/dev/null | grep -q '^vesk ver: \|^->'; then kept="replaced"; else kept="NOT-NEW"; ok="FAIL"; fi
    fi
  fi
  [ "$(temps)" = 0 ] || { notemp="NO"; ok="FAIL"; find "$work" -name '.vesk-report-*' -delete; }
  [ "$status" = "$want_status" ] || ok="FAIL"
  if [ -n "$want_msg" ] || [ -n "$msg" ]; then
    printf '%s\n' "$msg" | grep -Eqx -- "$want_msg" || ok="FAIL"
  fi
  row "$kind" "$option" "$status" "${msg:-(none)}" "$inputs" "$kept" "$notemp" "$ok"
  [ "$ok" = ok ] || { failures=$((failures + 1)); echo "  wanted status $want_status, message /$want_msg/" >&2; }
}

refused='output file is the input file: %s'
for option in -out -outfile -diags; do
  what=report
  [ "$option" = -diags ] && what="diagnostics log"
  for t in in/one.ms in/soft.ms in/hard.ms; do
    kind="named input"
    [ "$t" = in/soft.ms ] && kind="symbolic link to the input"
    [ "$t" = in/hard.ms ] && kind="hard link to the input"
    check "$kind" "$option" 255 "$(printf "$refused" "$t")" - - -- \
      "$vesk" -quiet in/one.ms "$option" "$t"
  done
  check "file of the walked folder" "$option" 1 \
    "$(printf "$refused" in/w/b.lnk), skipped // $what written to .*: the output file in/w/b.lnk is an input of the run and was left as it was" \
    - - -- "$vesk" -quiet -enumdir in/w "$option" in/w/b.lnk
  check "file named on -pipe input" "$option" 1 \
    "$(printf "$refused" in/p/c.ms), skipped // $what written to .*: the output file in/p/c.ms is an input of the run and was left as it was" \
    - - -- sh -c 'printf "in/p/c.ms\nin/w/a.ms\n" | "$0" -quiet -pipe "$1" in/p/c.ms' "$vesk" "$option"
  check "symbolic link, listed" "$option" 1 \
    "$(printf "$refused" in/one.ms), skipped // $what written to .*: the output file in/soft.ms is an input of the run and was left as it was" \
    - - -- sh -c 'printf "in/one.ms\nin/w/a.ms\n" | "$0" -quiet -pipe "$1" in/soft.ms' "$vesk" "$option"
  check "hard link, listed" "$option" 1 \
    "$(printf "$refused" in/one.ms), skipped // $what written to .*: the output file in/hard.ms is an input of the run and was left as it was" \
    - - -- sh -c 'printf "in/one.ms\nin/w/a.ms\n" | "$0" -quiet -pipe "$1" in/hard.ms' "$vesk" "$option"

  rm -f fifo got.txt && mkfifo fifo
  check "FIFO" "$option" 0 "" - - -- \
    sh -c 'cat fifo >got.txt & "$0" -quiet in/one.ms "$1" fifo >/dev/null; s=$?; exec 3<>fifo 3>&-; wait; grep -q "^\(vesk ver: \|->\)" got.txt || s=99; exit $s' "$vesk" "$option"
  check "/dev/null" "$option" 0 "" - - -- "$vesk" -quiet in/one.ms "$option" /dev/null

  check "earlier report, run fails" "$option" 255 \
    "can't read specified file: in/missing.ms \(No such file or directory\), aborting" \
    earlier.txt kept -- "$vesk" -quiet in/missing.ms "$option" earlier.txt
  mkdir -p empty
  check "earlier report, empty folder" "$option" 255 "nothing read: no files in empty at depth 0" \
    earlier.txt kept -- "$vesk" -quiet -enumdir empty "$option" earlier.txt

  # A read-only folder: a new file is refused there, a writable report in it
  # is replaced (through a file elsewhere). Root writes every folder, so a
  # plain user runs it when there is one to be had.
  rm -rf ro && mkdir ro && printf 'earlier report\n' >ro/r.txt
  if [ "$(id -u)" = 0 ]; then
    if command -v setpriv >/dev/null && setpriv --reuid=65534 --regid=65534 --clear-groups true 2>/dev/null; then
      chown 65534:65534 ro/r.txt
      chmod 555 ro
      check "read-only folder, new file" "$option" 255 \
        "$( [ "$option" = -diags ] && echo "can't write diagnostics log: ro/new.txt \(Permission denied\) // can't read specified file: in/missing.ms \(No such file or directory\), aborting" || echo "prob opening file ro/new.txt for output \(Permission denied\), aborting")" \
        - - -- setpriv --reuid=65534 --regid=65534 --clear-groups "$vesk" -quiet in/missing.ms "$option" ro/new.txt
      check "read-only folder, own report" "$option" 0 "" ro/r.txt replaced -- \
        env TMPDIR=/tmp setpriv --reuid=65534 --regid=65534 --clear-groups "$vesk" -quiet in/one.ms "$option" ro/r.txt
    else
      row "read-only folder" "$option" - "skipped: no plain user to run as (setpriv)" - - - skip
    fi
  else
    chmod 555 ro
    check "read-only folder, own report" "$option" 0 "" ro/r.txt replaced -- \
      "$vesk" -quiet in/one.ms "$option" ro/r.txt
  fi
  chmod 755 ro

  # A full file system: a small tmpfs, when root and mount allow one.
  mkdir -p full
  if [ "$(id -u)" = 0 ] && mount -t tmpfs -o size=64k tmpfs full 2>/dev/null; then
    mounted="$work/full"
    printf 'earlier report\n' >full/r.txt
    head -c 1048576 /dev/zero >full/fill 2>/dev/null
    if [ "$option" = -diags ]; then
      check "full file system" "$option" 0 \
        "can't write diagnostics log: full/r.txt \(No space left on device\): full/r.txt was left as it was" \
        full/r.txt kept -- "$vesk" -quiet in/one.ms "$option" full/r.txt
    else
      check "full file system" "$option" 255 \
        "prob writing results to full/r.txt \(No space left on device\): full/r.txt was left as it was" \
        full/r.txt kept -- "$vesk" -quiet in/one.ms "$option" full/r.txt
    fi
    umount full && mounted=""
  else
    row "full file system" "$option" - "skipped: no small file system (needs root and mount)" - - - skip
  fi
done

if [ "$failures" -ne 0 ]; then
  echo "output-safety: $failures case(s) failed" >&2
  exit 1
fi
echo "output-safety: every input unchanged, every earlier report kept, nothing left behind"
