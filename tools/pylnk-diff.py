"""Differential check of vesk's link fields against pylnk (python3-liblnk).

A seeded generator writes links with random combinations of structures (ID
list, LinkInfo with local and network paths and 8-bit or Unicode texts,
StringData in many scripts and with control characters, extra-data blocks of
every kind, unknown and odd-sized ones), a few links longer than 32 KiB or
64 KiB whose later texts hold control bytes, C1 characters, lone surrogates
and U+FFFE/U+FFFF, and, for some, damage (cuts, wrong sizes, changed bytes). vesk reads each link (labelled text); every field that
pylnk reads must be shown by vesk with the same value, or vesk must write a
note for that file to standard error. For sound links the values the
generator wrote are a second reference, for the fields pylnk does not read
(Unicode network and device names, property values, known and special
folders) and for texts pylnk cuts.

  pylnk-diff.py VESK [COUNT] [SEED]

Prints per field: agreeing, said (a note), silent; and one example of each
kind of silent difference. Exits 1 when a silent difference is not in the
ALLOWED list below (with its reason).
"""

import collections
import concurrent.futures
import datetime
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile

try:
    import pylnk
except ImportError:
    pylnk = None

CLSID = bytes.fromhex("0114020000000000c000000000000046")

FIELD_LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "jumplist",
                          "lnk_text_fields.def")


def split_args(text):
    """The top-level arguments of a macro call's argument text."""
    args, depth, quoted, cur = [], 0, False, ""
    for i, c in enumerate(text):
        if quoted:
            quoted = not (c == '"' and text[i - 1] != "\\")
        elif c == '"':
            quoted = True
        elif c == "(":
            depth += 1
        elif c == ")":
            depth -= 1
        elif c == "," and depth == 0:
            args.append(cur.strip())
            cur = ""
            continue
        cur += c
    args.append(cur.strip())
    return args


def read_text_fields(path=FIELD_LIST):
    """The link's text fields as vesk's field list names them: member, plain
    name, labelled-block label, the member shown beside it, and the pylnk
    attribute and comparison."""
    fields = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"^VK_TEXT_FIELD\((.*)\)\s*$", line)
            if not m:
                continue
            a = split_args(m.group(1))
            line_form = re.match(r'^VK_\w+\("([^"]*)"(?:,\s*(\w+))?\)$', a[4])
            pylnk_form = re.match(r'^VK_PYLNK\("(\w+)",\s*(\w+)\)$', a[11])
            fields.append({
                "member": a[1],
                "name": json_text(a[3]),
                "label": line_form.group(1).rstrip() if line_form else None,
                "other": line_form.group(2) if line_form else None,
                "pylnk": pylnk_form.group(1) if pylnk_form else None,
                "compare": pylnk_form.group(2) if pylnk_form else None,
            })
    return fields


def json_text(literal):
    return literal[1:-1].replace('\\"', '"')


TEXT_FIELDS = read_text_fields()
FIELD_NAMES = {f["member"]: f["name"] for f in TEXT_FIELDS}

# Silent differences that are not vesk's fault or are its design, by
# (field, reference): the reason. Differences of a kind that explain() tells
# apart are allowed per difference.
ALLOWED = {
    ("icon index", "pylnk"): "the report has no icon-index field",
    ("hot key", "pylnk"): "the report has no hot-key field",
    ("show command", "pylnk"): "pylnk 20181227 gives the file size as the show-window value",
}
ASTRAL = re.compile("[\U00010000-\U0010FFFF\uFFFD]+")
# The bytes code page 1252 leaves undefined, as vesk writes them (pylnk
# gives U+FFFD for them).
UNDEFINED_1252 = re.compile(r"\[0x(?:81|8d|8f|90|9d)\]")
# A character or the mark vesk writes for one.
TOKEN = re.compile(r"\[(?:CRLF|LFCR|CR|LF|0x[0-9a-f]{2})\]|.", re.S)


def paired_as_pylnk(text):
    """vesk's text as pylnk may read the same units: pylnk takes the unit
    after a high surrogate as its low half whatever it is, so a replaced
    unit swallows the next one (of a line-break pair, its first). vesk's
    U+FFFD does not tell a lone high surrogate from a lone low one (which
    swallows nothing), so each replaced unit is tried both ways (all ways
    for up to 10 of them, else all swallowing)."""
    rest = {"[CRLF]": "[LF]", "[LFCR]": "[CR]"}
    tokens = TOKEN.findall(text)
    spots = [i for i in range(len(tokens) - 1) if tokens[i] == "\uFFFD"]
    masks = range(1, 1 << len(spots)) if len(spots) <= 10 else [(1 << len(spots)) - 1]
    forms = []
    for mask in masks:
        chosen = {spots[k] for k in range(len(spots)) if mask >> k & 1}
        out, j = [], 0
        while j < len(tokens):
            out.append(tokens[j])
            if j in chosen:
                out.append(rest.get(tokens[j + 1], ""))
                j += 2
            else:
                j += 1
        forms.append("".join(out))
    return forms


def text_reason(expected, shown, cut_at_nul=False):
    """Why pylnk's text differs from vesk's when the difference is pylnk's
    reading of the same bytes, or None. cut_at_nul: pylnk may end the text
    at a NUL inside it."""
    if not isinstance(shown, str) or expected == shown:
        return None
    if expected is None and cut_at_nul:
        expected = ""  # pylnk gives no text when a NUL begins it
    if not isinstance(expected, str):
        return None
    want = ASTRAL.sub("?", expected)
    forms = [(shown, [])]
    if "\uFFFD" in shown:
        forms += [(form, ["pylnk pairs a high surrogate with whatever unit follows it"])
                  for form in paired_as_pylnk(shown)]
    if UNDEFINED_1252.search(shown):
        undefined = "pylnk gives U+FFFD for the bytes code page 1252 leaves undefined"
        for form, why in list(forms):
            forms.append((UNDEFINED_1252.sub("\uFFFD", form), why + [undefined]))
    for form, why in forms:
        cuts = [(form, [])]
        if cut_at_nul and "[0x00]" in form:
            cuts.append((form.split("[0x00]")[0],
                         ["pylnk ends a counted StringData text at a NUL inside it"]))
        for cut, more in cuts:
            if ASTRAL.sub("?", cut) != want:
                continue
            if cut != expected:
                more = more + [
                    "pylnk decodes UTF-16 surrogate pairs (characters past U+FFFF) wrongly"]
            return "; ".join(why + more) or None
    return None


