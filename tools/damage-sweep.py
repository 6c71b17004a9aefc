"""Damage sweep: counts the damaged jump lists and links on which vesk loses
or changes fields without saying so, and the sound ones it calls damaged.

Each sound file (those written by vesk_sweep_lists, and the sample lists and
links when the samples folder is there) is damaged in a fixed, seeded set of
ways, by kind:

  cut                 the file ends early
  zeroed              one 512-byte sector zeroed
  changed             a few random bytes changed
  inserted            bytes inserted inside a structure (in an automatic
                      list, inside a stream, whose size stays: its last bytes
                      fall off)
  deleted             bytes deleted inside a structure (the stream padded
                      with zeros)
  size grown          a declared size grown: extra-data blocks, ID-list
  size shrunk         items, property storages, values and their names,
                      LinkInfo and its offsets, StringData counts, DestList
                      path lengths, directory entry sizes and start sectors
  sector duplicated   one sector's bytes copied over another's
  sectors swapped     two sectors' bytes swapped
  FAT cross-linked    a FAT chain led into another chain
  mini-FAT cross-linked
  appended            bytes appended past the end
  bit flipped         a bit flipped in a link-header field or a declared size
  LinkFlags toggled   one LinkFlags bit toggled
  signature swapped   an extra-data block's signature made another known kind's
  LinkInfo moved      LinkInfo's header size or one of its offsets moved (to 0,
                      inside the header, to its end or past it, to another
                      part's offset, one byte either way)
  DestList field      a DestList header or entry field changed (a bit flipped,
  compound-file field one more or less, zero, all ones or random), or a
  custom-list field   compound-file header or directory-entry field, or a
                      custom list's header, category type, counts or footer
  nested storage      a property storage inside an ID-list item (in its 0xBEEF
                      block or its body): the storage's size made 0, the
                      block's size made 0, the first value's type changed
  label offset        a VolumeID's label offset moved to its declared size or
                      past it, or its size shrunk to the label offset
  DestList repeat     a DestList entry made to name the stream another entry
                      names (its own stream left, or taken out of the
                      directory)
  DestList count      the DestList header's pinned-entry count or last entry
                      number changed (a last number above every entry's is
                      sound)
  two combined        two of the damages above made in place, together
  extension field     a 16-bit field of a file entry's 0xBEEF0004 block (its
                      header, times, name offsets, file reference, last u16)
                      changed: a bit flipped, one more or less, zero, all
                      ones or random
  DOS time            a file entry's DOS date or time, or one of its
                      extension block's, made one no date covers (month 13,
                      day 0, 30 February, hour 31, minute 63, second 62,
                      all ones)

vesk reads each file as labelled text. A report's fields are its labelled
lines with a value (the run's own lines and the file's times left out), the
items of an ID list and the numbered lines under a label. A variant keeps the
file whole when its fields are the sound file's; it has fewer fields when some
label appears fewer times (a label shown only for some values of another, as
the time of an object identifier, aside); otherwise its fields changed value
(file offsets of later links in a custom list are left out: bytes inserted
before them move them). Fewer fields after bytes zeroed or changed in place,
no ID-list item among them, are "blanked" when no link's parsed size
changed, or a link got shorter by stopping on the zeroed bytes with no block
header left past them: the values went with their bytes. Fewer, blanked or
changed is "said" when vesk ends with status 2 or 255 and writes a note to
standard error (a "no entries in file" line is no note), and "silent"
otherwise.

Fewer or changed and silent is split by the sweep's own walk of the damaged
bytes (contradiction()): every structure by its declared sizes, offsets,
counts and signatures, each extra-data kind by its own walk, property values
by their types. When the walk finds a place the bytes contradict, vesk read
past something it should have said: fewer fields are a silent loss, changed
ones a contradicted value, and both fail. When it finds none, a changed
value (a character inside a text, a time, a flag) is counted apart as
"uncontradicted"; fewer fields are counted apart as "unrevealable" only when
each field lost went with its structure: the walk meets the structure that
holds it (HOLDERS: a block kind, a LinkInfo part, a text, the ID list, a
DestList entry) fewer times than in the sound file, as when a block is made
another kind of the same size or a cleared HasLinkInfo flag leaves its bytes
to be read as the next structure. A field lost while its structure is still
there (a header field, a DestList entry's time) was there to read: a silent
loss. Blanked is counted apart too.
--list-silent FILE lists each silent loss with the fields it lost.

A sound file that gives a note or status 2 is a false alarm, unless it is
listed in TRULY_DAMAGED with its reason. A sound file whose report lacks a
text or block its links declare (by a walk of its structures here), or a list
that gives fewer records than its links, without a note, is a silent loss; so
is one whose CSV form gives another number of records than its text form.

  damage-sweep.py [-j JOBS] [--only SUBSTRING] VESK FILES_DIR [SAMPLES_DIR]
  damage-sweep.py --write SOUND_FILE LABEL NUMBER OUT

Exits 1 unless silent losses (fewer fields, status 0, contradicted),
contradicted values, time-outs and false alarms are 0, and the walk finds
nothing in any sound file. Run through tools/damage-sweep.sh. Each example names its
variant as LABEL #NUMBER; --write writes that variant of SOUND_FILE (LABEL
as the summary gives it, "written/NAME" or the path below the samples
folder) to OUT.
"""

import collections
import concurrent.futures
import hashlib
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile

SEED = 20240305
TIMEOUT = 20
SECTOR = 512
END_OF_CHAIN = 0xFFFFFFFA

KINDS = ["cut", "zeroed", "changed", "inserted", "deleted", "size grown", "size shrunk",
         "sector duplicated", "sectors swapped", "FAT cross-linked", "mini-FAT cross-linked",
         "appended", "bit flipped", "LinkFlags toggled", "signature swapped", "LinkInfo moved",
         "DestList field", "compound-file field", "custom-list field", "nested storage",
         "label offset", "DestList repeat", "DestList count", "two combined"]
# Variants per kind and file (at most).
PER_KIND = {"cut": 6, "zeroed": 6, "changed": 4, "inserted": 10, "deleted": 10,
            "size grown": 14, "size shrunk": 14, "sector duplicated": 4, "sectors swapped": 4,
            "FAT cross-linked": 4, "mini-FAT cross-linked": 4, "appended": 4, "bit flipped": 8,
            "LinkFlags toggled": 6, "signature swapped": 4, "LinkInfo moved": 6,
            "DestList field": 12, "compound-file field": 12, "custom-list field": 8,
            "nested storage": 6, "label offset": 4, "DestList repeat": 4, "DestList count": 6,
            "two combined": 4}

# The written files, which hold every block kind, take every LinkFlags bit
# and every swap of one kind's signature for another's.
WRITTEN_PER_KIND = {"LinkFlags toggled": 27, "signature swapped": 11 * 10}

# The fields of file entries: their 0xBEEF0004 blocks and their DOS times.
KINDS += ["extension field", "DOS time"]
PER_KIND.update({"extension field": 12, "DOS time": 8})
# The written files hold a block of each version: every field of each.
WRITTEN_PER_KIND.update({"extension field": 4 * 24, "DOS time": 4 * 16})

# Sample files that are damaged as they stand: a note (status 2) on them is
# no false alarm. Each checked by hand with pylnk / pyolecf; path below the
# samples folder: the reason.
TRULY_DAMAGED = {
    "written/a7bd71699cd38d1c.automaticDestinations-ms":
        "written so: a link stream (7f) that no DestList entry names",
    "alfaifi-jumplist/win11/AutomaticDestinations/9b9cdc69c1c24e2b.automaticDestinations-ms":
        "a compound file of no streams (pyolecf: an empty root storage): no DestList",
    "ez-lnk/Bad/$I2GXWHL.lnk":
        "a recycle-bin $I record, no link (pylnk: unsupported header size: 2)",
    "ez-lnk/Misc/UpdateCheck.lnk.448476763_PartialConsoleBlock":
        "its console block runs past the end (pylnk: data block size exceeds file size)",
    "liblnk/file_header.1":
        "a header alone that announces an ID list (pylnk: unable to read link target "
        "identifier size)",
    "liblnk/file_header.error.2":
        "a wrong class identifier (pylnk: unsupported file class identifier)",
}

LNK_START = bytes.fromhex("4c0000000114020000000000c000000000000046")
STRING_NAMED = bytes.fromhex("05d5cdd59c2e1b10939708002b2cf9ae")
TEXTS = ["description", "relative path", "working directory", "arguments", "icon location"]
TEXT_LABELS = {"description": "Description", "relative path": "Relative path",
               "working directory": "Working directory", "arguments": "Cmdline args",
               "icon location": "Icon filename"}
BLOCKS = {0xA0000001: "environment", 0xA0000002: "console", 0xA0000003: "tracker",
          0xA0000004: "console code page", 0xA0000005: "special folder", 0xA0000006: "darwin",
          0xA0000007: "icon environment", 0xA0000008: "shim", 0xA0000009: "property store",
          0xA000000B: "known folder", 0xA000000C: "vista ID list"}
# A property store is left out: the report shows only some kinds of value.
BLOCK_LABELS = {"environment": "Environment DataBlk", "tracker": "Object ID",
                "special folder": "Special Folder ID",
                "known folder": "Known Folder ID", "icon environment": "Icon environ name",
                "vista ID list": "VistaAndAboveIDList"}


# ------------------------------------------------------------------ reading

class Reader:
    """Bounded little-endian reads of a byte string; None past its end."""

    def __init__(self, data):
        self.d = data

    def u16(self, at):
        return struct.unpack_from("<H", self.d, at)[0] if 0 <= at and at + 2 <= len(self.d) else None

    def u32(self, at):
        return struct.unpack_from("<I", self.d, at)[0] if 0 <= at and at + 4 <= len(self.d) else None


