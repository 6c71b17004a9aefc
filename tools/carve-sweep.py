#!/usr/bin/env python3
"""Carve sweep: links, lists and custom lists laid out as dumps are, each
dump scored against where every piece was placed.

The pieces come from vesk_carve_inputs (items.tsv: each piece, its class and
where its links' headers lie) and, when a samples folder is given, from the
sample lists and links (where their links lie is read once from a run over
the sample alone behind a link). Layouts: a piece across the carve's chunk
and read-window edges at every 512-byte step; pieces back to back, at 4 KiB
steps and with gaps of random bytes; behind a leading list, a leading
compound file that is no list, and a list with zeros after it; a list inside
a list's stream, levels deep; pieces in the data area of volume images.

Every entry must be reported once, at its offset, with its source type (a
list's link "VESKLIST (carved allocated)", a loose one "Shortcut LNK (carved
- 0x...)", a leading list's "VESKLIST (automatic)"); a row at no placed
offset is junk; any note on standard error or a status other than 0 counts.
Prints recall, duplicates, junk, wrong types and notes per layout and fails
on anything short of perfect.

  carve-sweep.py [-j JOBS] VESK INPUTS_DIR [SAMPLES_DIR]
"""
import argparse
import concurrent.futures
import csv
import io
import os
import random
import subprocess
import sys
import tempfile

CHUNK = 32768


def noise(rng, n):
    return bytes(rng.getrandbits(8) for _ in range(n)) if n < 64 else rng.randbytes(n)


class Piece:
    def __init__(self, name, kind, data, entries):
        self.name, self.kind, self.data = name, kind, data
        self.entries = entries  # [(offset in the piece, "L" list's / "K" loose / type)]


class Dump:
    """Bytes and the entries expected at their offsets."""

    def __init__(self, layout, name, damaged=False):
        self.layout, self.name = layout, name
        self.data = bytearray()
        self.expected = {}
        # Damaged bytes: their damage must be said (a note, status 2).
        self.damaged = damaged

    def put(self, piece, at=None, lead=False):
        at = len(self.data) if at is None else at
        if len(self.data) < at:
            self.data += bytes(at - len(self.data))
        self.data[at:at + len(piece.data)] = piece.data
        for off, kind in piece.entries:
            a = at + off
            if lead and kind == "L":
                t = "VESKLIST (automatic)"
            elif kind == "L":
                t = "VESKLIST (carved allocated)"
            elif kind == "K":
                t = "Shortcut LNK (carved - 0x%08x)" % a if a else "VESKLIST (custom)"
            else:
                t = kind
            self.expected[a] = t
        return at + len(piece.data)


def load_items(folder):
    pieces = {}
    with open(os.path.join(folder, "items.tsv")) as f:
        for line in f:
            name, kind, entries = line.rstrip("\n").split("\t")
            data = open(os.path.join(folder, name + ".bin"), "rb").read()
            ents = [(int(e.split(":")[0]), e.split(":")[1]) for e in entries.split(",") if e]
            pieces[name] = Piece(name, kind, data, ents)
    return pieces


def run_vesk(vesk, path):
    p = subprocess.run([vesk, "-csv", "-quiet", "-show_offset", path], stdin=subprocess.DEVNULL,
                       capture_output=True)
    rows = []
    text = p.stdout.decode("utf-8", "replace")
    lines = text.split("\n")
    start = next((i for i, l in enumerate(lines) if l.startswith("source path/filename,")), None)
    if start is not None:
        reader = csv.reader(io.StringIO("\n".join(lines[start:])))
        head = next(reader)
        ti, oi = head.index("source type"), head.index("LNK offset")
        for r in reader:
            if len(r) > max(ti, oi):
                rows.append((int(r[oi], 16) if r[oi] else -1, r[ti]))
    notes = [l for l in p.stderr.decode("utf-8", "replace").split("\n") if l.strip()]
    return p.returncode, rows, notes