def explain(field, ref, expected, shown, has_idlist):
    """The reason a silent difference is allowed, or None."""
    if ref == "pylnk":
        reason = text_reason(expected, shown, field in STRING_FIELDS)
        if reason:
            return reason
        if isinstance(shown, str) and field in STRING_FIELDS:
            if expected == "<pylnk error>" and shown.endswith("\uFFFD"):
                return "pylnk fails on a text whose last unit is a lone high surrogate"
            if shown.startswith("\uFFFE") and (
                    expected == shown[1:] or text_reason(expected, shown[1:], True)):
                return "pylnk takes a U+FFFE that begins a text for a byte-order mark"
    if field.startswith("target ") and expected == "not available" and has_idlist:
        return "a header time of zero is shown as the ID list's time, by design"
    if field == "link flags" and expected == [] and shown == ["Default"]:
        return "no link flags are shown as \"Default\", by design"
    if field == "drive type" and shown == "unk" and isinstance(expected, int):
        return "drive types other than 1 to 6 are shown as \"unk\", by design"
    return None


def noted(err):
    """Standard error holds a note; "no entries in file" is none (it says
    the file is valid and empty)."""
    return any(l.strip() and not l.startswith("no entries in file") for l in err.split("\n"))

# ---------------------------------------------------------------- writer

SCRIPTS = [
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .-_\\:",
    "éüßñçøåÆÖ€ŠŽœ",
    "ОтчётПриветмир",
    "ΑλφαΒήταΓάμμα",
    "報告書日本語中文한국어",
    "تقريرعربي",
    "עבריתשלום",
    "😀📁🗂️",
]
CONTROLS = ["\r", "\n", "\r\n", "\n\r", "\t", "\x01", "\x1b", "\x1f", "\x7f"]


def rand_text(rng, ansi=False, allow_nul=False, size=None):
    n = size if size is not None else rng.choice([1, 3, 8, 20, 40])
    pools = SCRIPTS[:2] if ansi else SCRIPTS
    out = []
    pool = rng.choice(pools)
    for _ in range(n):
        r = rng.random()
        if r < 0.05:
            out.append(rng.choice(CONTROLS))
        elif r < 0.07 and allow_nul:
            out.append("\x00")
        else:
            if rng.random() < 0.1:
                pool = rng.choice(pools)
            out.append(rng.choice(pool))
    text = "".join(out)
    if ansi:
        text = text.encode("cp1252", "replace").decode("cp1252")
    return text


LONG_SHARE = 0.03
# What a late text of a long link holds: C0 controls other than tab and line
# breaks, DEL, C1 controls, and in UTF-16 lone surrogates of both halves and
# the noncharacters U+FFFE and U+FFFF.
HOSTILE = ["\x01", "\x1b", "\x1f", "\x7f", "\x81", "\x85", "\x9b", "\x9f"]
HOSTILE_WIDE = ["\ud800", "\udc00", "\ufffe", "\uffff"]


def hostile_text(rng, unicode):
    pool = HOSTILE + (HOSTILE_WIDE if unicode else [])
    out = []
    for _ in range(rng.choice([4, 12, 40])):
        c = rng.choice(pool) if rng.random() < 0.4 else rng.choice("abcxyz .-\\")
        if c == "\udc00" and out and out[-1] == "\ud800":
            c = "a"  # lone halves only: a pair is a character past U+FFFF
        out.append(c)
    return "".join(out)


def rand_ansi_path(rng):
    parts = ["C:", "Users", rand_text(rng, ansi=True, size=6).replace("\\", "x"), "file.txt"]
    return "\\".join(p for p in parts if p)


def u16z(s):
    return s.encode("utf-16-le") + b"\0\0"


def ansiz(s):
    return s.encode("cp1252", "replace") + b"\0"


def guid(rng):
    return bytes(rng.randrange(256) for _ in range(16))


def guid_text(b):
    a, b2, c = struct.unpack_from("<IHH", b, 0)
    return "%08x-%04x-%04x-%s-%s" % (a, b2, c, b[8:10].hex(), b[10:16].hex())


def shell_item(kind, body):
    return struct.pack("<HB", len(body) + 3, kind) + body


def file_entry(rng, name):
    body = struct.pack("<BIHHH", 0, rng.randrange(1 << 20), 0x5865, 0x3904, 0x20) + ansiz(name)
    if len(body) % 2:
        body += b"\0"
    return shell_item(0x32, body)


def id_list(rng, truth):
    items = [shell_item(0x1F, b"\x50" + bytes.fromhex("e04fd020ea3a6910a2d808002b30309d"))]
    for _ in range(rng.randrange(0, 4)):
        items.append(file_entry(rng, rand_text(rng, ansi=True, size=rng.randrange(1, 12))
                                .replace("\\", "_").replace("\x00", "_")))
    if rng.random() < 0.06:
        # An item whose size says nothing: a reader stops at it.
        items.insert(0, b"\0\0")
        truth["idlist first item empty"] = True
    data = b"".join(items) + b"\0\0"
    return struct.pack("<H", len(data)) + data


