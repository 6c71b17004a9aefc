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
loopdev=""
cleanup() {
  [ -n "$mounted" ] && umount "$mounted" 2>/dev/null
  [ -n "$loopdev" ] && losetup -d "$loopdev" 2>/dev/null
  chattr -a "$work/ao" 2>/dev/null
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

# Every input's bytes, and its modification and change times.
digest() {
  (cd in && find . -type f -print0 | sort -z | xargs -0 sha256sum &&
    find . -type f -printf '%p %T@ %C@\n' | sort)
}
temps() { find "$work" -name '.vesk-report-*' 2>/dev/null | grep -c . ; }

failures=0
ALSO=""
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
  local report_before=""
  [ "$report" != "-" ] && report_before=$(sha256sum <"$report" 2>/dev/null)
  before=$(digest)
  timeout 120 "$@" >out.txt 2>err.txt
  status=$?
  # A case's own checks (ALSO: shell words that must succeed), made before
  # the look for files left behind: they may remove a file the run named.
  if [ -n "${ALSO:-}" ] && ! eval "$ALSO"; then ok="FAIL"; fi
  ALSO=""
  # A report or log the run said it left beside a listed input is its own,
  # neither an input nor a file left behind.
  local beside
  beside=$(sed -n 's/^\(report\|diagnostics log\) written to \(.*\): \(the output file\|standard output\) .*/\2/p' err.txt)
  [ -n "$beside" ] && rm -f -- "$beside"
  after=$(digest)
  msg=$(sed -e ':a' -e 'N' -e '$!ba' -e 's/\n/ \/\/ /g' err.txt)
  [ "$before" = "$after" ] || { inputs="NO"; ok="FAIL"; }
  if [ "$report" != "-" ]; then
    # old: as it was; whole: the whole new report and nothing of the earlier
    # one (REF_LINES lines, as a run left alone writes); damaged: neither.
    local state=damaged
    if [ "$(sha256sum <"$report" 2>/dev/null)" = "$report_before" ]; then
      state=old
    elif head -c 15 "$report" 2>/dev/null | grep -q '^vesk ver: ' && ! grep -q '^earlier' "$report" &&
      [ "$(wc -l <"$report")" = "${REF_LINES:-}" ]; then
      state=whole
    fi
    if [ "$keep" = kept ]; then
      if [ "$(cat "$report" 2>/dev/null)" = "earlier report" ]; then kept="kept"; else kept="LOST"; ok="FAIL"; fi
    elif [ "$keep" = old ] || [ "$keep" = whole ] || [ "$keep" = damaged ]; then
      kept=$state
      [ "$state" = "$keep" ] || { kept="${state^^}"; ok="FAIL"; }
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

# ---------------------------------------------------------------------------
# A plain user, when root can become one (setpriv).
plain=""
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null &&
  setpriv --reuid=65534 --regid=65534 --clear-groups true 2>/dev/null; then
  plain="setpriv --reuid=65534 --regid=65534 --clear-groups"
fi
skip() { row "$1" "$2" - "skipped: $3" - - - skip; }

# A report of several put areas: 160 lists in one folder. REF_LINES is the
# length of its whole report, as a run left alone writes it.
mkdir -p in/big
for i in $(seq 1 160); do cp "$example" "in/big/$i.ms"; done
chmod -R a+rX in
"$vesk" -quiet -enumdir in/big -out ref.txt
REF_LINES=$(wc -l <ref.txt)
rm -f ref.txt
# An earlier report longer than the new one: what of it is left shows.
earlier_big() { seq -f 'earlier report %g' 1 200000 >"$1"; }

# The two roads of a report: the rename road (F's folder takes a new file)
# and the copy road (a plain user's F in a folder the user may not write: the
# new report is made in $TMPDIR and copied into F).
mkdir -p rr cr tmp
chmod 1777 tmp
road_setup() {  # road
  if [ "$1" = rename ]; then
    earlier_big rr/r.txt
    echo rr/r.txt
  else
    chmod 755 cr
    earlier_big cr/r.txt
    chown 65534:65534 cr/r.txt
    chmod 555 cr
    echo cr/r.txt
  fi
}
road_run() {  # road: the words that run vesk on that road
  if [ "$1" = rename ]; then echo "$vesk"; else echo "env TMPDIR=$work/tmp $plain $vesk"; fi
}

# at-call WHAT SYSCALL WHEN -- command: the command under strace, WHAT
# (signal=SIG: that signal sent to it; error=ERRNO: the call fails so)
# injected at its WHEN-th call of SYSCALL. No clock: the signal comes at that
# call, however loaded the machine.
cat >at-call <<'EOF'
#!/usr/bin/env bash
what=$1 sc=$2 when=$3
shift 4
exec strace -f -qq -o /dev/null -e trace="$sc" -e inject="$sc":"$what":when="$when" "$@"
EOF
# signal-waiting SIG -- command: SIG sent to the command once its two files
# are made and it waits for names on standard input (job control on, so
# that SIGINT and SIGQUIT are not ignored as in a script's background job).
cat >signal-waiting <<'EOF'
#!/usr/bin/env bash
set -m
sig=$1
shift 2
exec 3>&2 2>/dev/null
ulimit -c 0
rm -f names && mkfifo names
"$@" <names 2>&3 &
pid=$!
exec 7>names
for _ in $(seq 1 500); do
  [ "$(find . -maxdepth 1 -name '.vesk-report-*' | grep -c .)" -ge 2 ] && break
  sleep 0.02
done
kill -s "$sig" "$pid"
wait "$pid"
EOF
chmod +x at-call signal-waiting

# Item: a signal at each point of both roads. Before the copy into F begins
# F stays as it was; from then on the signal waits until F is whole.
number_of() { kill -l "$1"; }
if ! command -v strace >/dev/null || ! strace -qq -o /dev/null -e trace=none true 2>/dev/null; then
  skip "signal on the report roads" -out "no strace to act at a call"
else
  for road in rename copy; do
    if [ "$road" = copy ] && [ -z "$plain" ]; then
      skip "signal on the copy road" -out "no plain user to run as (setpriv)"
      continue
    fi
    # point (syscall:call) and what F must then be
    if [ "$road" = rename ]; then
      points="write:2:old fsync:1:old renameat:1:whole"
    else
      points="write:2:old fsync:1:old fallocate:1:whole pwrite64:2:whole ftruncate:1:whole fsync:2:whole"
    fi
    for point in $points; do
      IFS=: read -r sc when want <<<"$point"
      for sig in TERM INT HUP; do
        target=$(road_setup "$road")
        # shellcheck disable=SC2046
        check "$road road, SIG$sig at $sc #$when" -out $((128 + $(number_of "$sig"))) "" \
          "$target" "$want" -- ./at-call signal="$sig" "$sc" "$when" -- \
          $(road_run "$road") -quiet -enumdir in/big -out "$target"
      done
    done
  done

  # A failed write on the copy road: before F's first byte F stays and the
  # whole report is named; after it, F is said to be damaged.
  if [ -n "$plain" ]; then
    kept_is_whole='k=$(sed -n "s/.* the whole report is in \(.*\)$/\1/p" err.txt); [ -f "$k" ] && [ "$(wc -l <"$k")" = "$REF_LINES" ] && rm -f "$k"'
    # syscall:call:error:what F is:what is said of F (an fsync that fails
    # leaves bytes the disk may not hold: F is said to be damaged)
    for fault in fallocate:1:ENOSPC:old:kept pwrite64:1:ENOSPC:old:kept pwrite64:2:EIO:damaged:damaged \
      ftruncate:1:EIO:damaged:damaged fsync:2:EIO:whole:damaged; do
      IFS=: read -r sc when err want state_said <<<"$fault"
      target=$(road_setup copy)
      reason="Input/output error"
      [ "$err" = ENOSPC ] && reason="No space left on device"
      said="the whole report is in .*/tmp/\.vesk-report-[0-9]+-[0-9]+\.tmp"
      [ "$state_said" = damaged ] && said="$target is damaged, $said"
      ALSO=$kept_is_whole
      # shellcheck disable=SC2046
      check "copy road, $err at $sc #$when" -out 255 "prob writing results to $target \($reason\): $said" \
        "$target" "$want" -- ./at-call error="$err" "$sc" "$when" -- $(road_run copy) -quiet -enumdir in/big -out "$target"
    done
  fi
fi

# A file-size limit: the write fails (EFBIG) and F stays, on either road.
for road in rename copy; do
  if [ "$road" = copy ] && [ -z "$plain" ]; then
    skip "ulimit -f on the copy road" -out "no plain user to run as (setpriv)"
    continue
  fi
  target=$(road_setup "$road")
  # shellcheck disable=SC2046
  check "$road road, ulimit -f 100" -out 255 "prob writing results to $target \(File too large\): $target was left as it was" \
    "$target" old -- bash -c 'ulimit -f 100; exec "$@"' - $(road_run "$road") -quiet -enumdir in/big -out "$target"
done

# Every signal whose default ends the process, while the run waits for
# names: its two files removed, the earlier ones kept, ended by the signal.
for sig in HUP INT QUIT ILL TRAP ABRT BUS FPE USR1 SEGV USR2 PIPE ALRM TERM STKFLT XCPU VTALRM PROF IO PWR SYS RTMIN RTMAX; do
  kill -l "$sig" >/dev/null 2>&1 || continue
  printf 'earlier log\n' >sig.log
  ALSO='[ "$(cat sig.log)" = "earlier log" ]'
  check "waiting for names, SIG$sig" -out+diags $((128 + $(number_of "$sig"))) "" sig.txt kept -- \
    ./signal-waiting "$sig" -- "$vesk" -quiet -pipe -out sig.txt -diags sig.log
done

# A closed standard stream takes no file's place: no message inside a
# report or log, no report inside a log; standard output closed and no -out
# stops the run. The input is cut, so that the run has messages to say.
head -c 3000 "$example" >in/cut.ms
cut_said="(not read in full: in/cut.ms \(.*\)( // )?)+"
no_messages='! grep -q "not read in full" r.txt d.log out.txt 2>/dev/null'
for fd in 0 1 2; do
  for option in -out -diags none; do
    rm -f r.txt d.log
    words=(-quiet in/cut.ms)
    report=-
    keep=-
    case $option in
      -out) words+=(-out r.txt) report=r.txt keep=replaced ;;
      -diags) words+=(-diags d.log) ;;
    esac
    status=2 msg=$cut_said also=$no_messages
    [ "$fd" = 2 ] && msg=""
    if [ "$fd" = 1 ] && [ "$option" != -out ]; then
      status=255 msg="prob writing results to standard output \(Bad file descriptor\)"
      also="$no_messages && [ ! -e d.log ]"
    elif [ "$option" = -diags ]; then
      also="$also && head -c 2 d.log | grep -q '^->' && ! grep -q '^vesk ver' d.log"
    fi
    ALSO=$also
    check "descriptor $fd closed" "$option" "$status" "$msg" "$report" "$keep" -- \
      sh -c "exec $fd>&-; exec \"\$0\" \"\$@\"" "$vesk" "${words[@]}"
  done