def lnk_map(data, base=0):
    """The declared sizes and the structures of the sound link at base:
    {"sizes": [(offset, width, name)], "spans": [(start, end, name)],
    "texts": [text names with a count above 0], "blocks": [block kinds],
    "end": the offset past its terminal block}, or None."""
    r = Reader(data)
    if data[base:base + 20] != LNK_START:
        return None
    flags = r.u32(base + 20)
    sizes, spans, texts, blocks = [], [(base, base + 76, "header")], [], []
    placed, link_info, lists = [], None, []
    at = base + 76
    if flags & 1:
        n = r.u16(at)
        if n is None:
            return None
        sizes.append((at, 2, "ID list size"))
        spans.append((at, at + 2 + n, "ID list"))
        item_walk(r, at + 2, at + 2 + n, sizes, spans, "ID-list item")
        lists.append((at + 2, at + 2 + n))
        at += 2 + n
    if flags & 2:
        link_info_walk(r, at, sizes, spans)
        n = r.u32(at)
        if n is None:
            return None
        link_info = at
        at += n
    width = 2 if flags & 0x80 else 1
    for i, name in enumerate(TEXTS):
        if flags & (4 << i):
            c = r.u16(at)
            if c is None:
                return None
            sizes.append((at, 2, "StringData count (%s)" % name))
            spans.append((at, at + 2 + c * width, "StringData " + name))
            if c:
                texts.append(name)
            at += 2 + c * width
    while True:
        s = r.u32(at)
        if s is None:
            return None
        if s < 4:
            spans.append((at, at + 4, "terminal block"))
            at += 4
            break
        sig = r.u32(at + 4)
        kind = BLOCKS.get(sig, "unknown 0x%08x" % (sig or 0))
        placed.append((at, s, sig))
        if kind != "property store":
            blocks.append(kind)
        sizes.append((at, 4, "extra-data block size (%s)" % kind))
        spans.append((at, at + s, "extra-data block (%s)" % kind))
        if kind == "property store":
            # Shown only when it holds a value.
            if store_walk(r, at + 8, at + s, sizes, spans):
                blocks.append(kind)
        elif kind == "vista ID list":
            item_walk(r, at + 8, at + s, sizes, spans, "vista ID-list item")
            lists.append((at + 8, at + s))
        elif kind in ("special folder", "known folder"):
            sizes.append((at + s - 4, 4, "extra-data block offset (%s)" % kind))
        at += s
    return {"sizes": sizes, "spans": spans, "texts": texts, "blocks": blocks, "end": at,
            "base": base, "link info": link_info, "placed": placed,
            "nested": nested_storages(data, lists)}


def nested_storages(data, lists):
    """[(0xBEEF block offset or None, storage offset)] of the property
    storages that the ID lists' items hold, in their 0xBEEF blocks or in
    their bodies."""
    r, out = Reader(data), []
    for start, end in lists:
        at = data.find(b"1SPS", start, end)
        while at >= 0:
            storage, block = at - 4, None
            if 24 <= (r.u32(storage) or 0) <= end - storage:
                # The block that holds it: the nearest 0xBEEF header before
                # it whose size reaches past the storage's first bytes.
                for q in range(storage - 8, max(start, storage - 64) - 1, -1):
                    sig = r.u32(q + 4)
                    if sig is not None and sig >> 16 == 0xBEEF and q + (r.u16(q) or 0) > storage + 8:
                        block = q
                        break
                out.append((block, storage))
            at = data.find(b"1SPS", at + 4, end)
    return out


def item_walk(r, at, end, sizes, spans, what):
    while at + 2 <= end:
        s = r.u16(at)
        if not s:
            break
        sizes.append((at, 2, what + " size"))
        spans.append((at, at + s, what))
        at += s


def link_info_walk(r, li, sizes, spans):
    n, header = r.u32(li), r.u32(li + 4)
    if n is None or header is None:
        return
    sizes += [(li, 4, "LinkInfo size"), (li + 4, 4, "LinkInfo header size")]
    spans.append((li, li + n, "LinkInfo"))
    fields = [(12, "VolumeID"), (16, "local base path"), (20, "network link"), (24, "suffix")]
    if header >= 36:
        fields += [(28, "Unicode local base path"), (32, "Unicode suffix")]
    for off, name in fields:
        v = r.u32(li + off)
        if v:
            sizes.append((li + off, 4, "LinkInfo offset (%s)" % name))
    vol = r.u32(li + 12)
    if vol and r.u32(li + vol) is not None:
        sizes.append((li + vol, 4, "VolumeID size"))
        sizes.append((li + vol + 12, 4, "VolumeID label offset"))
        spans.append((li + vol, li + vol + (r.u32(li + vol) or 0), "VolumeID"))
    net = r.u32(li + 20)
    if net and r.u32(li + net) is not None:
        sizes.append((li + net, 4, "network link size"))
        sizes.append((li + net + 8, 4, "network link name offset"))
        spans.append((li + net, li + net + (r.u32(li + net) or 0), "network link"))


def store_walk(r, at, end, sizes, spans):
    """The values of a property store block's storages: their count."""
    values = 0
    while at + 4 <= end:
        s = r.u32(at)
        if not s:
            break
        sizes.append((at, 4, "property storage size"))
        spans.append((at, at + s, "property storage"))
        named = r.d[at + 8:at + 24] == STRING_NAMED
        v = at + 24
        while v + 4 <= at + s:
            vs = r.u32(v)
            if not vs:
                break
            sizes.append((v, 4, "property value size"))
            spans.append((v, v + vs, "property value"))
            if named:
                sizes.append((v + 4, 4, "property name size"))
            v += vs
            values += 1
        at += s
    return values


def destlist_map(data):
    """DestList entries: path lengths (and property storage sizes)."""
    r = Reader(data)
    version, count = r.u32(0), r.u32(4)
    if version is None:
        return [], []
    fixed, length_at = (114, 112) if version == 1 else (130, 128)
    sizes, spans, at = [], [], 32
    for _ in range(min(count or 0, 100000)):
        n = r.u16(at + length_at)
        if n is None:
            break
        sizes.append((at + length_at, 2, "DestList path length"))
        end = at + fixed + 2 * n
        if version != 1:
            p = r.u32(end)
            if p is None:
                break
            sizes.append((end, 4, "DestList property storage size"))
            end += 4 + p
        spans.append((at, end, "DestList entry"))
        at = end
    return sizes, spans