def link_info(rng, truth):
    long_header = rng.random() < 0.4
    header = 0x24 if long_header else 0x1C
    has_vol = rng.random() < 0.75
    has_net = rng.random() < 0.4 or not has_vol
    parts = []
    at = header
    offsets = {}
    if has_vol:
        label = rand_text(rng, ansi=True, size=rng.randrange(0, 12)).replace("\x00", "")
        unicode_label = rng.random() < 0.3
        if unicode_label:
            truth["unicode volume label"] = True
            label = rand_text(rng, size=rng.randrange(1, 12)).replace("\x00", "")
            vol = struct.pack("<IIIII", 0, rng.choice([0, 1, 2, 3, 4, 5, 6, 9]),
                              rng.randrange(1 << 32), 0x14, 0x14) + u16z(label)
        else:
            vol = struct.pack("<IIII", 0, rng.choice([0, 1, 2, 3, 4, 5, 6, 9]),
                              rng.randrange(1 << 32), 0x10) + ansiz(label)
        vol = struct.pack("<I", len(vol)) + vol[4:]
        truth["volume label"] = label
        truth["drive type"] = struct.unpack_from("<I", vol, 4)[0]
        truth["drive serial"] = struct.unpack_from("<I", vol, 8)[0]
        offsets["vol"] = at
        parts.append(vol)
        at += len(vol)
        local = rand_ansi_path(rng)
        offsets["local"] = at
        parts.append(ansiz(local))
        at += len(local) + 1
        truth["local base path"] = local
    if has_net:
        net = "\\\\" + rand_text(rng, ansi=True, size=6).replace("\\", "_").replace("\x00", "_") + "\\share"
        dev = rng.choice(["", "Z:", "Y:"])
        unicode_net = rng.random() < 0.35
        fixed = 0x1C if unicode_net else 0x14
        body = ansiz(net)
        dev_at = 0
        if dev:
            dev_at = fixed + len(body)
            body += ansiz(dev)
        net_u_at = dev_u_at = 0
        if unicode_net:
            unet = net + rand_text(rng, size=3).replace("\x00", "").replace("\\", "_")
            net_u_at = fixed + len(body)
            body += u16z(unet)
            if dev:
                udev = dev + rand_text(rng, size=2).replace("\x00", "")
                dev_u_at = fixed + len(body)
                body += u16z(udev)
                truth["device name unicode"] = udev
            truth["network name unicode"] = unet
        head = struct.pack("<IIIII", 0, (1 if dev else 0) | 2, fixed, dev_at, 0x00020000)
        if unicode_net:
            head += struct.pack("<II", net_u_at, dev_u_at)
        cnrl = head + body
        cnrl = struct.pack("<I", len(cnrl)) + cnrl[4:]
        offsets["net"] = at
        parts.append(cnrl)
        at += len(cnrl)
        truth["network name"] = net
        if dev:
            truth["device name"] = dev
    suffix = rand_text(rng, ansi=True, size=rng.randrange(0, 10)).replace("\x00", "")
    offsets["suffix"] = at
    parts.append(ansiz(suffix))
    at += len(suffix) + 1
    truth["common path"] = suffix
    if long_header:
        if has_vol and rng.random() < 0.7:
            ulocal = truth["local base path"] + rand_text(rng, size=3).replace("\x00", "")
            offsets["ulocal"] = at
            parts.append(u16z(ulocal))
            at += len(u16z(ulocal))
            truth["local base path unicode"] = ulocal
        usuffix = suffix
        offsets["usuffix"] = at
        parts.append(u16z(usuffix))
        at += len(u16z(usuffix))
    if rng.random() < 0.07:
        # A large LinkInfo: every reader must go past it by its size.
        pad = 1280 + rng.randrange(600) - at
        parts.append(bytes(max(0, pad)))
        at += max(0, pad)
        truth["large link info"] = True
    flags = (1 if has_vol else 0) | (2 if has_net else 0)
    head = struct.pack("<IIIIIII", at, header, flags, offsets.get("vol", 0), offsets.get("local", 0),
                       offsets.get("net", 0), offsets["suffix"])
    if long_header:
        head += struct.pack("<II", offsets.get("ulocal", 0), offsets.get("usuffix", 0))
    return head + b"".join(parts)


def text_pair_block(sig, ansi, wide):
    body = ansi.encode("cp1252", "replace")[:259].ljust(260, b"\0")
    body += wide.encode("utf-16-le")[:518].ljust(520, b"\0")
    return struct.pack("<II", 0x314, sig) + body