def score(vesk, tmp, dump):
    path = os.path.join(tmp, dump.name)
    with open(path, "wb") as f:
        f.write(dump.data)
    status, rows, notes = run_vesk(vesk, path)
    os.remove(path)
    seen = {}
    junk = wrong = 0
    for off, t in rows:
        if off not in dump.expected:
            junk += 1
        elif dump.expected[off] != t:
            wrong += 1
        else:
            seen[off] = seen.get(off, 0) + 1
    found = len(seen)
    dups = sum(n - 1 for n in seen.values())
    detail = None
    if dump.damaged:
        # Said is right; unsaid counts as a note missing.
        notes = [] if notes and status == 2 else ["damage not said"]
        status = 0
    if found != len(dump.expected) or dups or junk or wrong or notes or status:
        missing = sorted(set(dump.expected) - set(seen))[:4]
        detail = "%s: status %d, missing %s, rows %s, notes %s" % (
            dump.name, status, missing, [r for r in rows if dump.expected.get(r[0]) != r[1]][:4],
            notes[:3])
    return dump.layout, len(dump.expected), found, dups, junk, wrong, len(notes), status != 0, detail


def list_cells(vesk, path):
    """Status, the DestList cells of each row that has them (sorted) and the
    notes, without the file's name or where a carved list lies."""
    p = subprocess.run([vesk, "-csv", "-quiet", path], stdin=subprocess.DEVNULL,
                       capture_output=True)
    lines = p.stdout.decode("utf-8", "replace").split("\n")
    start = next((i for i, l in enumerate(lines) if l.startswith("source path/filename,")), None)
    cells = []
    if start is not None:
        reader = csv.reader(io.StringIO("\n".join(lines[start:])))
        head = next(reader)
        cols = [head.index(c) for c in ("MRU/MFU", "stream#", "MRU date", "MRU-UTC", "interaction")
                if c in head]
        ti = head.index("source type")
        for r in reader:
            # A list's rows, each at its place: not the link before it, nor
            # links no stream of the list reaches.
            if (len(r) > max(cols + [ti]) and cols and r[cols[0]].strip().isdigit() and
                    r[ti].strip() in ("VESKLIST (automatic)", "VESKLIST (carved allocated)")):
                cells.append(tuple(r[c].strip() for c in cols))
    notes = []
    for l in p.stderr.decode("utf-8", "replace").split("\n"):
        if l.strip():
            l = l.replace(path, "FILE")
            for lead in (0x1000,):
                l = l.replace(" (compound file at offset 0x%x)" % lead, "")
            notes.append(l)
    return p.returncode, sorted(cells), sorted(notes)


def score_as_file(vesk, tmp, piece, link0, rng):
    """A list carved behind a link and behind bytes that are no link against
    the same list read as a file: the same rows, cells, notes and status."""
    alone = os.path.join(tmp, piece.name + ".automaticDestinations-ms")
    with open(alone, "wb") as f:
        f.write(piece.data)
    want = list_cells(vesk, alone)
    os.remove(alone)
    results = []
    for lead_name, lead in (("link", link0.data), ("bytes", noise(rng, 4096))):
        path = os.path.join(tmp, "asfile-%s-%s" % (piece.name, lead_name))
        with open(path, "wb") as f:
            f.write(lead + bytes(4096 - len(lead)) + piece.data)
        got = list_cells(vesk, path)
        os.remove(path)
        detail = None
        if got != want:
            detail = "%s behind %s: carved status %d, %d rows, notes %s; as a file status %d, " \
                     "%d rows, notes %s" % (piece.name, lead_name, got[0], len(got[1]), got[2][:2],
                                            want[0], len(want[1]), want[2][:2])
        ok = got == want
        results.append(("read as a file", len(want[1]), len(want[1]) if ok else 0, 0, 0,
                        0 if ok else 1, 0, False, detail))
    return results