class Cfb:
    """The structures of a sound compound file: sector size, FAT and mini
    FAT with where each entry lies, directory entries, each stream's bytes
    as a list of file offsets."""

    def __init__(self, data):
        self.ok = False
        if len(data) < 512 or data[:8] != bytes.fromhex("d0cf11e0a1b11ae1"):
            return
        r = Reader(data)
        self.size = size = 1 << r.u16(30)
        mini = 1 << r.u16(32)
        self.cutoff = r.u32(56)
        self.nsectors = (len(data) - size) // size
        per = size // 4
        # As many FAT sectors as the header counts: slots past them are
        # not read.
        count = r.u32(44)
        fat_sectors = [r.u32(76 + 4 * i) for i in range(109)]
        difat, seen = r.u32(68), 0
        while (len(fat_sectors) < count and difat < END_OF_CHAIN and seen < 1000 and
               (difat + 2) * size <= len(data)):
            at = (difat + 1) * size
            fat_sectors += struct.unpack_from("<%dI" % (per - 1), data, at)
            difat = r.u32(at + size - 4)
            seen += 1
        fat_sectors = [s for s in fat_sectors[:count] if s < END_OF_CHAIN]
        self.fat_count_kept = len(fat_sectors) == count
        self.fat, self.fat_at = [], []
        for s in fat_sectors:
            for k in range(per):
                at = (s + 1) * size + 4 * k
                if at + 4 > len(data):
                    return
                self.fat.append(r.u32(at))
                self.fat_at.append(at)
        self.minifat, self.minifat_at = [], []
        for s in self.chain(r.u32(60)):
            for k in range(per):
                at = (s + 1) * size + 4 * k
                self.minifat.append(r.u32(at))
                self.minifat_at.append(at)
        self.dir_sectors = self.chain(r.u32(48))
        self.entries = []  # (name, kind, start, length, offset of the entry)
        for s in self.dir_sectors:
            for k in range(size // 128):
                at = (s + 1) * size + 128 * k
                e = data[at:at + 128]
                if len(e) < 128 or e[66] == 0:
                    continue
                # The name runs to its NUL, as the reader takes it (its
                # length field aside).
                units = [e[k:k + 2] for k in range(0, 64, 2)]
                n = units.index(b"\0\0") if b"\0\0" in units else 32
                name = b"".join(units[:n]).decode("utf-16-le", "replace")
                self.entries.append((name, e[66], struct.unpack_from("<I", e, 116)[0],
                                     struct.unpack_from("<Q", e, 120)[0] & 0xFFFFFFFF, at))
        container = []
        for name, kind, start, length, _ in self.entries:
            if kind == 5:
                container = self.chain(start)
        self.container = container
        self.streams = {}  # name: (offsets of its bytes, in the mini stream, chain)
        for name, kind, start, length, _ in self.entries:
            if kind != 2:
                continue
            offsets, chain = [], []
            if length < self.cutoff:
                m, n = start, 0
                while m < END_OF_CHAIN and m < len(self.minifat) and n < 100000:
                    chain.append(m)
                    at = m * mini
                    if at // size < len(container):
                        base = (container[at // size] + 1) * size + at % size
                        offsets.extend(range(base, base + mini))
                    m, n = self.minifat[m], n + 1
            else:
                chain = self.chain(start)
                for s in chain:
                    offsets.extend(range((s + 1) * size, (s + 2) * size))
            offsets = [o for o in offsets[:length] if o < len(data)]
            self.streams[name] = (offsets, length < self.cutoff, chain)
        self.ok = True

    def chain(self, s):
        out = []
        while s is not None and s < END_OF_CHAIN and s < len(self.fat) and len(out) < 100000:
            out.append(s)
            s = self.fat[s]
        return out

    def read(self, data, name):
        return bytes(data[o] for o in self.streams[name][0])


def is_link_stream(name):
    try:
        return "%x" % int(name, 16) == name
    except ValueError:
        return False


# ---------------------------------------------------------------- variants

class Target:
    """Where a variant's structure-level damage goes: the bytes of a link or
    DestList, either the file itself (offsets as they are) or a stream of a
    compound file (offsets within it, written back through its sectors)."""

    def __init__(self, label, sizes, spans, stream=None, info=None):
        self.label, self.sizes, self.spans, self.stream = label, sizes, spans, stream
        self.info = info  # lnk_map's result for a link


def targets_of(data, automatic, custom):
    """The link and DestList structures of a sound file."""
    out = []
    if automatic:
        cfb = Cfb(data)
        if not cfb.ok:
            return out, None
        for name in sorted(cfb.streams):
            body = cfb.read(data, name)
            if name == "DestList":
                sizes, spans = destlist_map(body)
                out.append(Target("stream DestList", sizes, spans, (cfb, name)))
            elif is_link_stream(name):
                m = lnk_map(body)
                if m:
                    out.append(Target("stream " + name, m["sizes"], m["spans"], (cfb, name), m))
        return out, cfb
    starts = []
    at = data.find(LNK_START)
    while at >= 0:
        starts.append(at)
        at = data.find(LNK_START, at + 1)
        if not custom:
            break
    for i, s in enumerate(starts):
        m = lnk_map(data, s)
        if m:
            out.append(Target("link at %d" % s if custom else "link", m["sizes"], m["spans"],
                              info=m))
    return out, None


def put(data, target, offset, new):
    """data with the bytes at offset of target replaced by new."""
    b = bytearray(data)
    if target.stream is None:
        b[offset:offset + len(new)] = new
        return bytes(b)
    cfb, name = target.stream
    offsets = cfb.streams[name][0]
    for k, v in enumerate(new):
        if offset + k < len(offsets):
            b[offsets[offset + k]] = v
    return bytes(b)


def reframe(data, target, at, insert, count, rng):
    """Bytes inserted (or deleted) at offset at of the target: a file grows
    or shrinks; a stream keeps its size (its end falls off, or zeros pad
    it)."""
    if target.stream is None:
        if insert:
            return data[:at] + bytes(rng.randrange(256) for _ in range(count)) + data[at:]
        return data[:at] + data[at + count:]
    cfb, name = target.stream
    body = cfb.read(data, name)
    if insert:
        new = body[:at] + bytes(rng.randrange(256) for _ in range(count)) + body[at:]
    else:
        new = body[:at] + body[at + count:] + bytes(count)
    return put(data, target, 0, new[:len(body)])


def pick_spread(rng, items, key, n):
    """Up to n items, taking each kind (by key) in turn: every structure
    gets its share before any gets a second."""
    groups = collections.OrderedDict()
    for it in items:
        groups.setdefault(key(it), []).append(it)
    for g in groups.values():
        rng.shuffle(g)
    order = list(groups)
    rng.shuffle(order)
    out = []
    while len(out) < n and any(groups[k] for k in order):
        for k in order:
            if groups[k] and len(out) < n:
                out.append(groups[k].pop())
    return out


def variants(label, data, automatic, custom):
    """(kind, description, bytes) of a sound file, the same on every run."""
    rng = random.Random(SEED ^ int(hashlib.sha256(label.encode()).hexdigest()[:8], 16))
    size = len(data)
    out = []
    targets, cfb = targets_of(data, automatic, custom)

    def add(kind, what, b):
        if b != data:
            out.append((kind, what, b))

    # Cuts.
    cuts = {size - 1, size // 2}
    cuts |= {512, size - SECTOR} if automatic else {76, 100}
    while len(cuts) < PER_KIND["cut"] and size > 16:
        cuts.add(rng.randrange(1, size))
    for at in sorted(c for c in cuts if 0 < c < size)[:PER_KIND["cut"]]:
        add("cut", "cut at %d" % at, data[:at])
    # Zeroed sectors.
    sectors = (size + SECTOR - 1) // SECTOR
    picks = sorted(rng.sample(range(sectors), min(sectors, PER_KIND["zeroed"])))
    for s in picks:
        end = min(size, (s + 1) * SECTOR)
        add("zeroed", "bytes %d-%d zeroed" % (s * SECTOR, end - 1),
            data[:s * SECTOR] + bytes(end - s * SECTOR) + data[end:])
    # Changed bytes.
    for count in (1, 2, 4, 8)[:PER_KIND["changed"]]:
        b = bytearray(data)
        where = []
        for _ in range(count):
            at = rng.randrange(size)
            b[at] = rng.randrange(256) if rng.random() < 0.5 else b[at] ^ 0xFF
            where.append("0x%x" % at)
        add("changed", "bytes changed at " + ",".join(where), bytes(b))
    # Inserted and deleted bytes, inside a structure.
    spans = [(t, s) for t in targets for s in t.spans if s[1] - s[0] >= 2]
    for insert, kind in ((True, "inserted"), (False, "deleted")):
        for t, (a, b, name) in pick_spread(rng, spans, lambda x: x[1][2], PER_KIND[kind]):
            at = rng.randrange(a + 1, b)
            count = rng.choice([1, 2, 4, 8, 16])
            if not insert:
                count = min(count, b - at)
            add(kind, "%d bytes %s at %d of %s (%s %d-%d)" % (
                count, kind, at, t.label, name, a, b), reframe(data, t, at, insert, count, rng))
    # Declared sizes.
    fields = [(t, f) for t in targets for f in t.sizes]
    if cfb:
        for name, kind, start, length, at in cfb.entries:
            if kind == 2:
                fields.append((None, (at + 120, 4, "directory entry stream size")))
                fields.append((None, (at + 116, 4, "directory entry start sector")))
    raw = Target("file", [], [])
    for grow, kind in ((True, "size grown"), (False, "size shrunk")):
        for t, (at, width, name) in pick_spread(rng, fields, lambda x: x[1][2], PER_KIND[kind]):
            t = t or raw
            body = data if t.stream is None else t.stream[0].read(data, t.stream[1])
            old = struct.unpack_from("<H" if width == 2 else "<I", body, at)[0]
            if "start sector" in name:
                delta = 1
            elif "ID-list item" in name or "StringData" in name or "path length" in name:
                delta = rng.choice([1, 2, 3, 4, 8])
            else:
                delta = rng.choice([1, 2, 4, 8, 16, 64])
            new = old + delta if grow else old - delta
            if not 0 <= new < (1 << (8 * width)):
                continue
            add(kind, "%s at %d of %s: %d to %d" % (name, at, t.label, old, new),
                put(data, t, at, struct.pack("<H" if width == 2 else "<I", new)))
    # Sectors duplicated and swapped, chains cross-linked.
    if cfb and cfb.nsectors >= 2:
        n, ss = cfb.nsectors, cfb.size
        for _ in range(PER_KIND["sector duplicated"]):
            a, b = rng.sample(range(n), 2)
            add("sector duplicated", "sector %d copied over sector %d" % (a, b),
                data[:(b + 1) * ss] + data[(a + 1) * ss:(a + 2) * ss] + data[(b + 2) * ss:])
        for _ in range(PER_KIND["sectors swapped"]):
            a, b = sorted(rng.sample(range(n), 2))
            A, B = data[(a + 1) * ss:(a + 2) * ss], data[(b + 1) * ss:(b + 2) * ss]
            add("sectors swapped", "sectors %d and %d swapped" % (a, b),
                data[:(a + 1) * ss] + B + data[(a + 2) * ss:(b + 1) * ss] + A + data[(b + 2) * ss:])
        for mini, kind in ((False, "FAT cross-linked"), (True, "mini-FAT cross-linked")):
            chains = [(name, c) for name, (_, m, c) in sorted(cfb.streams.items()) if m == mini and c]
            if not mini:
                chains.append(("directory", cfb.dir_sectors))
            table, where = (cfb.minifat, cfb.minifat_at) if mini else (cfb.fat, cfb.fat_at)
            if len(chains) < 2:
                continue
            for _ in range(PER_KIND[kind]):
                (xn, x), (yn, y) = rng.sample(chains, 2)
                s, into = rng.choice(x), rng.choice(y)
                if s >= len(where):
                    continue
                add(kind, "%s entry %d of %s led into %s's sector %d" % (
                    "mini-FAT" if mini else "FAT", s, xn, yn, into),
                    put(data, raw, where[s], struct.pack("<I", into)))
    # Appended bytes.
    for count, zeros in ((1, False), (100, True), (511, False), (4096, False))[:PER_KIND["appended"]]:
        tail = bytes(count) if zeros else bytes(rng.randrange(256) for _ in range(count))
        add("appended", "%d %s bytes appended" % (count, "zero" if zeros else "random"), data + tail)
    field_variants(data, targets, cfb, custom, rng, add, label.startswith("written/"))
    # Seeded apart, so that the kinds before keep their variants.
    label_and_destlist_variants(data, targets, cfb, random.Random("%s/%d" % (label, SEED)), add)
    file_entry_variants(data, targets, label, add)
    # Two damages made in place, together.
    alone = [v for v in out if v[0] in IN_PLACE and len(v[2]) == size]
    for _ in range(PER_KIND["two combined"] if len(alone) >= 2 else 0):
        (ka, wa, a), (kb, wb, b) = rng.sample(alone, 2)
        both = bytearray(a)
        for i in (i for i in range(size) if b[i] != data[i]):
            both[i] = b[i]
        add("two combined", "%s (%s) and %s (%s)" % (wa, ka, wb, kb), bytes(both))
    return out


# The outcomes that no note goes with.
SILENT = ("fewer silent", "fewer unrevealable", "blanked silent", "changed contradicted",
          "changed uncontradicted", "whole contradicted")
# The kinds whose damage the report may show in no field: kept whole, they
# must still be said when the bytes contradict themselves.
SAID_WHEN_KEPT = {"label offset", "DestList repeat", "DestList count"}
# The kinds whose damage changes bytes where they lie, the file's size kept.
IN_PLACE = {"zeroed", "changed", "size grown", "size shrunk", "bit flipped", "LinkFlags toggled",
            "signature swapped", "LinkInfo moved", "DestList field", "compound-file field",
            "custom-list field", "nested storage"}
LNK_HEADER_FIELDS = [(0, 4, "header size"), (4, 16, "class identifier"), (20, 4, "LinkFlags"),
                     (24, 4, "file attributes"), (28, 8, "creation time"), (36, 8, "access time"),
                     (44, 8, "write time"), (52, 4, "file size"), (56, 4, "icon index"),
                     (60, 4, "show command"), (64, 2, "hot key"), (66, 10, "reserved")]
DESTLIST_HEADER_FIELDS = [(0, 4, "version"), (4, 4, "entry count"), (8, 4, "pinned count"),
                          (12, 4, "counter"), (16, 8, "last entry number"),
                          (24, 8, "added and removed")]
DESTLIST_ENTRY_FIELDS = [(0, 8, "checksum"), (8, 16, "volume droid"), (24, 16, "object droid"),
                         (40, 16, "birth volume droid"), (56, 16, "birth object droid"),
                         (72, 16, "NetBIOS name"), (88, 4, "entry number"), (96, 4, "access count"),
                         (100, 8, "MRU time"), (108, 4, "pin status")]
CFB_HEADER_FIELDS = [(0, 8, "signature"), (8, 16, "class identifier"), (24, 2, "minor version"),
                     (26, 2, "major version"), (28, 2, "byte order"), (30, 2, "sector shift"),
                     (32, 2, "mini sector shift"), (34, 6, "reserved"),
                     (40, 4, "directory sector count"), (44, 4, "FAT sector count"),
                     (48, 4, "first directory sector"), (52, 4, "transaction signature"),
                     (56, 4, "mini stream cutoff"), (60, 4, "first mini-FAT sector"),
                     (64, 4, "mini-FAT sector count"), (68, 4, "first DIFAT sector"),
                     (72, 4, "DIFAT sector count"), (76, 4, "first FAT sector")]
CFB_ENTRY_FIELDS = [(0, 64, "name"), (64, 2, "name length"), (66, 1, "object type"),
                    (67, 1, "color"), (68, 4, "left sibling"), (72, 4, "right sibling"),
                    (76, 4, "child"), (80, 16, "class identifier"), (96, 4, "state bits"),
                    (100, 8, "creation time"), (108, 8, "modified time"),
                    (116, 4, "start sector"), (120, 4, "stream size"), (124, 4, "stream size high")]


def field_value(rng, old, width):
    """A new value for a field of width bytes that held old: a bit flipped,
    one more or less, zero, all ones, or random bytes."""
    top = (1 << (8 * width)) - 1
    how = rng.randrange(6)
    if how == 0:
        new = old ^ (1 << rng.randrange(8 * width))
    elif how in (1, 2):
        new = (old + (1 if how == 1 else -1)) & top
    elif how == 3:
        new = 0
    elif how == 4:
        new = top
    else:
        new = rng.getrandbits(8 * width)
    return new if new != old else old ^ 1


def put_field(data, target, at, width, new):
    return put(data, target, at, new.to_bytes(width, "little"))


def body_of(data, t):
    return data if t.stream is None else t.stream[0].read(data, t.stream[1])


def field_variants(data, targets, cfb, custom, rng, add, written):
    """The field-level kinds: header bits, LinkFlags, block signatures,
    LinkInfo's header size and offsets, DestList, compound-file and
    custom-list fields, storages nested in items."""
    links = [t for t in targets if t.info]
    raw = Target("file", [], [])
    # A bit flipped in a link-header field or a declared size.
    fields = [(t, (t.info["base"] + o, w, "header " + n)) for t in links
              for o, w, n in LNK_HEADER_FIELDS] + [(t, f) for t in links for f in t.sizes]
    for t, (at, width, name) in pick_spread(rng, fields, lambda x: x[1][2],
                                           PER_KIND["bit flipped"]):
        body = body_of(data, t)
        if at + width > len(body):
            continue
        bit = rng.randrange(8 * width)
        old = int.from_bytes(body[at:at + width], "little")
        add("bit flipped", "bit %d of %s at %d of %s" % (bit, name, at, t.label),
            put_field(data, t, at, width, old ^ (1 << bit)))
    # Each LinkFlags bit toggled.
    bits = [(t, b) for t in links for b in range(27)]
    cap = (lambda kind: WRITTEN_PER_KIND[kind]) if written else (lambda kind: PER_KIND[kind])
    for t, b in pick_spread(rng, bits, lambda x: x[1], cap("LinkFlags toggled")):
        at = t.info["base"] + 20
        old = struct.unpack_from("<I", body_of(data, t), at)[0]
        add("LinkFlags toggled", "LinkFlags bit %d of %s" % (b, t.label),
            put_field(data, t, at, 4, old ^ (1 << b)))
    # An extra-data signature swapped for each other known one.
    swaps = [(t, at, sig, other) for t in links for at, _, sig in t.info["placed"]
             if sig in BLOCKS for other in BLOCKS if other != sig]
    for t, at, sig, other in pick_spread(rng, swaps, lambda x: (x[2], x[3]),
                                         cap("signature swapped")):
        add("signature swapped", "%s block at %d of %s made %s" % (
            BLOCKS[sig], at, t.label, BLOCKS[other]), put_field(data, t, at + 4, 4, other))
    # LinkInfo's header size and each of its offsets moved.
    moves = []
    for t in (t for t in links if t.info["link info"] is not None):
        li, body = t.info["link info"], body_of(data, t)
        n, header = struct.unpack_from("<II", body, li)
        offsets = [struct.unpack_from("<I", body, li + o)[0] for o in range(12, 28, 4)]
        moves += [(t, li + 4, "LinkInfo header size", v)
                  for v in (0, 0x1C, 0x24, 0x3C, header - 4, n + 4) if v != header]
        names = ["VolumeID", "local base path", "network link", "suffix"]
        at_ = [12, 16, 20, 24]
        if header >= 36:
            names += ["Unicode local base path", "Unicode suffix"]
            at_ += [28, 32]
        for o, name in zip(at_, names):
            old = struct.unpack_from("<I", body, li + o)[0]
            for v in {0, 4, header - 4, n, n + 16, old + 1, old - 1} | set(offsets):
                if v != old and 0 <= v < 1 << 32:
                    moves.append((t, li + o, "LinkInfo offset (%s)" % name, v))
    for t, at, name, v in pick_spread(rng, moves, lambda x: x[2], PER_KIND["LinkInfo moved"]):
        add("LinkInfo moved", "%s at %d of %s made %d" % (name, at, t.label, v),
            put_field(data, t, at, 4, v))
    # DestList header and entry fields.
    dl = [t for t in targets if t.label == "stream DestList"]
    if dl:
        t = dl[0]
        body = body_of(data, t)
        fields = [(o, w, "header " + n) for o, w, n in DESTLIST_HEADER_FIELDS]
        for a, b, _ in t.spans:
            fields += [(a + o, w, "entry " + n) for o, w, n in DESTLIST_ENTRY_FIELDS]
        fields += [(at, w, "entry " + n.split("DestList ")[1]) for at, w, n in t.sizes]
        for at, width, name in pick_spread(rng, fields, lambda x: x[2], PER_KIND["DestList field"]):
            width = min(width, 8)
            if at + width > len(body):
                continue
            old = int.from_bytes(body[at:at + width], "little")
            new = field_value(rng, old, width)
            add("DestList field", "%s at %d of %s: %d to %d" % (name, at, t.label, old, new),
                put_field(data, t, at, width, new))
    # Compound-file header and directory-entry fields.
    if cfb:
        fields = [(o, w, "header " + n) for o, w, n in CFB_HEADER_FIELDS]
        for name, kind, start, length, at in cfb.entries:
            fields += [(at + o, w, "directory entry " + n) for o, w, n in CFB_ENTRY_FIELDS]
        for at, width, name in pick_spread(rng, fields, lambda x: x[2],
                                           PER_KIND["compound-file field"]):
            w = min(width, 8)
            old = int.from_bytes(data[at:at + w], "little")
            new = field_value(rng, old, w)
            add("compound-file field", "%s at %d: %d to %d" % (name, at, old, new),
                put_field(data, raw, at, w, new))
    # Custom-list header, counts and footers.
    if custom:
        fields = custom_fields(data)
        for at, width, name in pick_spread(rng, fields, lambda x: x[2],
                                           PER_KIND["custom-list field"]):
            old = int.from_bytes(data[at:at + width], "little")
            new = field_value(rng, old, width)
            add("custom-list field", "%s at %d: %d to %d" % (name, at, old, new),
                put_field(data, raw, at, width, new))
    # Property storages nested in items' 0xBEEF blocks.
    nested = []
    for t in links:
        body = body_of(data, t)
        for block, storage in t.info["nested"]:
            nested.append((t, storage, 4, 0, "storage size made 0"))
            if block is not None:
                nested.append((t, block, 2, 0, "0xBEEF block size made 0"))
            v = storage + 24
            named = body[storage + 8:storage + 24] == STRING_NAMED
            name_size = struct.unpack_from("<I", body, v + 4)[0] if v + 8 <= len(body) else 0
            vt = v + 9 + name_size if named else v + 9
            if vt + 2 <= len(body) and struct.unpack_from("<I", body, v)[0] > 9:
                for new in (0x00FF, 0x0013, 0x0048):
                    nested.append((t, vt, 2, new, "first value's type made 0x%04x" % new))
    for t, at, width, new, what in pick_spread(rng, nested, lambda x: x[4].split(" made")[0],
                                               PER_KIND["nested storage"]):
        add("nested storage", "%s at %d of %s" % (what, at, t.label),
            put_field(data, t, at, width, new))


def label_and_destlist_variants(data, targets, cfb, rng, add):
    """A VolumeID's label offset at or past its declared size; DestList
    entries naming one stream; the DestList header's counts changed."""
    moves = []
    for t in (t for t in targets if t.info and t.info["link info"] is not None):
        li, body = t.info["link info"], body_of(data, t)
        if not struct.unpack_from("<I", body, li + 8)[0] & 1:
            continue
        vol = li + struct.unpack_from("<I", body, li + 12)[0]
        if vol + 16 > len(body):
            continue
        size, label = struct.unpack_from("<I", body, vol)[0], struct.unpack_from("<I", body, vol + 12)[0]
        moves += [(t, vol + 12, "label offset", v) for v in (size, size + 1, size + 16) if v != label]
        if 16 <= label < size:
            moves.append((t, vol, "VolumeID size", label))
    for t, at, name, v in pick_spread(rng, moves, lambda x: x[2], PER_KIND["label offset"]):
        add("label offset", "VolumeID %s at %d of %s made %d" % (name, at, t.label, v),
            put_field(data, t, at, 4, v))
    dl = [t for t in targets if t.label == "stream DestList"]
    if not dl or not cfb:
        return
    t = dl[0]
    body = body_of(data, t)
    if len(body) < 32:
        return
    entries = [a for a, _, _ in t.spans]
    numbers = [struct.unpack_from("<Q", body, a + 88)[0] for a in entries]
    # One entry made to name the stream another names: its own stream stays
    # (no entry names it then), or its directory entry is made unused.
    repeats = []
    for k, a in enumerate(entries):
        for j in range(len(entries)):
            if numbers[j] != numbers[k]:
                own = [at for name, kind, _, _, at in cfb.entries if kind == 2 and
                       name == "%x" % numbers[k]]
                repeats.append((k, j, None))
                if own:
                    repeats.append((k, j, own[0]))
    for k, j, own in pick_spread(rng, repeats, lambda x: x[2] is None, PER_KIND["DestList repeat"]):
        b = put_field(data, t, entries[k] + 88, 8, numbers[j])
        if own is not None:
            b = b[:own + 66] + b"\0" + b[own + 67:]
        add("DestList repeat", "entry %d of %s made to name stream %x%s" % (
            k + 1, t.label, numbers[j], ", its own stream unused" if own is not None else ""), b)
    pinned, last = struct.unpack_from("<I", body, 8)[0], struct.unpack_from("<Q", body, 16)[0]
    top = max(numbers, default=0)
    counts = [(8, 4, "pinned count", v) for v in (pinned + 1, pinned - 1, 0, 0xFFFFFFFF)
              if 0 <= v <= 0xFFFFFFFF and v != pinned]
    counts += [(16, 8, "last entry number", v) for v in (top - 1, 0, last + 5) if 0 <= v != last]
    for at, width, name, v in pick_spread(rng, counts, lambda x: x[2], PER_KIND["DestList count"]):
        add("DestList count", "header %s at %d of %s: %d to %d" % (name, at, t.label, {
            8: pinned, 16: last}[at], v), put_field(data, t, at, width, v))


# Where a 0xBEEF0004 block's version ends its fixed fields and its long name
# begins; its localized name follows the long name's end.
EXTENSION_NAMES_AT = {3: 20, 7: 38, 8: 42, 9: 46}
# Versions of a 0xBEEF0004 block that no layout has.
UNLAID_VERSIONS = (1, 2, 4, 5, 6, 10, 11, 12, 16, 65535)


def id_lists(body, info):
    """(start, end) of the ID lists of the link described by info: the
    link's own and its VistaAndAboveIDList's, each with its terminator."""
    r, base, out = Reader(body), info["base"], []
    if (r.u32(base + 20) or 0) & 1 and r.u16(base + 76) is not None:
        out.append((base + 78, base + 78 + r.u16(base + 76)))
    out += [(at + 8, at + s) for at, s, sig in info["placed"] if sig == 0xA000000C]
    return out


def file_entries(body, info):
    """[(item offset, [0xBEEF0004 block offsets])] of the file entries in
    the link's ID lists."""
    r, out = Reader(body), []
    for at, end in id_lists(body, info):
        while at + 2 <= end:
            s = r.u16(at)
            if not s or at + s > end:
                break
            if s >= 14 and body[at + 2] & 0x70 == 0x30:
                blocks = [q for q in range(at + 4, at + s - 8, 2)
                          if body[q + 4:q + 8] == b"\x04\x00\xef\xbe" and
                          r.u16(q + 2) in EXTENSION_NAMES_AT and q + r.u16(q) <= at + s]
                out.append((at, blocks))
            at += s
    return out


def bad_dos_values(old_date):
    """(what, date or None, time or None): dates and times no date covers."""
    year = old_date >> 9
    return [("month 13", year << 9 | 13 << 5 | 1, None), ("day 0", year << 9 | 1 << 5, None),
            ("30 February", year << 9 | 2 << 5 | 30, None), ("date all ones", 0xFFFF, None),
            ("hour 31", None, 31 << 11), ("minute 63", None, 63 << 5), ("second 62", None, 31),
            ("time all ones", None, 0xFFFF)]


def file_entry_variants(data, targets, label, add):
    """The file entries' kinds: every 16-bit field of their 0xBEEF0004
    blocks changed, and their DOS dates and times made ones no date
    covers. A random source of their own: the other kinds' picks stay."""
    rng = random.Random(SEED ^ 0x84 ^ int(hashlib.sha256(label.encode()).hexdigest()[:8], 16))
    cap = WRITTEN_PER_KIND if label.startswith("written/") else PER_KIND
    fields, times = [], []
    for t in (t for t in targets if t.info):
        body = body_of(data, t)
        r = Reader(body)
        for item, blocks in file_entries(body, t.info):
            if r.u16(item + 8):
                times.append((t, item + 8, "item"))
            for q in blocks:
                version, size = r.u16(q + 2), r.u16(q)
                name = "version %d block" % version
                for o in list(range(0, EXTENSION_NAMES_AT[version], 2)) + [size - 2]:
                    fields.append((t, q + o, "%s field %d" % (name, o)))
                for o, what in ((8, "created"), (12, "accessed")):
                    if r.u16(q + o):
                        times.append((t, q + o, "%s %s" % (name, what)))
    for t, at, name in pick_spread(rng, fields, lambda x: x[2], cap["extension field"]):
        old = struct.unpack_from("<H", body_of(data, t), at)[0]
        new = field_value(rng, old, 2)
        add("extension field", "0xBEEF0004 %s at %d of %s: %d to %d" % (name, at, t.label, old, new),
            put_field(data, t, at, 2, new))
    # Versions no layout has, each block of the written files made one.
    if label.startswith("written/"):
        for t, at, name in [f for f in fields if f[2].endswith(" field 2")]:
            old = struct.unpack_from("<H", body_of(data, t), at)[0]
            for new in UNLAID_VERSIONS:
                add("extension field", "0xBEEF0004 %s at %d of %s: %d to %d" % (
                    name, at, t.label, old, new), put_field(data, t, at, 2, new))
    bad = [(t, at, name, b) for t, at, name in times
           for b in bad_dos_values(struct.unpack_from("<H", body_of(data, t), at)[0])]
    for t, at, name, (what, date, time) in pick_spread(rng, bad, lambda x: (x[2], x[3][0]),
                                                       cap["DOS time"]):
        where, value = (at, date) if date is not None else (at + 2, time)
        add("DOS time", "DOS %s (%s) at %d of %s" % (what, name, where, t.label),
            put_field(data, t, where, 2, value))


def custom_fields(data):
    """[(offset, width, name)] of a custom list's header, category counts
    and footers, found by walking its categories over its links."""
    r = Reader(data)
    out = [(0, 4, "header version"), (4, 4, "header category count"), (8, 4, "header unknown")]
    count, at = r.u32(4) or 0, 12
    for _ in range(min(count, 64)):
        kind = r.u32(at)
        if kind is None:
            break
        out.append((at, 4, "category type"))
        at += 4
        if kind == 1:
            out.append((at, 4, "known category"))
            at += 4
        else:
            if kind == 0:
                n = r.u16(at) or 0
                out.append((at, 2, "category name length"))
                at += 2 + 2 * n
            links = r.u32(at)
            if links is None:
                break
            out.append((at, 4, "link count"))
            at += 4
            for _ in range(min(links, 4096)):
                m = lnk_map(data, at + 16)
                if not m:
                    return out
                at = m["end"]
        if r.u32(at) == 0xBABFFBAB:
            out.append((at, 4, "footer"))
            at += 4
    return out


# ------------------------------------------------------------ contradictions

# The sizes of the extra-data kinds that have one.
FIXED_BLOCK_SIZES = {0xA0000001: 0x314, 0xA0000002: 0xCC, 0xA0000003: 0x60, 0xA0000004: 0x0C,
                     0xA0000005: 0x10, 0xA0000006: 0x314, 0xA0000007: 0x314, 0xA000000B: 0x1C}
# Property value types: the base types of VARENUM a serialized value may hold
# (alone, as a vector or as an array).
VALUE_TYPES = set(range(0x00, 0x18)) - {0x0D, 0x09, 0x0F} | {0x1E, 0x1F, 0x40, 0x41, 0x42, 0x43,
                                                              0x44, 0x45, 0x46, 0x47, 0x48, 0x49}


class Contradiction(Exception):
    """What the bytes say against themselves, and where."""


def need(ok, what, at):
    if not ok:
        raise Contradiction("%s at %d" % (what, at))


def contradiction(data, automatic, custom, held=None):
    """The first place where the file's own sizes, offsets, counts or
    signatures contradict its bytes, as the sweep's own walk of every
    structure finds it (each block kind by its own walk, property values by
    their types); None when nothing in the bytes says they are damaged.
    held (a Counter) counts the structures the walk met that hold fields
    (see HOLDERS)."""
    held = collections.Counter() if held is None else held
    try:
        if automatic:
            cfb_walk(data, held)
        elif custom:
            custom_walk(data, held)
        else:
            link_walk(data, 0, len(data), held)
    except Contradiction as e:
        return str(e)
    except (struct.error, IndexError, ValueError, OverflowError, MemoryError) as e:
        return "unreadable (%s)" % e
    return None


# The structure that holds each field of a report; a field of no other is
# the link header's. A field lost while the walk of the damaged bytes still
# meets its structure, as often as in the sound file, was there to read.
HOLDERS = dict([(l, "ID list") for l in ("ID List", "ID List item", "Embedded ID List info item",
                                         "MFT Entry", "MFT Sequence#")] +
               [(l, "VolumeID") for l in ("Volume Type", "Volume serial num", "Volume label",
                                          "Local base path")] +
               [("Network name", "network link"), ("Device name", "network link"),
                ("Common path", "suffix")] +
               [(l, l) for l in TEXT_LABELS.values()] +
               [(l, "tracker") for l in ("NETBIOS name", "Volume ID", "Object ID")] +
               [(l, "property store") for l in ("PropertyStoreDataBlk",
                                                "PropertyStoreDataBlk item")] +
               [(l, "vista ID list") for l in ("VistaAndAboveIDList", "VistaAndAboveIDList-info",
                                               "VistaAndAboveIDList-info item")] +
               [(l, k) for k, l in BLOCK_LABELS.items() if k not in ("tracker", "vista ID list")] +
               [(l, "DestList entry") for l in ("stream #", "MRU/MFU index", "MRU time",
                                                "Interaction count")])


def unset_time(what, lost):
    """Whether the damage made one time field zero and only time fields went:
    a FILETIME of zero means no time was set."""
    return re.search(r" time at \d+ .*: \d+ to 0$", what) is not None and \
        all(l.endswith(" time") for l in lost)


def unset_reference(what, lost):
    """Whether the damage made a 0xBEEF0004 block's MFT entry number zero
    and only the file reference went: entry 0 with it means no reference."""
    return re.search(r"0xBEEF0004 version \d block field (20|22|24) at \d+ .*: \d+ to 0$",
                     what) is not None and all(l in ("MFT Entry", "MFT Sequence#") for l in lost)


def lost_unheld(lost, sound_held, held):
    """Whether every field lost went with its structure: the walk of the
    damaged bytes meets that structure fewer times than the sound file's."""
    return all(held[HOLDERS.get(l, "header")] < sound_held[HOLDERS.get(l, "header")]
               for l in lost)


def link_walk(d, base, end, held):
    """The end of the link at base, whose bytes end by end."""
    r = Reader(d[:end])
    need(end - base >= 76, "link header cut", base)
    need(d[base:base + 20] == LNK_START, "link header size or class identifier", base)
    flags, at = r.u32(base + 20), base + 76
    held["header"] += 1
    if flags & 1:
        held["ID list"] += 1
        n = r.u16(at)
        need(n is not None and at + 2 + n <= end, "ID list past the link's end", at)
        items_walk(d, at + 2, at + 2 + n, "ID list")
        at += 2 + n
    if flags & 2:
        at += link_info_check(r, at, end, held)
    width = 2 if flags & 0x80 else 1
    for i in range(5):
        if flags & (4 << i):
            c = r.u16(at)
            need(c is not None and at + 2 + c * width <= end, "StringData past the link's end", at)
            if c:
                held[TEXT_LABELS[TEXTS[i]]] += 1
            at += 2 + c * width
    while True:
        s = r.u32(at)
        need(s is not None, "extra data without its terminal block", at)
        if s < 4:
            return at + 4
        need(s >= 8 and at + s <= end, "extra-data block size", at)
        sig = r.u32(at + 4)
        held[BLOCKS.get(sig, "unknown")] += 1
        if sig in FIXED_BLOCK_SIZES:
            need(s == FIXED_BLOCK_SIZES[sig], "%s block of another size" % BLOCKS[sig], at)
        if sig == 0xA0000008:
            need(s >= 0x88, "shim block size", at)
        if sig == 0xA0000009:
            storages_walk(d, at + 8, at + s, "property store block")
        if sig == 0xA000000C:
            items_walk(d, at + 8, at + s, "vista ID-list block")
        at += s


def items_walk(d, at, end, what):
    """Items of an ID list that ends, with its terminator, at end; each
    item's property storages checked."""
    r = Reader(d[:end])
    while True:
        s = r.u16(at)
        need(s is not None, what + " without its terminator", at)
        if s == 0:
            need(at + 2 == end, what + " ends before its declared size", at)
            return
        need(s >= 3 and at + s <= end - 2, what + " item size", at)
        file_entry_check(d, at, s)
        p = d.find(b"1SPS", at, at + s)
        while p >= 0:
            storage = p - 4
            size = r.u32(storage)
            need(size is not None and 24 <= size <= at + s - storage,
                 "property storage size inside its item", storage)
            # A storage in an 0xBEEF block at its usual place lies inside it.
            if r.u32(storage - 12) is not None and r.u32(storage - 12) >> 16 == 0xBEEF:
                need(r.u16(storage - 16) >= 16 + size, "0xBEEF block shorter than its storage",
                     storage - 16)
            values_walk(d, storage, storage + size)
            p = d.find(b"1SPS", storage + size, at + s)
        at += s


def dos_time_valid(date, time):
    """Whether a DOS date (not 0) and time name a moment."""
    year, month, day = 1980 + (date >> 9), date >> 5 & 15, date & 31
    days = [31, 29 if year % 4 == 0 and (year % 100 or year % 400 == 0) else 28, 31, 30, 31, 30,
            31, 31, 30, 31, 30, 31]
    return (1 <= month <= 12 and 1 <= day <= days[month - 1] and time >> 11 <= 23 and
            time >> 5 & 63 <= 59 and time & 31 <= 29)


def file_entry_check(d, at, s):
    """A file entry's DOS time, and its 0xBEEF0004 blocks: their times, and
    name offsets where the block's version places the names (the long name
    where its fixed fields end, the localized name after the long name)."""
    r = Reader(d[:at + s])
    if s < 14 or d[at + 2] & 0x70 != 0x30:
        return
    date = r.u16(at + 8)
    need(not date or dos_time_valid(date, r.u16(at + 10)), "file entry DOS time", at + 8)
    for q in range(at + 4, at + s - 8, 2):
        version, size = r.u16(q + 2), r.u16(q)
        if d[q + 4:q + 8] != b"\x04\x00\xef\xbe" or version not in EXTENSION_NAMES_AT or \
                q + size > at + s:
            continue
        names = EXTENSION_NAMES_AT[version]
        need(size >= names + 2, "0xBEEF0004 block shorter than its fixed fields", q)
        for o in (8, 12):
            date = r.u16(q + o)
            need(not date or dos_time_valid(date, r.u16(q + o + 2)), "0xBEEF0004 DOS time",
                 q + o)
        need(r.u16(q + 16) == names, "0xBEEF0004 long-name offset", q + 16)
        end = names
        while end + 2 <= size - 2 and d[q + end:q + end + 2] != b"\0\0":
            end += 2
        end = min(end + 2, size - 2)
        loc = r.u16(q + (18 if version == 3 else 36))
        need(not loc or loc == end, "0xBEEF0004 localized-name offset", q)
        if version != 3:
            need(r.u16(q + 18) in (0, names, end), "0xBEEF0004 offset at 18", q + 18)


def storages_walk(d, at, end, what):
    """Storages one after another, the last followed by a zero u32 that
    ends exactly at end."""
    r = Reader(d[:end])
    while True:
        s = r.u32(at)
        need(s is not None, what + " without its terminator", at)
        if s == 0:
            # Zeros may pad the block.
            need(not any(d[at:end]), what + " ends before its declared size", at)
            return
        need(s >= 24 and at + s <= end and d[at + 4:at + 8] == b"1SPS",
             "property storage size or signature", at)
        values_walk(d, at, at + s)
        at += s


def values_walk(d, storage, end):
    """A storage's values: sizes, names and types that hold together, and
    the zero u32 that ends them."""
    r = Reader(d[:end])
    named = d[storage + 8:storage + 24] == STRING_NAMED
    at = storage + 24
    while True:
        s = r.u32(at)
        need(s is not None, "property values without their terminator", at)
        if s == 0:
            need(not any(d[at:end]), "property storage bytes past its values", at)
            return
        need(s >= 9 and at + s <= end, "property value size", at)
        t = at + 9
        if named:
            n = r.u32(at + 4)
            need(n is not None and n % 2 == 0 and at + 9 + n <= at + s and
                 d[at + 9 + n - 2:at + 9 + n] == b"\0\0", "property name size", at)
            t += n
        vt = r.u16(t)
        need(vt is not None and t + 4 <= at + s, "property value without its type", at)
        need(vt & 0x0FFF in VALUE_TYPES and vt >> 12 in (0, 1, 2), "property value type", t)
        if vt in (0x1E, 0x1F):
            count = r.u32(t + 4)
            need(count is not None and t + 8 + count * (2 if vt == 0x1F else 1) <= at + s,
                 "property text past its value", t)
        at += s


def link_info_check(r, li, end, held):
    """LinkInfo's size, after its header size and the offsets of the parts
    its flags announce: each inside LinkInfo, past the header, and not
    inside another part."""
    n, header, flags = r.u32(li), r.u32(li + 4), r.u32(li + 8)
    need(n is not None and n >= 28 and li + n <= end, "LinkInfo size", li)
    need(header == 0x1C or 0x24 <= (header or 0) <= n, "LinkInfo header size", li + 4)
    parts, starts = [], []

    def offset(field, name):
        v = r.u32(li + field)
        need(v is not None and header <= v < n, "LinkInfo offset (%s)" % name, li + field)
        starts.append((v, name))
        return v

    if flags & 1:
        held["VolumeID"] += 1
        v = offset(12, "VolumeID")
        vs = r.u32(li + v)
        need(vs is not None and vs >= 16 and v + vs <= n, "VolumeID size", li + v)
        lo = r.u32(li + v + 12)
        need(lo is not None and lo < vs, "VolumeID label offset", li + v + 12)
        parts.append((v, v + vs, "VolumeID"))
        offset(16, "local base path")
        # The UTF-16 texts may be left out (offset 0): the 8-bit ones stand.
        if header >= 0x24 and r.u32(li + 28):
            offset(28, "Unicode local base path")
    if flags & 2:
        held["network link"] += 1
        v = offset(20, "network link")
        ns = r.u32(li + v)
        need(ns is not None and ns >= 20 and v + ns <= n, "network link size", li + v)
        no = r.u32(li + v + 8)
        need(no is not None and 20 <= no < ns, "network link name offset", li + v + 8)
        parts.append((v, v + ns, "network link"))
    # The suffixes are no part the flags announce: 0 is none.
    if r.u32(li + 24):
        held["suffix"] += 1
        offset(24, "suffix")
    if header >= 0x24 and r.u32(li + 32):
        offset(32, "Unicode suffix")
    # A text runs to its NUL (its NUL is no byte of it: an empty suffix may
    # point at another text's NUL).
    for v, name in starts:
        if "path" in name or "suffix" in name:
            wide = name.startswith("Unicode")
            nul = li + v
            while nul < li + n and r.d[nul:nul + (2 if wide else 1)] != bytes(2 if wide else 1):
                nul += 2 if wide else 1
            parts.append((v, nul - li, name))
    for v, name in starts:
        for a, b, part in parts:
            need(not a <= v < b or name == part,
                 "LinkInfo offset (%s) inside the %s" % (name, part), li)
    return n


def cfb_walk(data, held):
    r = Reader(data)
    need(len(data) >= 512 and data[:8] == bytes.fromhex("d0cf11e0a1b11ae1"),
         "compound-file signature", 0)
    # The fields that place a stream's bytes; versions, byte order, colours
    # and the directory tree place none (the reader walks every entry).
    shift, mini = r.u16(30), r.u16(32)
    need(shift in (9, 12), "compound-file sector size", 30)
    need(mini == 6 and r.u32(56) == 4096, "mini sector size or cutoff", 32)
    cfb = Cfb(data)
    need(cfb.ok, "compound-file tables", 0)
    need(cfb.fat_count_kept, "FAT sector count", 44)
    used = collections.Counter()
    for chain in [cfb.dir_sectors, cfb.chain(r.u32(60)), cfb.container]:
        used.update(chain)
    entries = []
    for s in cfb.dir_sectors:
        for k in range(cfb.size // 128):
            entries.append((s + 1) * cfb.size + 128 * k)
    need(entries and data[entries[0] + 66] == 5, "root directory entry", entries[0] if entries else 0)
    for at in entries:
        kind = data[at + 66]
        if kind == 0:
            continue
        need(kind in (1, 2, 5), "directory entry type", at)
    for name, kind, start, length, at in cfb.entries:
        if kind != 2:
            continue
        offsets, in_mini, chain = cfb.streams[name]
        unit = 64 if in_mini else cfb.size
        need(len(chain) == (length + unit - 1) // unit and len(offsets) == length,
             "stream size against its chain (%s)" % name, at + 120)
        if not in_mini:
            used.update(chain)
        else:
            used.update(("mini", m) for m in chain)
        end = chain[-1] if chain else None
        table = cfb.minifat if in_mini else cfb.fat
        need(end is None or table[end] == 0xFFFFFFFE, "chain end (%s)" % name, at + 116)
    shared = [s for s, k in used.items() if k > 1]
    need(not shared, "sectors shared by two chains", 0)
    links = sorted(n for n in cfb.streams if is_link_stream(n))
    for name in links:
        body = cfb.read(data, name)
        link_walk(body, 0, len(body), held)
    if "DestList" in cfb.streams:
        destlist_walk(cfb.read(data, "DestList"), set(links), held)


def destlist_walk(d, links, held):
    r = Reader(d)
    if not d:
        return  # a list of no entries yet
    version, count = r.u32(0), r.u32(4)
    need(version in (1, 2, 3, 4, 5, 6), "DestList version", 0)
    need(count is not None, "DestList entry count", 4)
    fixed, length_at = (114, 112) if version == 1 else (130, 128)
    at, named = 32, set()
    pins, top = 0, 0
    for _ in range(count):
        n = r.u16(at + length_at)
        need(n is not None and at + fixed + 2 * n <= len(d), "DestList entry past the stream", at)
        number = r.u32(at + 88)
        held["DestList entry"] += 1
        need("%x" % number not in named, "DestList entry naming a stream already named", at + 88)
        pins += r.u32(at + 108) != 0xFFFFFFFF
        top = max(top, struct.unpack_from("<Q", d, at + 88)[0])
        named.add("%x" % number)
        need("%x" % number in links, "DestList entry that names no stream", at + 88)
        end = at + fixed + 2 * n
        if version != 1:
            p = r.u32(end)
            need(p is not None and end + 4 + p <= len(d), "DestList property storage size", end)
            if p:
                storages_walk(d, end + 4, end + 4 + p, "DestList entry storage")
            end += 4 + p
        at = end
    need(at == len(d), "DestList bytes past its entries", at)
    need(r.u32(8) == pins, "DestList pinned-entry count", 8)
    need(struct.unpack_from("<Q", d, 16)[0] >= top, "DestList last entry number", 16)
    need(links <= named, "link stream that no DestList entry names", 0)


def custom_walk(data, held):
    r = Reader(data)
    need(r.u32(0) == 2, "custom-list version", 0)
    count, at = r.u32(4), 12
    need(count is not None, "custom-list category count", 4)
    for _ in range(count):
        kind = r.u32(at)
        need(kind in (0, 1, 2), "custom-list category type", at)
        at += 4
        if kind == 1:
            at += 4
        else:
            if kind == 0:
                n = r.u16(at)
                need(n is not None, "category name", at)
                at += 2 + 2 * n
            links = r.u32(at)
            need(links is not None, "category link count", at)
            at += 4
            for _ in range(links):
                need(data[at:at + 16] == LNK_START[4:20], "link class identifier in a category",
                     at)
                at = link_walk(data, at + 16, len(data), held)
        need(r.u32(at) == 0xBABFFBAB, "category footer", at)
        at += 4

# ------------------------------------------------------------------ reports

LINE = re.compile(r"^([A-Za-z][A-Za-z/#.() -]*?):\s+(.*)$")
# Lines of the run, of the file system, and the file offsets that inserted
# bytes move: fields of no link.
NOT_FIELDS = {"source path/filename", "file modified", "file accessed", "file stats changed",
              "vesk ver", "run time", "command"}
MOVABLE = {"file offset", "File offset"}
# Shown only for some values of another field (a time and a MAC address only
# in a time-based object identifier): their absence is a changed value.
DERIVED = {"Target ObjID time", "MAC address"}
NUMBER = re.compile(r"0x[0-9a-f]+ \[(\d+)")


def fields_of(text):
    """The report's fields as (label, value) pairs."""
    out = []
    parent = None
    for line in text.split("\n"):
        if line.startswith(" ") and parent:
            if line.strip():
                out.append((parent + " item", line.strip()))
            continue
        m = LINE.match(line)
        if not m:
            parent = None
            continue
        label, value = m.group(1), m.group(2).strip()
        parent = label
        if label in NOT_FIELDS or label.startswith('"command') or not value:
            continue
        if label == "ID List":
            out.extend(("ID List item", v) for v in value.split("\\"))
        else:
            out.append((label, value))
    return out


def run(vesk, path):
    try:
        p = subprocess.run([vesk, path], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           stdin=subprocess.DEVNULL, timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        return None
    out = p.stdout.decode("utf-8", "replace")
    records = sum(1 for l in out.split("\n") if l.startswith("source path/filename:     "))
    return fields_of(out), records, p.returncode, p.stderr.decode("utf-8", "replace")


def noted(err):
    return any(l.strip() and not l.startswith("no entries in file") for l in err.split("\n"))


def loud(status, err):
    return status in (2, 255) and noted(err)


def short(err, path=None):
    lines = [l.strip() for l in err.split("\n") if l.strip()]
    text = " | ".join(lines)
    if path:
        text = text.replace(path, "F")
    return text if len(text) < 300 else text[:297] + "..."


def link_spans(fields):
    """[(file offset or None, parsed size)] of the links of a report, in
    order (a link file's first link at 0; a stream's links show none)."""
    out, at = [], None
    for label, value in fields:
        m = NUMBER.match(value)
        if label == "File offset" and m:
            at = int(m.group(1))
        elif label == "Parsed size" and m:
            out.append((at, int(m.group(1))))
            at = None
    return out


def stopped_on_zeros(data, zeroed, end, sound_end):
    """A link that now ends at end (its sound end sound_end) stopped on the
    bytes zeroed (start, end), and what it no longer reads holds no block
    header (a BlockSize of 8 or more before a 0xA000000N signature): nothing
    was left there to find."""
    if not zeroed[0] <= end - 4 < zeroed[1]:
        return False
    for at in range(end, sound_end - 7):
        sig = struct.unpack_from("<I", data, at + 4)[0]
        if sig & 0xFFFFFFF0 == 0xA0000000 and struct.unpack_from("<I", data, at)[0] >= 8:
            return False
    return True


def compare(sound, variant, zeroed, changed, variant_bytes):
    """"whole", "fewer" (with the labels that lost), "blanked" or
    "changed". Bytes zeroed or changed in place may take a value with them:
    fewer fields, no ID-list item among them, are "blanked" when every link's
    parsed size stays, or, for zeroed bytes, when a link stopped on the zeros
    with no block header left past them (no walk stopped short of anything
    it could read). zeroed: the range zeroed, or None."""
    a = collections.Counter(l for l, _ in sound if l not in DERIVED)
    b = collections.Counter(l for l, _ in variant if l not in DERIVED)
    lost = sorted(l for l in a if b[l] < a[l])
    # An ID-list item lost is an item walk stopped inside a list whose
    # declared size goes on: never blanked.
    if lost and "ID List item" not in lost:
        before, after = link_spans(sound), link_spans(variant)
        if (zeroed or changed) and before == after:
            return "blanked", lost
        if zeroed and len(before) == len(after) and all(
                x == y or (x[0] is not None and x[0] == y[0] and y[1] < x[1] and
                           stopped_on_zeros(variant_bytes, zeroed, y[0] + y[1], x[0] + x[1]))
                for x, y in zip(before, after)):
            return "blanked", lost
    if lost:
        return "fewer", lost
    keep = lambda fs: collections.Counter((l, v) for l, v in fs if l not in MOVABLE)
    if keep(sound) != keep(variant):
        differ = keep(sound) - keep(variant)
        return "changed", sorted({l for l, _ in differ})
    return "whole", []


def declared_lost(data, automatic, custom, fields, records):
    """What a sound file declares that its report lacks: texts and blocks of
    its links, links of a list without a record."""
    targets, cfb = targets_of(data, automatic, custom)
    want = collections.Counter()
    links = 0
    for t in targets:
        if t.label.startswith("stream DestList"):
            continue
        links += 1
        body = data if t.stream is None else t.stream[0].read(data, t.stream[1])
        base = int(t.label.split()[-1]) if t.label.startswith("link at") else 0
        m = lnk_map(body, base)
        for name in m["texts"]:
            want[TEXT_LABELS[name]] += 1
        for kind in m["blocks"]:
            if kind in BLOCK_LABELS:
                want[BLOCK_LABELS[kind]] += 1
    have = collections.Counter(l for l, _ in fields)
    lost = ["%s (%d of %d)" % (l, have[l], n) for l, n in sorted(want.items()) if have[l] < n]
    if (automatic or custom) and records < links:
        lost.append("records (%d of %d links)" % (records, links))
    return lost


# --------------------------------------------------------------------- main

def sweep_file(vesk, work, label, path, kind):
    """One sound file and its variants: (rows, notes) where rows are
    (damage kind, outcome, detail) and notes the file's own findings."""
    with open(path, "rb") as fh:
        data = fh.read()
    name = os.path.basename(path)
    automatic = kind == "automatic"
    custom = kind == "custom"
    d = tempfile.mkdtemp(dir=work)
    target = os.path.join(d, name)
    findings = []
    base = run(vesk, path)
    if base is None:
        return [], [("timeout", label, "sound file timed out")]
    fields, records, status, err = base
    if status != 0 or noted(err):
        findings.append(("false alarm", label, "status %d: %s" % (status, short(err, path))))
    # The CSV form gives as many records (its run header, empty line and
    # column names aside).
    try:
        csv = subprocess.run([vesk, "-quiet", "-csv", path], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=TIMEOUT)
        rows = max(0, len([l for l in csv.stdout.split(b"\n") if l]) - 4)
        if rows != records:
            findings.append(("forms differ", label, "text %d records, CSV %d" % (records, rows)))
    except subprocess.TimeoutExpired:
        findings.append(("timeout", label, "sound file timed out in CSV"))
    lost = declared_lost(data, automatic, custom, fields, records)
    if lost and not loud(status, err):
        findings.append(("sound loss", label, "report lacks " + ", ".join(lost)))
    # The walk that tells contradicted damage from the rest must find
    # nothing in a sound file.
    sound_held = collections.Counter()
    walk = contradiction(data, automatic, custom, sound_held)
    if walk:
        findings.append(("walk", label, walk))
    rows = []
    if not fields:
        return rows, findings
    for number, (dkind, what, b) in enumerate(variants(label, data, automatic, custom)):
        what = "#%d %s" % (number, what)
        with open(target, "wb") as fh:
            fh.write(b)
        got = run(vesk, target)
        if got is None:
            rows.append((dkind, "timed out", what, []))
            findings.append(("timeout", label, what))
            continue
        vf, _, vs, verr = got
        zeroed = None
        # Bytes zeroed or changed in place, alone or with another damage.
        m = re.search(r"bytes (\d+)-(\d+) zeroed", what)
        if m and dkind in ("zeroed", "two combined"):
            zeroed = (int(m.group(1)), int(m.group(2)) + 1)
        in_place = dkind == "changed" or (dkind == "two combined" and "bytes changed" in what)
        outcome, labels = compare(fields, vf, zeroed, in_place, b)
        said = loud(vs, verr)
        if outcome == "whole":
            # Damage no field shows (a header count, a label read from
            # bytes past its structure) kept without a word where the bytes
            # contradict themselves is silent.
            walk = None if said or dkind not in SAID_WHEN_KEPT else \
                contradiction(b, automatic, custom)
            rows.append((dkind, "whole said" if said else "whole contradicted" if walk else "whole",
                         what, [[], vs, "walk: " + walk if walk else short(verr, target)]))
            continue
        note = short(verr, target)
        if not said and outcome in ("fewer", "changed"):
            # Silent: a fault when the bytes contradict themselves (vesk
            # should have said so), else nothing in them could tell.
            held = collections.Counter()
            walk = contradiction(b, automatic, custom, held)
            if outcome == "fewer" and not walk and (unset_time(what, labels) or
                                                    unset_reference(what, labels)):
                # A time made zero is the format's "no time": shown as none,
                # a changed value nothing in the bytes contradicts.
                outcome = "changed uncontradicted"
            elif outcome == "fewer":
                hidden = not walk and lost_unheld(labels, sound_held, held)
                outcome = "fewer unrevealable" if hidden else "fewer silent"
            else:
                outcome = "changed contradicted" if walk else "changed uncontradicted"
            note = "walk: " + walk if walk else note
        else:
            outcome += " said" if said else " silent"
        rows.append((dkind, outcome, what, [labels, vs, note]))
    shutil.rmtree(d, ignore_errors=True)
    return rows, findings


def main():
    args = sys.argv[1:]
    if args and args[0] == "--write" and len(args) == 5:
        with open(args[1], "rb") as fh:
            data = fh.read()
        name = os.path.basename(args[1])
        out = variants(args[2], data, name.endswith(".automaticDestinations-ms"),
                       name.endswith(".customDestinations-ms"))
        dkind, what, b = out[int(args[3])]
        with open(args[4], "wb") as fh:
            fh.write(b)
        print("%s: %s" % (dkind, what))
        return 0
    jobs, only, list_silent = 2, None, None
    while args and args[0].startswith("-"):
        opt = args.pop(0)
        if opt == "-j":
            jobs = int(args.pop(0))
        elif opt == "--only":
            only = args.pop(0)
        elif opt == "--list-silent":
            list_silent = args.pop(0)
    if len(args) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    vesk, written = os.path.abspath(args[0]), args[1]
    samples = args[2] if len(args) > 2 else ""

    def kind_of(name):
        if name.endswith(".automaticDestinations-ms"):
            return "automatic"
        if name.endswith(".customDestinations-ms"):
            return "custom"
        return "lnk"

    files = [("written/" + f, os.path.join(written, f), kind_of(f))
             for f in sorted(os.listdir(written))]
    manifest = os.path.join(samples, "MANIFEST.tsv") if samples else ""
    if manifest and os.path.isfile(manifest):
        kinds = {"automaticDestinations": "automatic", "customDestinations": "custom", "lnk": "lnk"}
        with open(manifest, encoding="utf-8") as fh:
            for line in fh.read().split("\n")[1:]:
                cols = line.split("\t")
                if len(cols) > 7 and cols[7] in kinds:
                    files.append((cols[0], os.path.join(samples, cols[0]), kinds[cols[7]]))
    else:
        print("damage-sweep: no samples folder; sweeping the written files only", file=sys.stderr)
    if only:
        files = [f for f in files if only in f[0]]

    work = tempfile.mkdtemp(prefix="vesk-sweep-")
    try:
        with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
            done = list(pool.map(lambda f: (f, sweep_file(vesk, work, *f)), files))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    table = collections.OrderedDict((k, collections.Counter()) for k in KINDS)
    silent_examples = collections.OrderedDict()
    whole_said = collections.OrderedDict()
    false_alarms, sound_losses, timeouts, excused, walk_faults = [], [], [], [], []
    silent_now, contradicted = set(), set()
    for (label, path, kind), (rows, findings) in done:
        for what, lab, detail in findings:
            if what == "false alarm":
                if lab in TRULY_DAMAGED:
                    excused.append("%s: %s (%s)" % (lab, TRULY_DAMAGED[lab], detail))
                else:
                    false_alarms.append("%s: %s" % (lab, detail))
            elif what == "walk":
                if lab not in TRULY_DAMAGED:
                    walk_faults.append("%s: %s" % (lab, detail))
            elif what in ("sound loss", "forms differ"):
                sound_losses.append("%s: %s: %s" % (lab, what, detail))
            else:
                timeouts.append("%s: %s" % (lab, detail))
        for dkind, outcome, what, detail in rows:
            variant = "%s\t%s" % (label, what.split(" ", 1)[0])
            if outcome == "fewer silent":
                silent_now.add(variant)
            if outcome in ("changed contradicted", "whole contradicted"):
                contradicted.add(variant)
            table[dkind]["variants"] += 1
            table[dkind][outcome] += 1
            if outcome in SILENT:
                key = (outcome, dkind, what.split(" ", 1)[1].split(" at ")[0].split(": ")[0] if dkind.startswith("size")
                       else re.sub(r"\d+", "N", what.split(" of ")[-1]) if dkind in ("inserted", "deleted")
                       else "", kind, ",".join(detail[0][:4]))
                silent_examples.setdefault(key, []).append((label, what, detail))
            if outcome == "whole said":
                note = re.sub(r"0x[0-9a-f]+|\d+", "N", detail[2])
                whole_said.setdefault((dkind, note), []).append((label, what, detail))

    cols = [("variants", "variants", ""), ("whole", "kept", ""), ("whole said", "kept", "said"),
            ("whole contradicted", "kept", "contra."),
            ("fewer said", "fewer", "said"), ("fewer silent", "fewer", "silent"),
            ("fewer unrevealable", "fewer", "unreveal."), ("blanked said", "blanked", "said"),
            ("blanked silent", "blanked", "silent"), ("changed said", "changed", "said"),
            ("changed contradicted", "changed", "contra."),
            ("changed uncontradicted", "changed", "uncontra."), ("timed out", "timed", "out"),
            ("false alarm", "false", "alarms")]
    print("%-22s %s" % ("damage", " ".join("%9s" % c[1] for c in cols)))
    print("%-22s %s" % ("", " ".join("%9s" % c[2] for c in cols)))
    total = collections.Counter()
    for k, c in table.items():
        print("%-22s %s" % (k, " ".join("%9d" % c[x[0]] for x in cols)))
        total.update(c)
    print("%-22s %s" % ("all", " ".join("%9d" % total[x[0]] for x in cols)))
    # The sound files themselves: a note on one is a false alarm.
    sound_row = collections.Counter({"variants": len(files), "false alarm": len(false_alarms)})
    print("%-22s %s" % ("sound (no damage)", " ".join("%9d" % sound_row[x[0]] for x in cols)))
    print("kept: the fields of the sound file; fewer: some label fewer times; blanked: fewer,")
    print("after bytes zeroed or changed in place, every link's parsed size the same or (zeroed)")
    print("a link stopping on the zeros, no block header past them; changed: as many fields,")
    print("some of another value.")
    print("said: status 2 or 255 and a note. Silent, fewer or changed: contradicted (silent,")
    print("contra.) when the sweep's own walk of the damaged bytes finds a size, offset, count,")
    print("signature or value type they contradict; else nothing in the bytes reveals it")
    print("(unreveal., uncontra.).")
    print()
    sound = len(files)
    print("sound files: %d; false alarms: %d; silent losses on sound files: %d; timed out: %d; "
          "walk faults on sound files: %d"
          % (sound, len(false_alarms), len(sound_losses), len(timeouts), len(walk_faults)))
    for line in walk_faults:
        print("WALK FAULT " + line)
    for line in false_alarms:
        print("FALSE ALARM " + line)
    for line in sound_losses:
        print("SOUND LOSS " + line)
    for line in timeouts:
        print("TIMED OUT " + line)
    for line in excused:
        print("damaged sample " + line)
    print()
    print("fewer silent or changed contradicted, by the structure damaged (count):")
    by_structure = collections.Counter()
    for (outcome, dkind, sub, fkind, labels), cases in silent_examples.items():
        if outcome in ("fewer silent", "changed contradicted"):
            by_structure["%s, %s" % (dkind, sub) if sub else dkind] += len(cases)
    for what, n in by_structure.most_common():
        print("  %5d  %s" % (n, what))
    print()
    print("silent variants by class (count; up to two examples):")
    for key, cases in sorted(silent_examples.items(), key=lambda kv: -len(kv[1])):
        outcome, dkind, sub, fkind, labels = key
        print("  %4d  %s, %s%s, %s file: %s" % (len(cases), outcome, dkind,
                                              " (" + sub + ")" if sub else "", fkind, labels))
        for label, what, detail in cases[:2]:
            print("        %s: %s -> status %d, stderr: %s" % (label, what, detail[1],
                                                              detail[2] or "-"))
    print()
    # The faults by what the walk found the bytes contradict (a silent
    # loss with no contradiction lost a field its structure still holds).
    print("fewer silent or changed contradicted, by what the walk found (count; an example):")
    by_walk = collections.OrderedDict()
    for key, cases in silent_examples.items():
        if key[0] in ("fewer silent", "changed contradicted"):
            for label, what, detail in cases:
                found = detail[2] if detail[2].startswith("walk: ") else "no contradiction; lost " + \
                    ",".join(detail[0])
                by_walk.setdefault(re.sub(r"\d+", "N", found), []).append((label, what))
    for found, cases in sorted(by_walk.items(), key=lambda kv: -len(kv[1])):
        print("  %4d  %s\n        %s: %s" % (len(cases), found, cases[0][0], cases[0][1]))
    print()
    print("kept whole yet said (count; an example):")
    for (dkind, note), cases in sorted(whole_said.items(), key=lambda kv: -len(kv[1])):
        label, what, detail = cases[0]
        print("  %4d  %s: %s\n        %s: %s" % (len(cases), dkind, note[:200], label, what))
    print()
    print("fewer silent: %d; changed contradicted: %d" % (len(silent_now), len(contradicted)))
    for v in sorted(silent_now):
        print("SILENT LOSS " + v.replace("\t", " "))
    for v in sorted(contradicted):
        print("CONTRADICTED " + v.replace("\t", " "))
    if list_silent:
        # One line a silent loss, with the fields lost, for whoever mends it.
        with open(list_silent, "w", encoding="utf-8") as fh:
            for (outcome, dkind, sub, fkind, labels), cases in silent_examples.items():
                if outcome == "fewer silent":
                    for label, what, detail in cases:
                        fh.write("%s\t%s\t%s\t%s\t%s\n" % (label, what.split(" ", 1)[0], dkind,
                                                            what.split(" ", 1)[1], ",".join(detail[0])))
    failing = (len(silent_now) + len(contradicted) + total["timed out"] + len(false_alarms) +
               len(sound_losses) + len(timeouts) + len(walk_faults))
    return 1 if failing else 0


if __name__ == "__main__":
    sys.exit(main())