done
rm -f in/cut.ms r.txt d.log

# Names. A symbolic link to a name not made yet: followed to it, for -out
# and -diags alike; the pair naming one file through it is refused.
mkdir -p dl
for option in -out -diags; do
  rm -f dl/*
  ln -s made.txt dl/link
  ALSO='[ -L dl/link ] && head -c 12 dl/made.txt | grep -q "^\(vesk ver: \|->\)"'
  check "dangling link, run reads" "$option" 0 "" - - -- "$vesk" -quiet in/one.ms "$option" dl/link
  rm -f dl/*
  ln -s made.txt dl/link
  ALSO='[ ! -e dl/made.txt ]'
  check "dangling link, run fails" "$option" 255 \
    "can't read specified file: in/missing.ms \(No such file or directory\), aborting" - - -- \
    "$vesk" -quiet in/missing.ms "$option" dl/link
done
for pair in "-out dl/made.txt -diags dl/link" "-out dl/link -diags dl/made.txt"; do
  rm -f dl/*
  ln -s made.txt dl/link
  read -r -a words <<<"$pair"
  ALSO='[ ! -e dl/made.txt ]'
  check "dangling link, pair" "-out+diags" 255 "-out and -diags name the same file: ${words[1]}" - - -- \
    "$vesk" -quiet in/one.ms "${words[@]}"
done
rm -rf dl

# A path longer than PATH_MAX (in folders that are there): refused before
# anything is made.
deep=$work/deep
mkdir -p "$deep"
(
  cd "$deep" || exit 1
  for _ in $(seq 1 21); do
    d=$(printf 'd%.0s' $(seq 1 200))
    mkdir "$d" && cd "$d" || exit 1
  done
)
long=$deep$(printf "/$(printf 'd%.0s' $(seq 1 200))%.0s" $(seq 1 21))/r.txt
none_made='[ -z "$(find "$deep" -type f)" ]'
ALSO=$none_made
check "path past PATH_MAX" -out 255 "prob opening file .* for output \(File name too long\), aborting" - - -- \
  "$vesk" -quiet in/one.ms -out "$long"
ALSO=$none_made
check "path past PATH_MAX" -diags 0 "can't write diagnostics log: .* \(File name too long\)" - - -- \
  "$vesk" -quiet in/one.ms -diags "$long"
rm -rf "$deep"

# An empty name: refused for both.
check "empty name" -out 255 "prob opening file  for output \(No such file or directory\), aborting" - - -- \
  "$vesk" -quiet in/one.ms -out ""
check "empty name" -diags 255 "can't write diagnostics log:  \(No such file or directory\), aborting" - - -- \
  "$vesk" -quiet in/one.ms -diags ""

# The copy road with a $TMPDIR that is not there: both reasons said.
if [ -n "$plain" ]; then
  for option in -out -diags; do
    target=$(road_setup copy)
    said="$target for writing \(Permission denied; the temporary folder $work/missing \(\\\$TMPDIR\): No such file or directory\)"
    if [ "$option" = -out ]; then
      check "missing \$TMPDIR" "$option" 255 "prob opening results file: $said" "$target" old -- \
        env TMPDIR="$work/missing" $plain "$vesk" -quiet in/one.ms "$option" "$target"
    else
      check "missing \$TMPDIR" "$option" 0 "can't write diagnostics log: ${said/ for writing/}" "$target" old -- \
        env TMPDIR="$work/missing" $plain "$vesk" -quiet in/one.ms "$option" "$target"
    fi
  done
else
  skip "missing \$TMPDIR" -out "no plain user to run as (setpriv)"
fi

# A carved file of more records than the memory budget holds, with a
# $TMPDIR that takes no file or fails partway: every record is reported as
# with a working one (the run-time line aside), and the folder's failure
# said once.
for _ in $(seq 1 3000); do cat "$example"; done >in/dump.bin
chmod a+r in/dump.bin
# Its access time, which the report shows, set by a first read.
cat in/dump.bin >/dev/null
"$vesk" -quiet -csv in/dump.bin >carve-ref.txt
carve_same='cmp -s <(sed 2d out.txt) <(sed 2d carve-ref.txt)'
carve_held_said() {  # the system's reason
  printf 'not read in full: in/dump.bin \\(links at offset 0x0: the temporary folder \\(\\$TMPDIR\\) could not hold the reports past the memory budget \\(%s\\): they are held in memory\\)' "$1"
}
ALSO='[ "$(wc -l <carve-ref.txt)" -gt 9000 ] && '$carve_same
check "carved, working \$TMPDIR" - 0 "" - - -- env TMPDIR="$work/tmp" "$vesk" -quiet -csv in/dump.bin
ALSO=$carve_same
check "carved, missing \$TMPDIR" - 2 "$(carve_held_said "No such file or directory")" - - -- \
  env TMPDIR="$work/missing" "$vesk" -quiet -csv in/dump.bin
ALSO=$carve_same
check "carved, \$TMPDIR a file" - 2 "$(carve_held_said "Not a directory")" - - -- \
  env TMPDIR="$work/carve-ref.txt" "$vesk" -quiet -csv in/dump.bin
ALSO=$carve_same
check "carved, \$TMPDIR /proc" - 2 "$(carve_held_said "No such file or directory")" - - -- \
  env TMPDIR=/proc "$vesk" -quiet -csv in/dump.bin
ALSO="$carve_same && [ -z \"\$(ls -A rel)\" ]"
mkdir -p rel && chmod 1777 rel
check "carved, relative \$TMPDIR" - 0 "" - - -- env TMPDIR=rel "$vesk" -quiet -csv in/dump.bin
rmdir rel
if [ -n "$plain" ]; then
  mkdir -p rotmp && chmod 555 rotmp
  ALSO=$carve_same
  check "carved, read-only \$TMPDIR" - 2 "$(carve_held_said "Permission denied")" - - -- \
    env TMPDIR="$work/rotmp" $plain "$vesk" -quiet -csv in/dump.bin
  rmdir rotmp
else
  skip "carved, read-only \$TMPDIR" - "no plain user to run as (setpriv)"
fi
# The size limit leaves standard output alone: it goes through a pipe.
ALSO=$carve_same
check "carved, ulimit -f 200" - 2 "$(carve_held_said "File too large")" - - -- \
  bash -o pipefail -c '(ulimit -f 200; exec "$0" -quiet -csv in/dump.bin) | cat' "$vesk"
if command -v strace >/dev/null && strace -qq -o /dev/null -e trace=none true 2>/dev/null; then
  for fault in ENOSPC:1 ENOSPC:3 EIO:20; do
    IFS=: read -r err when <<<"$fault"
    reason="Input/output error"
    [ "$err" = ENOSPC ] && reason="No space left on device"
    ALSO=$carve_same
    check "carved, $err at pwrite64 #$when" - 2 "$(carve_held_said "$reason")" - - -- \
      ./at-call error="$err" pwrite64 "$when" -- env TMPDIR="$work/tmp" "$vesk" -quiet -csv in/dump.bin
  done
else
  skip "carved, \$TMPDIR failing partway" - "no strace to act at a call"
fi
rm -f in/dump.bin carve-ref.txt

# A user's report replaced by root keeps its owner, group and mode.
if [ "$(id -u)" = 0 ]; then
  for option in -out -diags; do
    printf 'earlier report\n' >owned.txt
    chown 65534:65534 owned.txt
    chmod 600 owned.txt
    ALSO='[ "$(stat -c %u:%g:%a owned.txt)" = 65534:65534:600 ]'
    check "user's report, run as root" "$option" 0 "" owned.txt replaced -- "$vesk" -quiet in/one.ms "$option" owned.txt
  done
  rm -f owned.txt
else
  skip "user's report, run as root" -out "needs root"
fi

# Access times on a strictatime file system: an input read by root, or by
# its owner, keeps its access time.
mkdir -p at
if [ "$(id -u)" = 0 ] && mount -t tmpfs -o strictatime,size=1m tmpfs at 2>/dev/null; then
  mounted="$work/at"
  chmod 755 at
  for who in root owner; do
    cp "$example" at/a.ms
    touch -a -d '2001-02-03 04:05:06' at/a.ms
    run=("$vesk")
    if [ "$who" = owner ]; then
      [ -n "$plain" ] || { skip "access time, read by owner" -out "no plain user"; continue; }
      chown 65534:65534 at/a.ms
      read -r -a run <<<"$plain"
      run+=("$vesk")
    fi
    ALSO='[ "$(stat -c %X at/a.ms)" = "$(date -d "2001-02-03 04:05:06" +%s)" ]'
    check "access time, read by $who" - 0 "" - - -- "${run[@]}" -quiet at/a.ms
  done
  umount at && mounted=""
else
  skip "access time on strictatime" - "no tmpfs (needs root and mount)"
fi

# ---------------------------------------------------------------------------
# The run's own streams named as outputs: written through the descriptor the
# shell opened (appending where it appends), so that what the file held and
# the messages all arrive.
head -c 3000 "$example" >in/cut.ms
for name in /dev/stdout /dev/fd/1 /proc/self/fd/1; do
  printf 'earlier line\n' >app.txt
  ALSO='[ "$(head -1 app.txt)" = "earlier line" ] && grep -q "^vesk ver: " app.txt'
  check "$name >> file" -out 0 "" - - -- sh -c 'exec "$0" -quiet in/one.ms -out "$1" >>app.txt' "$vesk" "$name"
done
for name in /dev/stderr /dev/fd/2 /proc/self/fd/2; do
  ALSO='grep -q "^->" e2.txt && grep -q "not read in full: in/cut.ms" e2.txt'
  check "$name 2> file" -diags 2 "" - - -- sh -c 'exec "$0" -quiet in/cut.ms -diags "$1" 2>e2.txt' "$vesk" "$name"
done
ALSO='grep -q "^vesk ver: " both.txt && grep -q "not read in full: in/cut.ms" both.txt'
check "/dev/stdout > file 2>&1" -out 2 "" - - -- sh -c 'exec "$0" -quiet in/cut.ms -out /dev/stdout >both.txt 2>&1' "$vesk"
rm -f in/cut.ms app.txt e2.txt both.txt

# A stream of the run that is an input is never written: in a list run the
# report or log bound for a stream that is a regular file is held in $TMPDIR
# until every input is met; the input is skipped and said, the held report
# named (and removed by the check). Plain standard output the same way.
held_said() {  # the input, what is held, what is said of the output
  printf 'output file is the input file: %s, skipped // %s written to %s/tmp/\\.vesk-report-[0-9]+-[0-9]+\\.tmp: %s is an input of the run and was left as it was' \
    "$1" "$2" "$work" "$3"
}
check "/dev/stdout 1<> a walked input" -out 1 "$(held_said in/w/a.ms report "the output file /dev/stdout")" - - -- \
  sh -c 'TMPDIR="$1" exec "$0" -quiet -enumdir in/w -csv -out /dev/stdout 1<>in/w/a.ms' "$vesk" "$work/tmp"
for redirect in '1<>' '>>'; do
  check "/dev/fd/1 $redirect a listed input" -out 1 "$(held_said in/w/a.ms report "the output file /dev/fd/1")" - - -- \
    sh -c 'printf "in/w/b.lnk\nin/w/a.ms\n" | TMPDIR="$1" "$0" -quiet -pipe -out /dev/fd/1 '"$redirect"'in/w/a.ms' "$vesk" "$work/tmp"
done
check "/dev/fd/3 3>> a listed input" -out 1 "$(held_said in/w/a.ms report "the output file /dev/fd/3")" - - -- \
  sh -c 'printf "in/w/b.lnk\nin/w/a.ms\n" | TMPDIR="$1" "$0" -quiet -pipe -out /dev/fd/3 3>>in/w/a.ms' "$vesk" "$work/tmp"
check "/dev/fd/3 3<> a listed input" -diags 1 "$(held_said in/w/a.ms "diagnostics log" "the output file /dev/fd/3")" - - -- \
  sh -c 'printf "in/w/b.lnk\nin/w/a.ms\n" | TMPDIR="$1" "$0" -quiet -pipe -diags /dev/fd/3 3<>in/w/a.ms' "$vesk" "$work/tmp"
check "standard output >> a walked input" - 1 "$(held_said in/w/a.ms report "standard output")" - - -- \
  sh -c 'TMPDIR="$1" exec "$0" -quiet -enumdir in/w >>in/w/a.ms' "$vesk" "$work/tmp"
check "standard output >> the input" - 255 "standard output is the input file: in/one.ms" - - -- \
  sh -c 'exec "$0" -quiet in/one.ms >>in/one.ms' "$vesk"
printf 'earlier line\n' >app.txt
ALSO='[ "$(head -1 app.txt)" = "earlier line" ] && grep -q "^vesk ver: " app.txt && [ -z "$(ls -A tmp)" ]'
check "/dev/stdout >> no input, held" -out 0 "" - - -- \
  sh -c 'printf "in/w/b.lnk\nin/w/a.ms\n" | TMPDIR="$1" "$0" -quiet -pipe -out /dev/stdout >>app.txt' "$vesk" "$work/tmp"

# Standard output a regular file in a list run, with a $TMPDIR that takes no
# file: held beside the file instead, and said; the report the same as with
# a working $TMPDIR (the run-time line aside), an earlier one appended to
# kept. A relative $TMPDIR is taken from the working folder, as the carve's
# is. Only no folder at all refuses the run, the file as it was.
mkdir -p so rel && chmod 777 so && chmod 1777 rel
listed='printf "in/w/b.lnk\nin/w/a.ms\n" | TMPDIR="$1" "$0" -quiet -pipe'
sh -c "$listed"' >so/ref.txt' "$vesk" "$work/tmp"
beside_said() {  # $TMPDIR, the system's reason[, what and its name]
  printf '%s held in %s/so/ until the run ends \\(the temporary folder %s \\(\\$TMPDIR\\): %s\\)' \
    "${3:-report for standard output}" "$work" "$1" "$2"
}
held_same='[ "$(wc -l <so/ref.txt)" -gt 10 ] && cmp -s <(sed 2,3d so/out.txt) <(sed 2,3d so/ref.txt) && [ -z "$(ls -A tmp)$(ls -A rel)" ] && [ "$(ls -A so)" = "$(printf "out.txt\nref.txt")" ]'
held_appended='[ "$(head -1 so/out.txt)" = "earlier line" ] && cmp -s <(sed 1d so/out.txt | sed 2,3d) <(sed 2,3d so/ref.txt) && [ -z "$(ls -A tmp)$(ls -A rel)" ]'
for tmpdir in "$work/missing:No such file or directory" "$work/so/ref.txt:Not a directory" \
  "/proc:No such file or directory" "rel:" "$work/tmp:"; do
  reason=${tmpdir##*:} tmpdir=${tmpdir%:*}
  said=""
  [ -n "$reason" ] && said=$(beside_said "$tmpdir" "$reason")
  rm -f so/out.txt
  ALSO=$held_same
  check "-pipe >file, \$TMPDIR $tmpdir" - 0 "$said" - - -- sh -c "$listed"' >so/out.txt' "$vesk" "$tmpdir"
  printf 'earlier line\n' >so/out.txt
  ALSO=$held_appended
  check "-pipe >>file, \$TMPDIR $tmpdir" - 0 "$said" - - -- sh -c "$listed"' >>so/out.txt' "$vesk" "$tmpdir"
done
rm -f so/out.txt
ALSO=$held_same
check "-pipe -out /dev/stdout, no \$TMPDIR" -out 0 \
  "$(beside_said "$work/missing" "No such file or directory" "report for /dev/stdout")" - - -- \
  sh -c "$listed"' -out /dev/stdout >so/out.txt' "$vesk" "$work/missing"
printf 'earlier line\n' >so/out.txt
ALSO='[ "$(head -1 so/out.txt)" = "earlier line" ] && grep -q "^->" so/out.txt && [ -z "$(ls -A tmp)" ]'
check "-pipe -diags /dev/fd/3 3>>, no \$TMPDIR" -diags 0 \
  "$(beside_said "$work/missing" "No such file or directory" "diagnostics log for /dev/fd/3")" - - -- \
  sh -c "$listed"' -diags /dev/fd/3 >/dev/null 3>>so/out.txt' "$vesk" "$work/missing"
rm -f so/out.txt
# A pipe and /dev/null are written as the run goes: no folder is asked.
ALSO='cmp -s <(sed 2,3d so/out.txt) <(sed 2,3d so/ref.txt)'
check "-pipe |pipe, no \$TMPDIR" - 0 "" - - -- sh -c "$listed"' | cat >so/out.txt' "$vesk" "$work/missing"
check "-pipe >/dev/null, no \$TMPDIR" - 0 "" - - -- sh -c "$listed"' >/dev/null' "$vesk" "$work/missing"
# Standard output an input: held beside it, never written, the held report
# named (and removed by the check).
check "-pipe >> a listed input, no \$TMPDIR" - 1 \
  "$(beside_said "$work/missing" "No such file or directory" | sed 's|/so/|/in/w/|') // output file is the input file: in/w/a.ms, skipped // report written to $work/in/w/\\.vesk-report-[0-9]+-[0-9]+\\.tmp: standard output is an input of the run and was left as it was" - - -- \
  sh -c "$listed"' >>in/w/a.ms' "$vesk" "$work/missing"
check "-pipe >> a listed input, relative \$TMPDIR" - 1 \
  "output file is the input file: in/w/a.ms, skipped // report written to rel/\\.vesk-report-[0-9]+-[0-9]+\\.tmp: standard output is an input of the run and was left as it was" - - -- \
  sh -c "$listed"' >>in/w/a.ms' "$vesk" rel
if [ -n "$plain" ]; then
  mkdir -p rotmp so-ro && chmod 555 rotmp && chmod 755 so-ro
  rm -f so/out.txt
  ALSO=$held_same
  check "-pipe >file, read-only \$TMPDIR" - 0 "$(beside_said "$work/rotmp" "Permission denied")" - - -- \
    sh -c 'printf "in/w/b.lnk\nin/w/a.ms\n" | TMPDIR="$1" '"$plain"' "$0" -quiet -pipe >so/out.txt' "$vesk" "$work/rotmp"
  check "-pipe >>file, no folder takes it" - 255 \
    "prob opening results file: standard output for writing \\(Permission denied; the temporary folder $work/rotmp \\(\\\$TMPDIR\\): Permission denied\\)" \
    so-ro/out.txt kept -- \
    sh -c 'printf "in/w/b.lnk\nin/w/a.ms\n" | TMPDIR="$1" '"$plain"' "$0" -quiet -pipe >>so-ro/out.txt' "$vesk" "$work/rotmp"
  rm -rf rotmp so-ro
else
  skip "-pipe >file, read-only \$TMPDIR" - "no plain user to run as (setpriv)"
fi
rm -rf so rel

# A name of a standard stream closed when the run began: refused before
# anything is read, as a closed /dev/fd/N is.
for name in /dev/stdout /dev/fd/1 /proc/self/fd/1; do
  check "$name, stream closed" -out 255 "prob opening file $name for output \(Bad file descriptor\), aborting" - - -- \
    sh -c 'exec "$0" -quiet in/one.ms -out "$1" >&-' "$vesk" "$name"
done
check "/dev/stdout, stream closed" -diags 0 "can't write diagnostics log: /dev/stdout \(Bad file descriptor\)" \
  closed.txt replaced -- sh -c 'exec "$0" -quiet in/one.ms -out closed.txt -diags /dev/stdout >&-' "$vesk"
rm -f closed.txt

# -out and -diags reaching one file by two names: refused, the file as it was.
head -c 3000 "$example" >in/cut.ms
check "-out f -diags /dev/stdout >>f" -out+diags 255 "-out and -diags name the same file: two.txt" two.txt kept -- \
  sh -c 'exec "$0" -quiet in/cut.ms -out two.txt -diags /dev/stdout >>two.txt' "$vesk"
check "-out f -diags /proc/self/fd/3 3>>f" -out+diags 255 "-out and -diags name the same file: two.txt" two.txt kept -- \
  sh -c 'exec "$0" -quiet in/cut.ms -out two.txt -diags /proc/self/fd/3 3>>two.txt' "$vesk"
check "/dev/stdout and /dev/fd/1 >f" -out+diags 255 "-out and -diags name the same file: /dev/stdout" two.txt kept -- \
  sh -c 'exec "$0" -quiet -csv in/one.ms -out /dev/stdout -diags /dev/fd/1 >>two.txt' "$vesk"
rm -f in/cut.ms two.txt

# Other names of standard output: known by what they reach, written through
# it, the earlier lines kept.
ln -sfn /dev/stdout to-stdout
for name in //dev/stdout /dev/./stdout /dev/../dev/stdout to-stdout /proc/thread-self/fd/1 '/proc/$$/fd/1'; do
  printf 'earlier line 1\nearlier line 2\n' >app.txt
  ALSO='[ "$(head -2 app.txt | tr "\n" .)" = "earlier line 1.earlier line 2." ] && grep -q "^vesk ver: " app.txt'
  check "$name >> file" -out 0 "" - - -- sh -c 'exec "$0" -quiet in/one.ms -out '"$name"' >>app.txt' "$vesk"
done
rm -f to-stdout app.txt

# The file of names on standard input is an input: never the report or log.
for option in -out -diags; do
  printf 'in/one.ms\n' >in/names.txt
  check "-pipe, its list file" "$option" 255 "output file is the input file: in/names.txt" - - -- \
    sh -c '"$0" -quiet -pipe "$1" in/names.txt <in/names.txt' "$vesk" "$option"
done
rm -f in/names.txt

# A disk (a loop device holding a list) as input: refused as the output by
# its own node, by a second node of the same device, and met through -pipe;
# the device never written.
if [ "$(id -u)" = 0 ] && command -v losetup >/dev/null && cp "$example" in/disk.img &&
  loopdev=$(losetup -f --show in/disk.img 2>/dev/null) && [ -n "$loopdev" ]; then
  twin=$work/twin
  mknod "$twin" b $((0x$(stat -c %t "$loopdev"))) $((0x$(stat -c %T "$loopdev")))
  disk_sum=$(sha256sum <"$loopdev")
  same_disk='[ "$(sha256sum <"$loopdev")" = "$disk_sum" ]'
  for option in -out -diags; do
    for t in "$loopdev" "$twin"; do
      node="its node"
      [ "$t" = "$twin" ] && node="a second node"
      ALSO=$same_disk
      check "loop device, $node" "$option" 255 "output file is the input file: $t" - - -- \
        "$vesk" -quiet "$loopdev" "$option" "$t"
    done
    ALSO=$same_disk
    check "loop device through -pipe" "$option" 255 \
      "output file is the input file: $loopdev, skipped // nothing read: 1 name on standard input: 1 the output file" \
      - - -- sh -c 'echo "$2" | "$0" -quiet -pipe "$1" "$2"' "$vesk" "$option" "$loopdev"
    ALSO=$same_disk
    check "loop device, second node, -pipe" "$option" 1 \
      "output file is the input file: $loopdev, skipped // .* written to .*: the output file $twin is an input of the run and was left as it was" \
      - - -- sh -c 'printf "%s\nin/one.ms\n" "$2" | TMPDIR="$3" "$0" -quiet -pipe "$1" "$4"' \
      "$vesk" "$option" "$loopdev" "$work/tmp" "$twin"
  done
  losetup -d "$loopdev" && loopdev=""
  rm -f "$twin" in/disk.img
else
  rm -f in/disk.img
  skip "loop device as input" -out "no loop device (needs root and losetup)"
fi

# A disk gets exactly the report -out FILE writes (its command line aside),
# written only once whole, and nothing when it is too small; loop devices
# over an input (the image, or the file another input device reads) are
# never written. Root and losetup.
disks=()
if [ "$(id -u)" = 0 ] && command -v losetup >/dev/null; then
  head -c 1048576 /dev/zero >disk.raw
  head -c 2048 /dev/zero | tr '\0' s >small.raw
  cp "$example" in/disk.img
  for f in disk.raw small.raw in/disk.img in/disk.img; do
    d=$(losetup -f --show "$f" 2>/dev/null) || break
    disks+=("$d")
  done
fi
if [ "${#disks[@]}" = 4 ]; then
  dev=${disks[0]} small=${disks[1]} a=${disks[2]} b=${disks[3]}
  "$vesk" -quiet in/one.ms -out ref-one.txt
  # shellcheck disable=SC2016
  ALSO='n=$(sed "s#-out ref-one.txt#-out $dev#" ref-one.txt | wc -c) &&
    [ "$(head -c "$n" "$dev" | sed 2d)" = "$(sed "2d; s#-out ref-one.txt#-out $dev#" ref-one.txt)" ] &&
    [ -z "$(tail -c +$((n + 1)) "$dev" | tr -d "\0" | head -c 1)" ]'
  check "disk, the whole report" -out 0 "" - - -- "$vesk" -quiet in/one.ms -out "$dev"
  small_sum=$(sha256sum <"$small")
  ALSO='[ "$(sha256sum <"$small")" = "$small_sum" ] && rm -f tmp/.vesk-report-*'
  check "disk too small" -out 255 \
    "prob writing results to $small \(No space left on device\): the whole report is in $work/tmp/\.vesk-report-[0-9]+-0\.tmp" \
    - - -- env TMPDIR="$work/tmp" "$vesk" -quiet -enumdir in/w -out "$small"
  loop_said="are one file through a loop device"
  a_sum=$(sha256sum <"$a")
  same_a='[ "$(sha256sum <"$a")" = "$a_sum" ]'
  for option in -out -diags; do
    ALSO=$same_a
    check "loop device over the input" "$option" 255 "output file is the input file: $a \(it and in/disk.img $loop_said\)" - - -- \
      "$vesk" -quiet in/disk.img "$option" "$a"
    ALSO=$same_a
    check "two loop devices, one file" "$option" 255 "output file is the input file: $b \(it and $a $loop_said\)" - - -- \
      "$vesk" -quiet "$a" "$option" "$b"
    ALSO=$same_a
    check "loop device listed" "$option" 255 \
      "output file is the input file: $a, skipped \(it and the output file $b $loop_said\) // nothing read: 1 name on standard input: 1 the output file" \
      - - -- sh -c 'echo "$2" | "$0" -quiet -pipe "$1" "$3"' "$vesk" "$option" "$a" "$b"
    ALSO=$same_a
    check "image listed, loop device out" "$option" 1 \
      "output file is the input file: in/disk.img, skipped \(it and the output file $a $loop_said\) // .* written to $work/tmp/.*: the output file $a is an input of the run and was left as it was" \
      - - -- sh -c 'printf "in/disk.img\nin/one.ms\n" | TMPDIR="$3" "$0" -quiet -pipe "$1" "$2"' "$vesk" "$option" "$a" "$work/tmp"
  done
  rm -f ref-one.txt
else
  skip "disks and loop devices over an input" -out "no loop devices (needs root and losetup)"
fi
for d in "${disks[@]}"; do losetup -d "$d"; done
disks=()
rm -f disk.raw small.raw in/disk.img

if command -v strace >/dev/null && strace -qq -o /dev/null -e trace=none true 2>/dev/null; then
  # The new report's mode from its making on, its chmod held back: never
  # wider than the 0600 report it replaces (umask 022).
  printf 'earlier report\n' >mode.txt
  chmod 600 mode.txt
  cat >watch-mode <<'EOF'
#!/usr/bin/env bash
umask 022
strace -f -qq -o /dev/null -e trace=fchmod -e inject=fchmod:delay_enter=1000000 "$@" &
pid=$!
: >modes.txt
while kill -0 "$pid" 2>/dev/null; do
  stat -c %a .vesk-report-* >>modes.txt 2>/dev/null
  sleep 0.02
done
wait "$pid"
EOF
  chmod +x watch-mode
  ALSO='[ "$(sort -u modes.txt | tr -d "\n")" = 600 ] && [ "$(stat -c %a mode.txt)" = 600 ]'
  check "new report's mode, chmod held" -out 0 "" mode.txt replaced -- ./watch-mode "$vesk" -quiet in/one.ms -out mode.txt
  rm -f mode.txt modes.txt

  # A link swapped in while the output is looked at or opened (each step
  # held by strace): no evidence removed or cut.
  cat >swap-at <<'EOF'
#!/usr/bin/env bash
# swap-at SYSCALL WAIT-FOR LINK TO [PATH...] -- command: SYSCALL (on the
# PATHs, when given) held a second at its entry; once WAIT-FOR is there (a
# file made) or the process sits in a held call (WAIT-FOR "@"), LINK is
# turned to TO.
sc=$1 wait_for=$2 link=$3 to=$4
shift 4
paths=()
while [ "$1" != -- ]; do paths+=(-P "$1"); shift; done
shift
strace -f -qq -o /dev/null "${paths[@]}" -e trace="$sc" -e inject="$sc":delay_enter=1000000 "$@" &
pid=$!
nr=$(case $sc in openat) echo 257 ;; unlink) echo 87 ;; esac)
held() {
  for child in $(pgrep -P "$pid"); do
    [ "$(cut -d' ' -f1 "/proc/$child/syscall" 2>/dev/null)" = "$nr" ] && return 0
  done
  return 1
}
for _ in $(seq 1 500); do
  kill -0 "$pid" 2>/dev/null || break
  if [ "$wait_for" = @ ]; then
    # Still there a moment later: the held call, not one passing by.
    held && sleep 0.1 && held && break
  elif [ -e "$wait_for" ]; then
    break
  fi
  sleep 0.01
done
ln -sfn "$to" "$link"
wait "$pid"
EOF
  chmod +x swap-at
  mkdir -p in/ev empty
  cp "$example" in/ev/x.ms
  rm -f lnk && ln -s empty lnk
  ALSO='[ -f empty/x.ms ] && rm -f empty/x.ms'
  check "link swapped during the check" -out 0 "" - - -- ./swap-at unlink empty/x.ms lnk in/ev -- \
    "$vesk" -quiet -enumdir in/ev -out lnk/x.ms
  mkdir -p p && rm -f p/fifo && mkfifo p/fifo
  check "link swapped before a pipe's open" -out 255 \
    "prob opening results file: p/fifo for writing \(Too many levels of symbolic links\)" - - -- \
    sh -c 'exec 3<>p/fifo; ./swap-at openat @ "$1" "$2" "$1" "${1%/fifo}" -- "$0" -quiet in/one.ms -out p/fifo' \
    "$vesk" "$work/p/fifo" "$work/in/ev/x.ms"
  rm -rf p lnk empty

  # A short file whose read fails, and fsync interrupted: said, kept.
  head -c 40 "$example" >in/short.ms
  check "EIO reading a short file, listed" - 1 "can't read file: in/short.ms \(Input/output error\)" - - -- \
    sh -c 'printf "in/short.ms\nin/one.ms\n" | strace -f -qq -o /dev/null -P "$1" -e trace=pread64 -e inject=pread64:error=EIO "$0" -quiet -pipe' \
    "$vesk" "$work/in/short.ms"
  rm -f in/short.ms intr.txt
  ALSO='head -c 10 intr.txt | grep -q "^vesk ver: "'
  check "fsync interrupted (EINTR)" -out 0 "" - - -- ./at-call error=EINTR fsync 1 -- "$vesk" -quiet in/one.ms -out intr.txt
  rm -f intr.txt

  # The report's folder moved during the run: the report still reaches its
  # target, and a report that could not take its place is said where it is.
  cat >move-at <<'EOF'
#!/usr/bin/env bash
# move-at SYSCALL ERROR -- command: the folder o moved to n once the process
# has made its new file and is held at SYSCALL's entry; ERROR (or "-")
# injected there.
sc=$1 err=$2
shift 3
inject="$sc":delay_enter=1000000
[ "$err" != - ] && inject="$inject:error=$err"
strace -f -qq -o /dev/null -e trace="$sc" -e inject="$inject" "$@" &
pid=$!
for _ in $(seq 1 500); do
  kill -0 "$pid" 2>/dev/null || break
  [ -n "$(find o -name '.vesk-report-*' 2>/dev/null)" ] && break
  sleep 0.01
done
mv o n
# A link in its place, to a folder of evidence.
[ -n "${LINK_TO:-}" ] && ln -s "$LINK_TO" o
wait "$pid"
EOF
  chmod +x move-at
  rm -rf o n && mkdir o
  ALSO='head -c 10 n/r.txt | grep -q "^vesk ver: " && rm -rf n'
  check "folder moved during the run" -out 0 "report written to $work/n/r.txt: the folder of o/r.txt was moved during the run" \
    - - -- ./move-at fsync - -- "$vesk" -quiet in/one.ms -out o/r.txt
  rm -rf o n && mkdir o in/ev2 && cp "$example" in/ev2/r.txt
  ALSO='head -c 10 n/r.txt | grep -q "^vesk ver: " && rm -rf n o'
  check "folder moved, a link to evidence in its place" -out 0 \
    "report written to $work/n/r.txt: the folder of o/r.txt was moved during the run" \
    - - -- env LINK_TO=in/ev2 ./move-at fsync - -- "$vesk" -quiet in/one.ms -out o/r.txt
  rm -rf o n in/ev2
  rm -rf o n && mkdir o
  ALSO='[ ! -e n/r.txt ] && rm -rf n'
  check "folder moved, report not placed" -out 255 \
    "prob writing results to o/r.txt \(Invalid cross-device link\): the whole report is in $work/n/\.vesk-report-[0-9]+-0\.tmp" \
    - - -- ./move-at renameat EXDEV -- "$vesk" -quiet in/one.ms -out o/r.txt
  rm -rf o n

  # A list with a long tail cut between its first and second read: said,
  # with its size then and now, status 2. (Not among the inputs: it is cut.)
  mkdir -p cut
  { cat "$example"; head -c 41943040 /dev/zero; } >cut/tail.ms
  cat >cut-at <<'EOF'
#!/usr/bin/env bash
# cut-at FILE SIZE -- command: FILE cut to SIZE once its first read is done
# (the command, traced, shows as stopped with t or T).
file=$1 size=$2
shift 3
strace -f -qq -o /dev/null -P "$file" -e trace=pread64 -e inject=pread64:signal=SIGSTOP:when=1 "$@" &
pid=$!
child=""
for _ in $(seq 1 500); do
  child=$(pgrep -P "$pid" | head -1)
  [ -n "$child" ] && [ "$(ps -o stat= -p "$child" | cut -c1 | tr t T)" = T ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.01
done
truncate -s "$size" "$file"
[ -n "$child" ] && kill -CONT "$child"
wait "$pid"
EOF
  chmod +x cut-at
  size=$(stat -c %s "$example")
  check "file cut while read" - 2 \
    "not read in full: cut/tail.ms \(file at offset 0x[0-9a-f]+: changed while read: $((size + 41943040)) bytes when opened, $size now\)" \
    - - -- ./cut-at "$work/cut/tail.ms" "$size" -- "$vesk" -quiet cut/tail.ms
  rm -rf cut
else
  skip "held calls (mode, swaps, EIO, EINTR, moves, cuts)" -out "no strace to act at a call"
fi

# An append-only folder: a failed run makes nothing there; a run that reads
# makes its report whole.
mkdir -p ao
if chattr +a ao 2>/dev/null; then
  ALSO='[ -z "$(ls -A ao)" ]'
  check "append-only folder, run fails" -out 255 \
    "can't read specified file: in/missing.ms \(No such file or directory\), aborting" - - -- \
    env TMPDIR="$work/tmp" "$vesk" -quiet in/missing.ms -out ao/r.txt
  ALSO='[ "$(ls -A ao)" = r.txt ] && head -c 10 ao/r.txt | grep -q "^vesk ver: "'
  check "append-only folder, run reads" -out 0 "" - - -- env TMPDIR="$work/tmp" "$vesk" -quiet in/one.ms -out ao/r.txt
  # Standard output held in a list run takes no file there either.
  ALSO='[ "$(ls -A ao)" = r.txt ]'
  check "append-only folder, -pipe >>, no \$TMPDIR" - 255 \
    "prob opening results file: standard output for writing \\(Operation not permitted; the temporary folder $work/missing \\(\\\$TMPDIR\\): No such file or directory\\)" \
    ao/r.txt kept -- sh -c 'printf "in/one.ms\n" | TMPDIR="$1" "$0" -quiet -pipe >>ao/r.txt' "$vesk" "$work/missing"
  chattr -a ao
else
  skip "append-only folder" -out "no chattr +a here"
fi
rm -rf ao

if [ "$failures" -ne 0 ]; then
  echo "output-safety: $failures case(s) failed" >&2
  exit 1
fi
echo "output-safety: every input unchanged, every earlier report kept, nothing left behind"