def sample_pieces(vesk, tmp, folder, link0):
    """Each sound sample whose run alone behind a link gives no note, with
    where its entries lie in it."""
    names = []
    for root, _, files in os.walk(folder):
        for f in sorted(files):
            low = f.lower()
            if low.endswith((".automaticdestinations-ms", ".customdestinations-ms", ".lnk")):
                names.append(os.path.join(root, f))
    pieces = []
    for i, path in enumerate(sorted(names)):
        data = open(path, "rb").read()
        if len(data) < 76:
            continue
        d = Dump("ref", "ref-%d" % i)
        d.put(link0)
        d.put(Piece("s", "sample", data, []), at=4096)
        d.data += bytes(4096)
        p = os.path.join(tmp, d.name)
        with open(p, "wb") as f:
            f.write(d.data)
        status, rows, notes = run_vesk(vesk, p)
        os.remove(p)
        if status or notes:
            continue
        ents = []
        for off, t in rows:
            if 4096 <= off < 4096 + len(data):
                kind = "K" if t.startswith("Shortcut LNK (carved - ") else \
                    "L" if t == "VESKLIST (carved allocated)" else t
                ents.append((off - 4096, kind))
        if ents and len(set(o for o, _ in ents)) == len(ents):
            pieces.append(Piece(os.path.relpath(path, folder), "sample", data, ents))
    return pieces