def prop_store(rng, truth):
    values = []
    texts = []
    for pid in range(2, 2 + rng.randrange(1, 4)):
        kind = rng.choice(["lpwstr", "lpstr", "ui4", "filetime"])
        if kind == "lpwstr":
            t = rand_text(rng, size=rng.randrange(1, 12)).replace("\x00", "")
            raw = u16z(t)
            data = struct.pack("<HHI", 0x1F, 0, len(raw) // 2) + raw + bytes(-len(raw) % 4)
            texts.append(("VT_LPWSTR", t))
        elif kind == "lpstr":
            t = rand_text(rng, ansi=True, size=rng.randrange(1, 12)).replace("\x00", "")
            raw = ansiz(t)
            data = struct.pack("<HHI", 0x1E, 0, len(raw)) + raw + bytes(-len(raw) % 4)
            texts.append(("VT_LPSTR", t))
        elif kind == "ui4":
            data = struct.pack("<HHI", 0x13, 0, rng.randrange(1 << 32))
        else:
            data = struct.pack("<HHQ", 0x40, 0, 132572616638819438 + rng.randrange(1 << 40))
        values.append(struct.pack("<IIB", 9 + len(data), pid, 0) + data)
    body = b"".join(values) + b"\0\0\0\0"
    storage = struct.pack("<II", 24 + len(body), 0x53505331) + guid(rng) + body
    truth.setdefault("property texts", []).extend(texts)
    return storage + b"\0\0\0\0"


def extra_blocks(rng, truth):
    blocks = []
    kinds = ["env", "icon", "tracker", "known", "special", "console", "console_fe", "props",
             "vista", "unknown", "shim", "darwin"]
    for kind in rng.sample(kinds, rng.randrange(0, 6)):
        if kind == "env":
            t = rand_text(rng, ansi=True, size=rng.randrange(1, 30)).replace("\x00", "")
            t = "%SystemRoot%\\" + t
            blocks.append(text_pair_block(0xA0000001, t, t))
            truth["environment"] = t
            if "\r" in t or "\n" in t:
                truth["environment with a line break"] = True
        elif kind == "icon":
            t = "%ProgramFiles%\\" + rand_text(rng, size=rng.randrange(1, 20)).replace("\x00", "")
            blocks.append(text_pair_block(0xA0000007, t.encode("cp1252", "replace").decode("cp1252"), t))
            truth["icon environment"] = t
        elif kind == "darwin":
            t = "w_?=" + rand_text(rng, ansi=True, size=10).replace("\x00", "")
            blocks.append(text_pair_block(0xA0000006, t, t))
        elif kind == "tracker":
            machine = rand_text(rng, ansi=True, size=rng.randrange(1, 15)).replace("\x00", "")[:15]
            droids = [guid(rng) for _ in range(4)]
            body = struct.pack("<II", 0x58, 0) + machine.encode("cp1252", "replace").ljust(16, b"\0")[:16]
            body += b"".join(droids)
            size = 0x60
            if rng.random() < 0.15:
                body += bytes(4)
                size = 0x64
                truth["tracker 0x64"] = True
            blocks.append(struct.pack("<II", size, 0xA0000003) + body)
            truth["machine id"] = machine
            truth["droids"] = droids
        elif kind == "known":
            g = guid(rng)
            blocks.append(struct.pack("<II", 0x1C, 0xA000000B) + g + struct.pack("<I", 0))
            truth["known folder"] = guid_text(g)
        elif kind == "special":
            blocks.append(struct.pack("<IIII", 0x10, 0xA0000005, rng.randrange(0, 60), 0))
        elif kind == "console":
            blocks.append(struct.pack("<II", 0xCC, 0xA0000002) + bytes(0xCC - 8))
        elif kind == "console_fe":
            blocks.append(struct.pack("<III", 0xC, 0xA0000004, 1252))
        elif kind == "props":
            body = prop_store(rng, truth)
            blocks.append(struct.pack("<II", 8 + len(body), 0xA0000009) + body)
        elif kind == "vista":
            items = file_entry(rng, "v.txt") + b"\0\0"
            blocks.append(struct.pack("<II", 8 + len(items), 0xA000000C) + items)
        elif kind == "shim":
            blocks.append(struct.pack("<II", 0x88, 0xA0000008) + u16z("WinXPSp3").ljust(0x80, b"\0"))
        else:
            n = rng.choice([0, 3, 16, 100])
            blocks.append(struct.pack("<II", 8 + n, 0xA0000099) + bytes(rng.randrange(256) for _ in range(n)))
            truth["unknown block"] = True
    return blocks


def make_link(rng):
    truth = {}
    flags = 0
    # "unicode strings" is set below; a header-only link has none.
    parts = []
    if rng.random() < 0.5:
        parts.append(id_list(rng, truth))
        flags |= 0x1
    if rng.random() < 0.7:
        parts.append(link_info(rng, truth))
        flags |= 0x2
    unicode = rng.random() < 0.85
    truth["unicode strings"] = unicode
    if unicode:
        flags |= 0x80
    names = ["description", "relative path", "working directory", "arguments", "icon location"]
    # A long link: a text of filler takes the texts after it past 32 KiB
    # (or 64 KiB), and those hold characters no sound text holds.
    long_at = rng.randrange(3) if rng.random() < LONG_SHARE else None
    if long_at is not None:
        truth["long link"] = True
    for i, name in enumerate(names):
        if long_at is not None and i == long_at:
            t = "C:\\" + "w" * rng.choice([16500, 33000] if unicode else [33000, 65000])
        elif long_at is not None and i > long_at:
            t = hostile_text(rng, unicode)
        elif rng.random() < 0.55:
            t = rand_text(rng, ansi=not unicode, allow_nul=True, size=rng.choice([0, 2, 9, 30, 300]))
        else:
            continue
        flags |= 0x4 << i
        late = long_at is not None and i >= long_at
        enc = (t.encode("utf-16-le", "surrogatepass") if unicode
               else t.encode("latin-1") if late else t.encode("cp1252", "replace"))
        parts.append(struct.pack("<H", len(enc) // 2 if unicode else len(enc)) + enc)
        if unicode and late:
            # As UTF-16 reads the units: a lone surrogate is U+FFFD.
            t = enc.decode("utf-16-le", "replace")
        if not unicode and late:
            # As code page 1252 reads the bytes; those it leaves undefined stay.
            t = "".join(chr(b) if b in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else bytes([b]).decode("cp1252")
                        for b in enc)
        truth[name] = t
    if not flags & 3 and not any(truth.get(n) for n in names):
        truth["no ID list, LinkInfo or StringData"] = True
    blocks = extra_blocks(rng, truth)
    if "environment" in truth:
        flags |= 0x200
    if "icon environment" in truth:
        flags |= 0x4000
    if rng.random() < 0.1:
        flags |= rng.choice([0x100, 0x400, 0x800, 0x2000, 0x40000, 0x80000])
    attributes = 0
    for bit in range(17):
        if rng.random() < 0.12:
            attributes |= 1 << bit

    def rand_time():
        r = rng.random()
        if r < 0.15:
            return 0
        return 116444736000000000 + rng.randrange(0, 60 * 365 * 24 * 3600 * 10 ** 7)

    times = [rand_time(), rand_time(), rand_time()]
    show = rng.choice([1, 3, 7, rng.randrange(16)])
    truth["show command"] = show_text(show)
    header = struct.pack("<I", 0x4C) + CLSID + struct.pack(
        "<IIQQQIiIHHII", flags, attributes, times[0], times[1], times[2],
        rng.randrange(1 << 32), rng.randrange(-5, 300), show, rng.randrange(1 << 16), 0, 0, 0)
    data = header + b"".join(parts) + b"".join(blocks) + b"\0\0\0\0"
    damage = None
    r = rng.random()
    if r < 0.1:
        at = rng.randrange(76, len(data))
        data = data[:at]
        damage = "cut at %d" % at
    elif r < 0.2:
        b = bytearray(data)
        for _ in range(rng.randrange(1, 4)):
            at = rng.randrange(76, len(b))
            b[at] = rng.randrange(256)
        data = bytes(b)
        damage = "bytes changed"
    elif r < 0.25 and len(data) > 80:
        # A wrong size field: the ID list's or a block's.
        b = bytearray(data)
        at = 76 if flags & 1 else len(data) - 4 - sum(len(x) for x in blocks)
        if at + 2 <= len(b):
            struct.pack_into("<H", b, at, rng.randrange(1 << 16))
            damage = "size at %d changed" % at
        data = bytes(b)
    if rng.random() < 0.01 and damage is None:
        # Header and terminal only.
        data = header[:20] + struct.pack("<I", 0) + header[24:] + b"\0\0\0\0"
        truth = {"header only": True}
    # Drawn last, so that the links before keep their bytes.
    r = rng.random()
    if r < 0.01 and damage is None and data.endswith(b"\0\0\0\0"):
        # A terminal block whose BlockSize is 1 to 3: the list ends there.
        data = data[:-4] + struct.pack("<I", rng.randrange(1, 4))
        truth["terminal below 4"] = True
    elif r < 0.015 and damage is None:
        # A header alone whose flags announce what is not there.
        data = header[:20] + struct.pack("<I", flags | 0x1) + header[24:]
        truth = {"header alone": True}
    return data, truth, damage

# ---------------------------------------------------------------- readers


def mark(text):
    """A text as vesk writes it: line breaks and other control characters
    (C0 and C1, and DEL) as marks, a tab as is."""
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        pair = text[i:i + 2]
        if pair == "\r\n":
            out.append("[CRLF]")
            i += 2
            continue
        if pair == "\n\r":
            out.append("[LFCR]")
            i += 2
            continue
        if c == "\r":
            out.append("[CR]")
        elif c == "\n":
            out.append("[LF]")
        elif c == "\t":
            out.append(c)
        elif ord(c) < 0x20 or 0x7F <= ord(c) <= 0x9F:
            out.append("[0x%02x]" % ord(c))
        else:
            out.append(c)
        i += 1
    return "".join(out)


FLAG_NAMES = ["HasLinkTargetIDList", "HasLinkInfo", "HasName", "HasRelativePath", "HasWorkingDir",
              "HasArguments", "HasIconLocation", "IsUnicode", "ForceNoLinkInfo", "HasExpString",
              "RunInSeparateProcess", "Unused1", "HasDarwinID", "RunAsUser", "HasExpIcon",
              "NoPidlAlias", "Unused2", "RunWithShimLayer", "EnableTargetMetadata",
              "DisableLinkPathTracking", "DisableKnownFolderTracking", "DisableKnownFolderAlias",
              "AllowLinkToLink", "UnaliasOnSave", "PreferEnvironmentPath",
              "KeepLocalIDListForUNCTarget"]
ATTRIBUTE_NAMES = ["FILE_ATTRIBUTE_READONLY", "FILE_ATTRIBUTE_HIDDEN", "FILE_ATTRIBUTE_SYSTEM",
                   "Reserved1", "FILE_ATTRIBUTE_DIRECTORY", "FILE_ATTRIBUTE_ARCHIVE", "Reserved2",
                   "FILE_ATTRIBUTE_NORMAL", "FILE_ATTRIBUTE_TEMPORARY",
                   "FILE_ATTRIBUTE_SPARSE_FILE", "FILE_ATTRIBUTE_REPARSE_POINT",
                   "FILE_ATTRIBUTE_COMPRESSED", "FILE_ATTRIBUTE_OFFLINE",
                   "FILE_ATTRIBUTE_NOT_CONTENT_INDEXED", "FILE_ATTRIBUTE_ENCRYPTED", "Reserved3",
                   "FILE_ATTRIBUTE_VIRTUAL"]
DRIVE_TYPES = ["unk", "no root dir", "removable", "fixed", "remote", "cdrom", "RAM drive"]
SHOW = {0: "SW_HIDE", 1: "SW_SHOWNORMAL", 2: "SW_SHOWMINIMIZED", 3: "SW_SHOWMAXIMIZED",
        4: "SW_SHOWNOACTIVATE", 5: "SW_SHOW", 6: "SW_MINIMIZE", 7: "SW_SHOWMINNOACTIVE",
        8: "SW_SHOWNA", 9: "SW_RESTORE", 10: "SW_SHOWDEFAULT", 11: "SW_FORCEMINIMIZE"}


def names_of(value, names):
    return sorted(n for i, n in enumerate(names) if value >> i & 1)


def attribute_texts(value):
    """The attribute names, and the bits no name covers as one value."""
    unnamed = value & ~((1 << len(ATTRIBUTE_NAMES)) - 1)
    return sorted(names_of(value, ATTRIBUTE_NAMES) + (["0x%08x" % unnamed] if unnamed else []))


def show_text(value):
    """The show command's name, or its value where it has none."""
    return SHOW.get(value, "0x%08x" % value)


def filetime_text(ticks):
    if not ticks:
        return "not available"
    try:
        t = datetime.datetime(1601, 1, 1) + datetime.timedelta(microseconds=ticks // 10)
    except OverflowError:
        return "not available"
    return t.strftime("%Y-%m-%d %H:%M:%S.") + "%03d [UTC]" % (t.microsecond // 1000)


def pylnk_fields(path):
    """Field -> the text vesk should show for it, as pylnk reads the link;
    None when pylnk refuses the file."""
    f = pylnk.file()
    try:
        f.open(path)
    except Exception:
        return None
    out = {}

    def get(name, fn):
        try:
            out[name] = fn()
        except Exception:
            out[name] = "<pylnk error>"

    get("target modified", lambda: filetime_text(f.get_file_modification_time_as_integer()))
    get("target accessed", lambda: filetime_text(f.get_file_access_time_as_integer()))
    get("target created", lambda: filetime_text(f.get_file_creation_time_as_integer()))
    get("file size", lambda: "0x%08x [%d bytes]" % (f.file_size, f.file_size))
    get("attributes", lambda: attribute_texts(f.file_attribute_flags))
    get("link flags", lambda: names_of(f.data_flags, FLAG_NAMES))
    get("show command", lambda: show_text(f.show_window_value))
    get("icon index", lambda: f.icon_index)
    get("hot key", lambda: f.hot_key_value)
    for field in TEXT_FIELDS:
        if field["pylnk"]:
            get(field["name"], lambda attr=field["pylnk"]: getattr(f, attr))
    f.close()
    return out


LABEL = re.compile(r"^([A-Za-z#/\[\]. -]+:)\s*(.*)$")


def vesk_records(text):
    """The labelled records: each a dict label -> list of values, plus the
    property-store lines under 'props'."""
    records = []
    cur = None
    for line in text.split("\n"):
        if line.startswith("source path/filename:     "):
            cur = collections.defaultdict(list)
            records.append(cur)
        if cur is None:
            continue
        if line.startswith("PropertyStoreDataBlk:"):
            cur["_in_props"] = [True]
            continue
        if line.startswith(" [") and cur.get("_in_props"):
            cur["props"].append(line)
            continue
        if len(line) >= 26 and line[25] == " " and ":" in line[:26]:
            label = line[:26].rstrip()
            value = line[26:]
            cur[label].append(value)
            cur["_in_props"] = []
    return records


def one(rec, label):
    v = rec.get(label)
    return v[0] if v else None


def icon_label(value, rec):
    """pylnk gives the icon environment block's path as the icon location
    when there is one: the label that vesk shows it under."""
    env = one(rec, "Icon environ name:")
    if value and env and (mark(value) == env or text_reason(mark(value), env)):
        return "Icon environ name:"
    return "Icon filename:"


def link_info_at(raw):
    """The LinkInfo's offset in the link, or None when it has none."""
    if len(raw) < 0x4C or not raw[20] & 2:
        return None
    at = 0x4C
    if raw[20] & 1:
        if len(raw) < at + 2:
            return None
        at += 2 + struct.unpack_from("<H", raw, at)[0]
    return at


def volume_declared(raw):
    """Whether the LinkInfo flags declare a VolumeID; None without a
    LinkInfo flags field."""
    at = link_info_at(raw)
    if at is None or len(raw) < at + 12:
        return None
    return bool(struct.unpack_from("<I", raw, at + 8)[0] & 1)


def suffix_quirks(raw, path, suffix):
    """pylnk's path for path and suffix where it joins them its own way:
    (text, why) pairs."""
    if not path or not suffix:
        return []
    quirks = []
    # A suffix of one character without its NUL: pylnk leaves out the backslash.
    if len(re.sub(r"\[[^]]*\]", "?", suffix)) == 1:
        quirks.append((path + suffix, "pylnk joins a common path suffix of one character without "
                                      "its NUL to the path with no backslash"))
    # pylnk takes the Unicode suffix of a long LinkInfo header over the
    # 8-bit one even when it is empty: the path alone then.
    at = link_info_at(raw)
    if at is None or len(raw) < at + 36:
        return quirks
    header, = struct.unpack_from("<I", raw, at + 4)
    wide, = struct.unpack_from("<I", raw, at + 32)
    if header >= 36 and wide and raw[at + wide:at + wide + 2] == b"\0\0":
        quirks.append((path, "pylnk takes an empty Unicode common path suffix over the 8-bit one"))
    return quirks


def compare(path, vesk, truth):
    """(field, reference, outcome, detail) tuples; outcome agree / said /
    silent."""
    p = subprocess.run([vesk, path], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       stdin=subprocess.DEVNULL, timeout=30)
    err = p.stderr.decode("utf-8", "replace").strip()
    said = noted(err)
    recs = vesk_records(p.stdout.decode("utf-8", "replace"))
    rec = recs[0] if len(recs) == 1 else None
    results = []

    with open(path, "rb") as fh:
        raw = fh.read()
    has_idlist = len(raw) >= 24 and raw[20] & 1

    def check(field, ref, expected, shown, strict=False, quirks=()):
        """quirks: (text pylnk shows for the same bytes, why) where pylnk
        reads them in a way of its own."""
        if expected == shown:
            results.append((field, ref, "agree", ""))
            return
        for text, why in quirks:
            more = text_reason(expected, text)
            if (expected == text or more) and not said:
                results.append((field, ref, "allowed", why + ("; " + more if more else "")))
                return
        detail = "%s: reference %r, vesk %r; status %d; stderr %r" % (
            field, expected, shown, p.returncode, err[:200])
        if said and not strict:
            results.append((field, ref, "said", detail))
            return
        reason = ALLOWED.get((field, ref)) or explain(field, ref, expected, shown, has_idlist)
        results.append((field, ref, "allowed" if reason else "silent", reason or detail))

    py = pylnk_fields(path) if pylnk else None
    refused = {"terminal below 4": "pylnk refuses a terminal block whose BlockSize is 1 to 3",
               "header alone": "pylnk refuses a header whose announced structures are not there"}
    for key, reason in refused.items():
        if py is None and truth.get(key):
            results.append(("record", "pylnk", "allowed", reason))
    if rec is None:
        if py is not None or truth.get("header only") or truth.get("header alone"):
            # A sound link refused is lost whatever the note says.
            check("record", "pylnk" if py is not None else "writer", "1 record",
                  "%d records" % len(recs), strict=not truth.get("damaged"))
        return results, err, p.returncode
    if truth.get("header alone"):
        # Reported from its header, and said to be cut.
        check("record", "writer", "1 record, said", "1 record" + (", said" if said else ""),
              strict=True)
    flags_text = one(rec, "Target flags:") or ""
    if py is not None:
        check("target modified", "pylnk", py["target modified"], one(rec, "Target modified:"))
        check("target accessed", "pylnk", py["target accessed"], one(rec, "Target accessed:"))
        check("target created", "pylnk", py["target created"], one(rec, "Target created:"))
        check("file size", "pylnk", py["file size"], one(rec, "Target file size:"))
        attrs = one(rec, "Target attributes:")
        shown = [] if attrs in (None, "not specified") else sorted(attrs.split("; "))
        check("attributes", "pylnk", py["attributes"], shown)
        shown = sorted(x for x in flags_text.split(", ") if x)
        check("link flags", "pylnk", py["link flags"], shown)
        show = one(rec, "Show cmd:")
        check("show command", "pylnk", py["show command"], show[1:-1] if show else None)
        check("icon index", "pylnk", py["icon index"], "not shown")
        check("hot key", "pylnk", py["hot key"], "not shown")
        for f in TEXT_FIELDS:
            if f["compare"] not in ("same", "icon"):
                continue
            field = f["name"]
            label = icon_label(py[field], rec) if f["compare"] == "icon" else f["label"]
            v = py[field]
            check(field, "pylnk", mark(v) if isinstance(v, str) and v else None, one(rec, label))
        # pylnk's local and network paths end with the common path suffix.
        local, net = py["local path"], py["network path"]
        base, suffix = one(rec, "Local base path:"), one(rec, "Common path:")
        if local:
            shown = (base or "") + (suffix or "")
            if base and suffix and not base.endswith("\\"):
                shown = base + "\\" + suffix
            check("local path", "pylnk", mark(local), shown or None,
                  quirks=suffix_quirks(raw, base, suffix))
        if net:
            name = one(rec, "Network name:") or ""
            shown = name + ("\\" + suffix if suffix else "") if name else None
            check("network path", "pylnk", mark(net), shown,
                  quirks=suffix_quirks(raw, name, suffix))
        dt = py["drive type"]
        if volume_declared(raw) is False and dt == 0 and py["drive serial"] == 0:
            # pylnk's values for a VolumeID that the LinkInfo flags leave out.
            check("drive type", "pylnk", None, one(rec, "Volume Type:"))
            check("drive serial", "pylnk", None, one(rec, "Volume serial num:"))
        elif isinstance(dt, int) and ("drive type" in truth or dt or py["drive serial"]):
            check("drive type", "pylnk", DRIVE_TYPES[dt] if isinstance(dt, int) and dt < 7 else dt,
                  one(rec, "Volume Type:"))
            serial = py["drive serial"]
            shown = one(rec, "Volume serial num:")
            check("drive serial", "pylnk", "%04X-%04X" % (serial >> 16, serial & 0xFFFF)
                  if isinstance(serial, int) else serial,
                  shown.upper() if shown else None)
        for field, label, birth in [(f["name"], f["label"], FIELD_NAMES[f["other"]])
                                    for f in TEXT_FIELDS if f["compare"] == "orig"]:
            v, b = py[field], py[birth]
            if v and v != "<pylnk error>":
                expected = v if b in (None, v, "<pylnk error>") else "%s [orig: %s]" % (v, b)
                check(field, "pylnk", expected, one(rec, label))
    # The writer's values, for sound links.
    if truth and not truth.get("damaged"):
        names = [("description", "Description:"), ("relative path", "Relative path:"),
                 ("working directory", "Working directory:"), ("arguments", "Cmdline args:"),
                 ("icon location", "Icon filename:")]
        for field, label in names:
            # NULs at a counted text's end are its terminator.
            if field in truth and truth[field].rstrip("\x00"):
                check(field, "writer", mark(truth[field].rstrip("\x00")), one(rec, label))
        if "network name unicode" in truth:
            shown = one(rec, "Network name:")
            check("network name unicode", "writer", mark(truth["network name unicode"]),
                  shown if shown == mark(truth["network name unicode"]) else shown)
        if "show command" in truth:
            show = one(rec, "Show cmd:")
            check("show command", "writer", truth["show command"], show[1:-1] if show else None)
        if "device name unicode" in truth:
            check("device name unicode", "writer", mark(truth["device name unicode"]),
                  one(rec, "Device name:"))
        elif "device name" in truth:
            check("device name", "writer", truth["device name"], one(rec, "Device name:"))
        if "volume label" in truth and truth["volume label"]:
            check("volume label", "writer", mark(truth["volume label"]), one(rec, "Volume label:"))
        if "environment" in truth:
            check("environment", "writer", mark(truth["environment"]), one(rec, "Environment DataBlk:"))
        if "icon environment" in truth:
            check("icon environment", "writer", mark(truth["icon environment"]),
                  one(rec, "Icon environ name:"))
        if "machine id" in truth and truth["machine id"]:
            check("machine id", "writer", mark(truth["machine id"]), one(rec, "NETBIOS name:"))
        if "known folder" in truth:
            shown = one(rec, "Known Folder ID:") or ""
            check("known folder", "writer", True, truth["known folder"] in shown.lower())
        for kind, t in truth.get("property texts", []):
            shown = "\n".join(rec.get("props", []))
            check("property " + kind, "writer", True, "[" + mark(t) + "]" in shown)
    return results, err, p.returncode


FEATURES = ["long link", "header only", "header alone", "terminal below 4", "idlist first item empty", "large link info", "unicode volume label",
            "network name unicode", "tracker 0x64", "environment with a line break",
            "unknown block"]
STRING_FIELDS = ["description", "relative path", "working directory", "arguments", "icon location"]


def cause(truth, field):
    """The likeliest structure behind a difference in field: the first rule
    that fits, else the link's notable structures."""
    block_fields = {"environment", "icon environment", "icon location", "known folder", "machine id",
                    "volume droid", "file droid", "property VT_LPSTR", "property VT_LPWSTR"}
    rules = [
        (truth.get("long link"),
         "a link past 32 KiB whose late texts hold control bytes, lone surrogates or U+FFFE/U+FFFF"),
        (truth.get("header only"), "a link of header and terminal block only"),
        (truth.get("header alone"), "a header alone, its announced structures missing"),
        (truth.get("terminal below 4"), "a terminal block whose BlockSize is 1 to 3"),
        (truth.get("idlist first item empty"), "an ID list whose first item has size 0"),
        (field == "record" and truth.get("no ID list, LinkInfo or StringData"),
         "a link of no ID list, no LinkInfo and empty or no StringData (extra-data blocks only)"),
        (truth.get("large link info"), "a LinkInfo of 1280 bytes or more"),
        (field in STRING_FIELDS and "\x00" in truth.get(field, ""), "a NUL inside a counted StringData text"),
        (field == "volume label" and truth.get("unicode volume label"), "a Unicode volume label"),
        (field in ("network path", "network name unicode", "device name unicode")
         and truth.get("network name unicode"),
         "NetNameUnicode (and DeviceNameUnicode)"),
        (field in block_fields and truth.get("tracker 0x64"),
         "a tracker block of 0x64 bytes"),
        (field in block_fields and truth.get("environment with a line break"),
         "an environment block whose text holds a line break"),
        (field == "property VT_LPSTR", "a VT_LPSTR property value"),
        (truth.get("damaged"), "damaged link (%s)" % re.sub(r"\d+", "N", truth.get("damaged") or "")),
    ]
    for hit, text in rules:
        if hit:
            return text
    out = [f for f in FEATURES if truth.get(f)]
    return "other: " + (", ".join(out) or "no special structure")


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    if pylnk is None:
        print("pylnk-diff: pylnk (python3-liblnk) is not installed; skipped", file=sys.stderr)
        return 0
    vesk = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 3000
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 20240305
    pylnk_version = pylnk.get_version()
    work = tempfile.mkdtemp(prefix="vesk-pylnk-")
    try:
        jobs = []
        for i in range(count):
            rng = random.Random(seed * 1000003 + i)
            data, truth, damage = make_link(rng)
            if damage:
                truth["damaged"] = damage
            path = os.path.join(work, "l%05d.lnk" % i)
            with open(path, "wb") as fh:
                fh.write(data)
            jobs.append((i, path, truth))
        with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
            done = list(pool.map(lambda j: (j, compare(j[1], vesk, j[2])), jobs))
        stats = collections.defaultdict(lambda: collections.Counter())
        examples = collections.OrderedDict()
        by_features = collections.Counter()
        feature_example = {}
        noted_sound = 0
        sound_notes = collections.Counter()
        reasons = collections.Counter()
        for (i, path, truth), (results, err, status) in done:
            if err and not truth.get("damaged"):
                noted_sound += 1
                for line in err.split("\n"):
                    sound_notes[re.sub(r"0x[0-9a-f]+|\d+", "N", line.replace(path, "F"))] += 1
            for field, ref, outcome, detail in results:
                stats[(field, ref)][outcome] += 1
                if outcome == "allowed":
                    reasons[detail] += 1
                if outcome == "silent":
                    k = cause(truth, field)
                    by_features[k] += 1
                    feature_example.setdefault(k, "link %d, %s/%s: %s" % (i, field, ref, detail))
                if outcome == "silent" and (field, ref) not in examples:
                    examples[(field, ref)] = "link %d (seed %d)%s: %s" % (
                        i, seed, " damaged: " + truth["damaged"] if truth.get("damaged") else
                        "", detail)
        failing = 0
        print("pylnk %s; %d links, seed %d" % (pylnk_version, count, seed))
        print("%-24s %-7s %8s %8s %8s %8s" % ("field", "ref", "agree", "said", "allowed", "silent"))
        totals = collections.Counter()
        for key in sorted(stats):
            c = stats[key]
            print("%-24s %-7s %8d %8d %8d %8d" % (
                key[0], key[1], c["agree"], c["said"], c["allowed"], c["silent"]))
            totals.update(c)
            failing += c["silent"]
        print("%-24s %-7s %8d %8d %8d %8d" % ("all", "", totals["agree"], totals["said"],
                                              totals["allowed"], totals["silent"]))
        long_links = [i for (i, _, truth), _ in done if truth.get("long link")]
        long_silent = {i for (i, _, truth), (results, _, _) in done if truth.get("long link")
                       and any(r[2] == "silent" for r in results)}
        print("links past 32 KiB with hostile late texts: %d, with a silent difference: %d"
              % (len(long_links), len(long_silent)))
        print("sound links with a note: %d" % noted_sound)
        for text, n in sound_notes.most_common():
            print("  %5d  %s" % (n, text))
        print("allowed differences:")
        for text, n in reasons.most_common():
            print("  %5d  %s" % (n, text))
        print()
        for key, text in examples.items():
            print("SILENT %s/%s: %s" % (key[0], key[1], text))
        print()
        print("silent differences by likely cause (count; first example):")
        for k, n in by_features.most_common():
            print("  %5d  %s\n         %s" % (n, k, feature_example[k][:400]))
        print("silent differences not allowed: %d" % failing)
        keep = os.environ.get("PYLNK_DIFF_KEEP")
        if keep:
            shutil.copytree(work, keep, dirs_exist_ok=True)
        return 1 if failing else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
