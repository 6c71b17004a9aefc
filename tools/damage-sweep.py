"""Damage sweep: counts the damaged jump lists on which vesk loses records
without saying so.

Each sound list (those written by vesk_sweep_lists, and the sample lists when
the samples folder is there) is damaged in a fixed, seeded set of ways: cut
at several points, one 512-byte sector zeroed at several places, a bit of the
compound-file header's class identifier flipped, a few random bytes changed.
vesk reads the sound file and each variant twice (labelled text, and -quiet
-csv). A variant that gives fewer records than the sound file is "said" when
vesk ends with status 2 or 255 and writes a note to standard error (a "no
entries in file" line is no note: it says the list is valid and empty), and
"silent" otherwise. A sound list whose records are fewer than its links (the
link streams of an automatic list, names that are entry numbers in
hexadecimal; the link headers of a custom list), without a note, is a silent
loss of its own.

  damage-sweep.py VESK LISTS_DIR [SAMPLES_DIR]

Exits 1 unless nothing was lost silently. Run through tools/damage-sweep.sh.
"""

import collections
import hashlib
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

SEED = 20240305
MAX_VARIANTS = 36
TIMEOUT = 20
SECTOR = 512


def cfb_map(data):
    """What each byte range of a sound compound file holds: a list of
    (start, end, role) and the names of its streams; None when the file's
    structures cannot be followed (only sound files are asked)."""
    if len(data) < 512 or data[:8] != bytes.fromhex("d0cf11e0a1b11ae1"):
        return None
    u32 = lambda at: struct.unpack_from("<I", data, at)[0]
    size = 1 << struct.unpack_from("<H", data, 30)[0]
    mini = 1 << struct.unpack_from("<H", data, 32)[0]
    cutoff = u32(56)
    roles = [(0, 512, "header")]

    def sector_range(s):
        return ((s + 1) * size, (s + 2) * size)

    fat_sectors = [u32(76 + 4 * i) for i in range(109)]
    fat_sectors = [s for s in fat_sectors if s < 0xFFFFFFFA]
    difat, seen = u32(68), 0
    while difat < 0xFFFFFFFA and seen < 1000 and (difat + 2) * size <= len(data):
        roles.append(sector_range(difat) + ("DIFAT",))
        at = (difat + 1) * size
        fat_sectors += [s for s in struct.unpack_from("<%dI" % (size // 4 - 1), data, at)
                        if s < 0xFFFFFFFA]
        difat = u32(at + size - 4)
        seen += 1
    fat = []
    for s in fat_sectors:
        roles.append(sector_range(s) + ("FAT",))
        fat.extend(struct.unpack_from("<%dI" % (size // 4), data, (s + 1) * size))

    def chain(s):
        out = []
        while s < 0xFFFFFFFA and s < len(fat) and len(out) < 100000:
            out.append(s)
            s = fat[s]
        return out

    entries = []
    for s in chain(u32(48)):
        roles.append(sector_range(s) + ("directory",))
        at = (s + 1) * size
        for k in range(size // 128):
            e = data[at + 128 * k: at + 128 * k + 128]
            if len(e) < 128 or e[66] == 0:
                continue
            n = struct.unpack_from("<H", e, 64)[0]
            name = e[: max(0, n - 2)].decode("utf-16-le", "replace")
            entries.append((name, e[66], struct.unpack_from("<I", e, 116)[0],
                            struct.unpack_from("<Q", e, 120)[0] & 0xFFFFFFFF))
    for s in chain(u32(60)):
        roles.append(sector_range(s) + ("mini FAT",))
    minifat = []
    for s in chain(u32(60)):
        minifat.extend(struct.unpack_from("<%dI" % (size // 4), data, (s + 1) * size))
    container = []
    for name, kind, start, length in entries:
        if kind == 5:
            container = chain(start)
    names = []
    for name, kind, start, length in entries:
        if kind != 2:
            continue
        names.append(name)
        if length < cutoff:
            m, n = start, 0
            while m < 0xFFFFFFFA and m < len(minifat) and n < 100000:
                at = m * mini
                if at // size < len(container):
                    base = (container[at // size] + 1) * size + at % size
                    roles.append((base, base + mini, "stream " + name))
                m, n = minifat[m], n + 1
        else:
            for s in chain(start):
                roles.append(sector_range(s) + ("stream " + name,))
    return roles, names


def roles_in(roles, start, end):
    """The roles of the bytes start..end, in file order, once each."""
    out = []
    for a, b, role in sorted(roles):
        if a < end and start < b and role not in out:
            out.append(role)
    return out or ["no structure"]


LNK_START = bytes.fromhex("4c0000000114020000000000c000000000000046")


def custom_map(data):
    """The links of a sound custom list and its footers, as for cfb_map."""
    roles = [(0, 12, "header")]
    starts = []
    at = data.find(LNK_START)
    while at >= 0:
        starts.append(at)
        at = data.find(LNK_START, at + 1)
    footers = []
    at = data.find(b"\xab\xfb\xbf\xba")
    while at >= 0:
        footers.append(at)
        roles.append((at, at + 4, "footer"))
        at = data.find(b"\xab\xfb\xbf\xba", at + 1)
    for i, a in enumerate(starts):
        ends = [x for x in starts + footers if x > a] + [len(data)]
        roles.append((a, min(ends), "link %d" % (i + 1)))
    return roles


def cfb_stream_names(data):
    m = cfb_map(data)
    return None if m is None else m[1]


def link_stream_count(data):
    names = cfb_stream_names(data)
    if names is None:
        return None
    count = 0
    for n in names:
        try:
            if "%x" % int(n, 16) == n:
                count += 1
        except ValueError:
            pass
    return count


def variants(name, data, automatic):
    """(label, bytes, roles hit) triples, at most MAX_VARIANTS, the same on
    every run; each label names what the damaged bytes held in the sound
    file."""
    m = cfb_map(data) if automatic else None
    roles = m[0] if m else custom_map(data) if not automatic else [(0, len(data), "?")]
    hit = []

    def held(a, b):
        r = roles_in(roles, a, b)
        hit.extend(r)
        return " [" + ", ".join(r) + "]"

    def add(label, bytes_):
        out.append((label, bytes_, list(hit)))
        hit.clear()

    rng = random.Random(SEED ^ int(hashlib.sha256(name.encode()).hexdigest()[:8], 16))
    size = len(data)
    out = []
    # Cuts: within the header, at sector edges, near the end, and seeded.
    cuts = {76, size - 1, size - 4, size // 2}
    if automatic:
        cuts |= {512, size - SECTOR}
    else:
        cuts |= {12, 40}
    while len(cuts) < 10 and size > 16:
        cuts.add(rng.randrange(1, size))
    for at in sorted(c for c in cuts if 0 < c < size):
        add("cut at %d, losing" % at + held(at, size), data[:at])
    # Zeroed sectors: every one of a small file, else a seeded choice.
    sectors = (size + SECTOR - 1) // SECTOR
    picks = list(range(sectors))
    if sectors > 14:
        picks = sorted({0, 1, sectors - 1} | set(rng.sample(range(sectors), 11)))
    for s in picks:
        b = bytearray(data)
        end = min(size, (s + 1) * SECTOR)
        b[s * SECTOR:end] = bytes(end - s * SECTOR)
        if bytes(b) != data:
            add("bytes %d-%d zeroed" % (s * SECTOR, end - 1) + held(s * SECTOR, end), bytes(b))
        hit.clear()
    if automatic and size >= 24:
        bit = rng.randrange(8 * 16)
        b = bytearray(data)
        b[8 + bit // 8] ^= 1 << (bit % 8)
        hit.append("class identifier")
        add("header class id: bit %d of byte %d flipped" % (bit % 8, 8 + bit // 8), bytes(b))
    for count in (1, 1, 2, 4, 8, 16):
        b = bytearray(data)
        where = []
        for _ in range(count):
            at = rng.randrange(size)
            value = rng.randrange(256)
            if value == b[at]:
                value ^= 0xFF
            b[at] = value
            where.append("0x%x=%02x" % (at, value) + held(at, at + 1))
        add("bytes changed: " + " ".join(where), bytes(b))
    if len(out) > MAX_VARIANTS:
        keep = sorted(rng.sample(range(len(out)), MAX_VARIANTS))
        out = [out[i] for i in keep]
    return out


def category(automatic, label, hit, err):
    """The likeliest kind of a silent loss, from what the damage hit."""
    cut = label.startswith("cut")
    if "class identifier" in hit:
        return "a bit of the compound-file header's class identifier flipped"
    if automatic:
        if "no entries in file" in err:
            return "damaged list read as a valid empty one (\"no entries in file\", status 0)"
        if any(r in hit for r in ("header", "FAT", "mini FAT", "DIFAT", "directory")):
            return "damaged compound-file header, FAT, mini FAT or directory: streams lost"
        if "stream DestList" in hit:
            return ("%s DestList: the link streams that no entry read names are not reported"
                    % ("cut" if cut else "damaged"))
        if any(r.startswith("stream ") for r in hit):
            return ("link stream %s: its DestList entry dropped"
                    % ("cut or missing" if cut else "damaged (unparseable)"))
        return "automatic list, other"
    if cut:
        return "custom list cut: the links of the lost part not named"
    if any(r.startswith("link") for r in hit):
        return "custom list: a damaged link hides itself and the links after it"
    return "custom list, other"


def run(vesk, path, csv):
    args = [vesk, "-quiet", "-csv", path] if csv else [vesk, path]
    try:
        p = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           stdin=subprocess.DEVNULL, timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        return None, -1, "timed out"
    out = p.stdout.decode("utf-8", "replace").split("\n")
    if csv:
        # The run header (3 lines), its empty line, the column names.
        records = max(0, len([l for l in out if l != ""]) - 4)
    else:
        records = sum(1 for l in out if l.startswith("source path/filename:     "))
    return records, p.returncode, p.stderr.decode("utf-8", "replace")


def noted(err):
    lines = [l for l in err.split("\n") if l.strip()]
    return any(not l.startswith("no entries in file") for l in lines)


def short(err):
    lines = [l.strip() for l in err.split("\n") if l.strip()]
    text = " | ".join(lines)
    return text if len(text) < 300 else text[:297] + "..."


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    vesk, lists = sys.argv[1], sys.argv[2]
    samples = sys.argv[3] if len(sys.argv) > 3 else ""
    files = []
    for f in sorted(os.listdir(lists)):
        files.append(("written/" + f, os.path.join(lists, f)))
    if samples and os.path.isdir(samples):
        for root, _, names in sorted(os.walk(samples)):
            for f in sorted(names):
                if f.endswith("Destinations-ms"):
                    p = os.path.join(root, f)
                    files.append((os.path.relpath(p, samples), p))
    else:
        print("damage-sweep: no samples folder; sweeping the written lists only", file=sys.stderr)

    work = tempfile.mkdtemp(prefix="vesk-sweep-")
    total = said = silent = same = hangs = base_silent = forms_differ = 0
    silent_cases = []
    kinds = collections.Counter()
    kind_example = {}
    try:
        for label, path in files:
            with open(path, "rb") as fh:
                data = fh.read()
            name = os.path.basename(path)
            automatic = name.endswith(".automaticDestinations-ms")
            target = os.path.join(work, name)
            base = {}
            for csv in (False, True):
                base[csv] = run(vesk, path, csv)
            base_records = base[False][0]
            if base[True][0] != base_records:
                forms_differ += 1
                print("forms differ on sound %s: text %s, csv %s" % (label, base_records, base[True][0]))
            # Every link stream of a sound automatic list, and every link
            # header of a sound custom list, must give a record or a note.
            streams = link_stream_count(data) if automatic else data.count(LNK_START)
            if streams is not None and base_records is not None and base_records < streams:
                st, err = base[False][1], base[False][2]
                if not (st in (2, 255) and noted(err)):
                    base_silent += 1
                    silent_cases.append("%s (sound): %d links, %d records, status %d, stderr: %s"
                                        % (label, streams, base_records, st, short(err) or "-"))
            if not base_records:
                continue
            for what, bytes_, hit in variants(label, data, automatic):
                with open(target, "wb") as fh:
                    fh.write(bytes_)
                total += 1
                results = [run(vesk, target, csv) for csv in (False, True)]
                if any(r[0] is None for r in results):
                    hangs += 1
                    silent_cases.append("%s: %s: vesk timed out" % (label, what))
                    continue
                worst = None
                for (records, status, err) in results:
                    if records < base_records:
                        loud = status in (2, 255) and noted(err)
                        if worst is None or (worst[0] and not loud):
                            worst = (loud, records, status, err)
                if worst is None:
                    same += 1
                elif worst[0]:
                    said += 1
                else:
                    silent += 1
                    kind = category(automatic, what, hit, worst[3])
                    kinds[kind] += 1
                    kind_example.setdefault(kind, "%s: %s: %d of %d records, status %d, stderr: %s"
                                            % (label, what, worst[1], base_records, worst[2],
                                               short(worst[3]) or "-"))
                    silent_cases.append("%s: %s: %d of %d records, status %d, stderr: %s"
                                        % (label, what, worst[1], base_records, worst[2],
                                           short(worst[3]) or "-"))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    for case in silent_cases:
        print("SILENT " + case)
    print()
    print("silent losses by likely kind (count; first example):")
    for kind, n in kinds.most_common():
        print("  %4d  %s\n        %s" % (n, kind, kind_example[kind][:400]))
    print()
    print("files swept:                      %d" % len(files))
    print("variants:                         %d" % total)
    print("  all records kept:               %d" % same)
    print("  fewer records, said:            %d" % said)
    print("  fewer records, silent:          %d" % silent)
    print("  timed out:                      %d" % hangs)
    print("sound lists losing links:         %d" % base_silent)
    if forms_differ:
        print("sound lists whose forms differ:   %d" % forms_differ)
    return 0 if silent == 0 and hangs == 0 and base_silent == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