def layouts(p, samples, rng):
    link0 = p["link0"]
    movable = [p[n] for n in ("list3", "list26", "list12big", "custom4", "link1", "link2",
                              "link3", "nested")]
    dumps = []
    # A piece across the chunk edges (the scan steps a chunk at a time from
    # the end of the first link) and the read window's, at every 512 bytes.
    for name in ("list26", "list3", "list12big", "custom4", "link3"):
        for k in range(1, 9):
            for d in range(-2048, 2049, 512):
                dump = Dump("edges", "edge-%s-%d-%d" % (name, k, d))
                at = len(link0.data) + k * CHUNK + d
                dump.put(link0)
                dump.data += noise(rng, at - len(dump.data))
                dump.put(p[name])
                dump.data += noise(rng, 3000)
                dumps.append(dump)
    # Back to back, in several orders.
    for n in range(3):
        dump = Dump("back to back", "b2b-%d" % n)
        dump.put(link0)
        order = movable[:]
        rng.shuffle(order)
        for piece in order:
            dump.put(piece)
        dumps.append(dump)
    # A list, a link, a list ... at 4 KiB steps.
    dump = Dump("4 KiB steps", "steps")
    dump.put(link0)
    for piece in (p["list26"], p["link1"], p["list3"], p["link2"], p["list12big"], p["link3"],
                  p["custom4"], p["list26"]):
        dump.put(piece, at=(len(dump.data) + 4095) // 4096 * 4096)
    dumps.append(dump)
    # Gaps of random bytes, of any length and of whole sectors.
    for n in range(4):
        dump = Dump("random gaps", "gaps-%d" % n)
        dump.put(link0)
        for piece in movable * 2:
            dump.data += noise(rng, rng.randrange(1, 20000) if n % 2 else 512 * rng.randrange(1, 40))
            dump.put(piece)
        dumps.append(dump)
    # Behind a leading list, a compound file that is no list, a list and zeros.
    for lead in ("list26", "list3", "nolist"):
        dump = Dump("behind a compound file", "lead-" + lead)
        dump.put(p[lead], lead=True)
        for piece in movable:
            dump.data += noise(rng, 512 * rng.randrange(0, 8))
            dump.put(piece)
        dumps.append(dump)
    dump = Dump("behind a compound file", "lead-zeros")
    dump.put(p["list26"], lead=True)
    dump.data += bytes(100000)
    dumps.append(dump)
    # Inside volume images: a first link in the first 32 KiB, then pieces
    # at cluster steps, random bytes between some.
    for vol, first in (("fat16", 8192), ("exfat", 7168), ("ext", 12288)):
        dump = Dump("volume images", "vol-" + vol)
        dump.put(p[vol])
        dump.put(link0, at=first)
        at = max(len(dump.data), len(p[vol].data))
        for piece in movable:
            at = (at + 4095) // 4096 * 4096
            if rng.randrange(2):
                dump.data += bytes(max(0, at - len(dump.data)))
                dump.data += noise(rng, 4096)
                at += 4096
            at = dump.put(piece, at=at)
        dump.data += bytes(8192)
        dumps.append(dump)
    # Compound files overlapping as on a used disk: a list in another's free
    # sectors, in a deleted list's stream, 1,000 bytes into a stream of a
    # compound file that is no list.
    for name in ("infree", "indeleted", "innolist"):
        dump = Dump("overlapping lists", "over-" + name)
        dump.put(link0)
        dump.put(p[name], at=4096)
        dump.data += noise(rng, 3000)
        dumps.append(dump)
    # The first 4, 8 and 16 KiB of a list, and a damaged head (of 4 KiB
    # sectors, cut before its free ones), then a list at gaps 0 and 512: the
    # entries whose links are lost with a head are kept, where their streams
    # would start, and said; the damaged head keeps its own.
    far = p["farhead"]
    heads = [Piece("farhead", "head", far.data[:k << 10], far.entries) for k in (4, 8, 16)]
    heads.append(p["largehead"])
    for n, head in enumerate(heads):
        for gap in (0, 512):
            dump = Dump("heads before a list", "head-%d-%d" % (n, gap), damaged=head.kind == "head")
            dump.put(link0)
            dump.put(head, at=4096)
            dump.data += noise(rng, gap)
            dump.put(p["shuffled"])
            dump.data += noise(rng, 3000)
            dumps.append(dump)
    # A list with a link stream zeroed: the entry is kept and said.
    dump = Dump("a link stream zeroed", "zeroed", damaged=True)
    dump.put(link0)
    dump.put(p["zeroed"], at=4096)
    dumps.append(dump)
    # Samples back to back at sector steps, behind a link and behind a list.
    for n, lead in enumerate((link0, p["list26"]) if samples else ()):
        dump = Dump("samples", "samples-%d" % n)
        dump.put(lead, lead=lead is not link0)
        for piece in samples:
            dump.put(piece, at=(len(dump.data) + 511) // 512 * 512)
        dumps.append(dump)
    return dumps


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("-j", type=int, default=2)
    ap.add_argument("vesk")
    ap.add_argument("inputs")
    ap.add_argument("samples", nargs="?")
    a = ap.parse_args()
    pieces = load_items(a.inputs)
    rng = random.Random(77)
    with tempfile.TemporaryDirectory() as tmp:
        samples = []
        if a.samples and os.path.isdir(a.samples):
            samples = sample_pieces(a.vesk, tmp, a.samples, pieces["link0"])
        else:
            print("samples folder absent: written pieces only")
        dumps = layouts(pieces, samples, rng)
        with concurrent.futures.ThreadPoolExecutor(a.j) as ex:
            results = list(ex.map(lambda d: score(a.vesk, tmp, d), dumps))
        for piece in pieces.values():
            if piece.kind == "asfile":
                results += score_as_file(a.vesk, tmp, piece, pieces["link0"], rng)
    totals = {}
    for r in results:
        t = totals.setdefault(r[0], [0] * 8)
        t[0] += 1
        for i in range(1, 7):
            t[i] += r[i]
        t[7] += r[7]
    print("%-24s %6s %8s %8s %5s %5s %6s %6s %7s" % ("layout", "dumps", "entries", "recall", "dups",
                                                    "junk", "wrong", "notes", "status"))
    bad = False
    for layout, t in totals.items():
        recall = 100.0 * t[2] / t[1] if t[1] else 100.0
        print("%-24s %6d %8d %7.2f%% %5d %5d %6d %6d %7d" % (layout, t[0], t[1], recall, t[3], t[4],
                                                             t[5], t[6], t[7]))
        bad |= t[2] != t[1] or any(t[3:8])
    if samples:
        print("samples used: %d pieces, %d entries" % (len(samples),
                                                      sum(len(s.entries) for s in samples)))
    for r in results:
        if r[8]:
            print("  " + r[8])
    if bad:
        print("FAIL: the carve sweep is short of perfect")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
