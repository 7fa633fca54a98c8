#!/usr/bin/env python3
"""Makes package files and ordinary archives for the launcher's tests.

A package file is an OLE compound file with two root streams:
  "Contents"                        a 7z archive (top-level jre/ and lib/)
  "\\x05DocumentSummaryInformation"  a property set with the user-defined
                                    properties that describe the package.

Everything here is deliberately permissive: tests need packages with wrong
property types, duplicate or missing names, hostile archive member names
and damaged container structures, so the writer stores whatever it is told.

Subcommands:
  package OUT ...       build a package file (see --help)
  zip OUT ...           build a zip archive with exactly the given names
  7z OUT ...            build a 7z archive with exactly the given names
  gz OUT ...            build a gzip file of one member, its size stated or not
  truncate IN OUT ...   copy a file, cut to a given length
  dump FILE [--json]    show a compound file's streams and properties

Only the Python standard library is used; 7z archives are made with the
`7z` command line tool.
"""

import argparse
import datetime
import json
import os
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import uuid
import warnings
import zipfile
import zlib

# ---------------------------------------------------------------------------
# Property set stream
# ---------------------------------------------------------------------------

VT_EMPTY = 0x0000
VT_I2 = 0x0002
VT_I4 = 0x0003
VT_BOOL = 0x000B
VT_LPSTR = 0x001E
VT_LPWSTR = 0x001F
VT_FILETIME = 0x0040

VT_NAMES = {
    VT_EMPTY: "VT_EMPTY",
    VT_I2: "VT_I2",
    VT_I4: "VT_I4",
    VT_BOOL: "VT_BOOL",
    VT_LPSTR: "VT_LPSTR",
    VT_LPWSTR: "VT_LPWSTR",
    VT_FILETIME: "VT_FILETIME",
}

PID_DICTIONARY = 0
PID_CODEPAGE = 1
FIRST_USER_PID = 2

FMTID_DOC_SUMMARY = uuid.UUID("D5CDD502-2E9C-101B-9397-08002B2CF9AE")
FMTID_USER_DEFINED = uuid.UUID("D5CDD505-2E9C-101B-9397-08002B2CF9AE")

PROPSET_BYTE_ORDER = 0xFFFE
# High word 2 = Win32, low word = OS version; readers only look at it for
# information, any plausible value works.
PROPSET_SYSTEM_ID = 0x00020006
PROPSET_HEADER_SIZE = 28 + 2 * 20

# Value used by the "huge" lies: big enough that trusting it means reading
# or allocating far past any real stream, small enough to stay positive in
# a signed 32-bit integer.
HUGE = 0x10000000

PROPSET_DAMAGE = ("propset-size-lie", "propset-offset-lie", "propset-count-lie", "dict-lie")
CFB_DAMAGE = ("truncate", "fat-loop", "bad-sector")
DAMAGE_KINDS = CFB_DAMAGE + PROPSET_DAMAGE


class PropSetError(Exception):
    pass


def codec_for(codepage):
    if codepage == 65001:
        return "utf-8"
    if codepage == 1200:
        raise ValueError("code page 1200 (UTF-16 names) is not supported")
    return "cp%d" % codepage


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


class Prop:
    """One user-defined property: a name and a typed value.

    value is str for VT_LPSTR/VT_LPWSTR (bytes for VT_LPSTR means "store
    these bytes as they are"), int for VT_I2/VT_I4/VT_FILETIME, bool for
    VT_BOOL.
    """

    def __init__(self, name, vt, value):
        self.name = name
        self.vt = vt
        self.value = value

    def __repr__(self):
        return "Prop(%r, %s, %r)" % (self.name, VT_NAMES.get(self.vt, hex(self.vt)), self.value)


def encode_typed_value(vt, value, codec):
    head = struct.pack("<HH", vt, 0)
    if vt == VT_LPSTR:
        raw = value if isinstance(value, bytes) else value.encode(codec)
        raw += b"\0"
        return pad4(head + struct.pack("<I", len(raw)) + raw)
    if vt == VT_LPWSTR:
        raw = value.encode("utf-16-le") + b"\0\0"
        return pad4(head + struct.pack("<I", len(raw) // 2) + raw)
    if vt == VT_I2:
        # Code pages above 32767 (65001) are stored as the same 16 bits.
        return pad4(head + struct.pack("<H", value & 0xFFFF))
    if vt == VT_I4:
        return head + struct.pack("<i", value)
    if vt == VT_BOOL:
        return pad4(head + struct.pack("<h", -1 if value else 0))
    if vt == VT_FILETIME:
        return head + struct.pack("<Q", value)
    raise ValueError("cannot encode type 0x%04x" % vt)


def encode_dictionary(entries, codec):
    """entries: list of (pid, name). Names are code page strings whose
    length counts the terminating NUL; entries follow each other without
    padding, the whole dictionary is padded to 4 bytes."""
    out = struct.pack("<I", len(entries))
    for pid, name in entries:
        raw = name.encode(codec) + b"\0"
        out += struct.pack("<II", pid, len(raw)) + raw
    return pad4(out)


def encode_section(props):
    """props: list of (pid, encoded value bytes), written in this order."""
    table_size = 8 + 8 * len(props)
    table = b""
    body = b""
    for pid, data in props:
        table += struct.pack("<II", pid, table_size + len(body))
        body += data
    return struct.pack("<II", table_size + len(body), len(props)) + table + body


def build_propset(props, codepage=1252, damage=()):
    """Returns the bytes of a DocumentSummaryInformation stream holding the
    document summary section (code page only) and the user-defined section
    with the given properties, in order, with ids 2, 3, ..."""
    codec = codec_for(codepage)
    cp_value = encode_typed_value(VT_I2, codepage, codec)
    section1 = encode_section([(PID_CODEPAGE, cp_value)])

    entries = [(FIRST_USER_PID + i, p.name) for i, p in enumerate(props)]
    user = [(PID_CODEPAGE, cp_value), (PID_DICTIONARY, encode_dictionary(entries, codec))]
    for (pid, _), p in zip(entries, props):
        user.append((pid, encode_typed_value(p.vt, p.value, codec)))
    section2 = encode_section(user)

    off1 = PROPSET_HEADER_SIZE
    off2 = off1 + len(section1)
    header = struct.pack("<HHI", PROPSET_BYTE_ORDER, 0, PROPSET_SYSTEM_ID)
    header += b"\0" * 16  # CLSID
    header += struct.pack("<I", 2)
    header += FMTID_DOC_SUMMARY.bytes_le + struct.pack("<I", off1)
    header += FMTID_USER_DEFINED.bytes_le + struct.pack("<I", off2)
    data = bytearray(header + section1 + section2)

    # Where the user-defined section's fields live, for the damage kinds.
    user_offset_field = PROPSET_HEADER_SIZE - 4
    dict_start = off2 + struct.unpack_from("<I", data, off2 + 8 + 8 + 4)[0]
    for kind in damage:
        if kind == "propset-size-lie":
            struct.pack_into("<I", data, off2, HUGE)
        elif kind == "propset-offset-lie":
            struct.pack_into("<I", data, user_offset_field, len(data) + 16)
        elif kind == "propset-count-lie":
            struct.pack_into("<I", data, off2 + 4, HUGE)
        elif kind == "dict-lie":
            if entries:
                # Name length of the first entry.
                struct.pack_into("<I", data, dict_start + 8, HUGE)
            else:
                struct.pack_into("<I", data, dict_start, HUGE)
        else:
            raise ValueError("not a property set damage kind: %s" % kind)
    return bytes(data)


def _u16(data, pos, what):
    if pos < 0 or pos + 2 > len(data):
        raise PropSetError("%s at %d is past the end (%d bytes)" % (what, pos, len(data)))
    return struct.unpack_from("<H", data, pos)[0]


def _u32(data, pos, what):
    if pos < 0 or pos + 4 > len(data):
        raise PropSetError("%s at %d is past the end (%d bytes)" % (what, pos, len(data)))
    return struct.unpack_from("<I", data, pos)[0]


def _take(data, pos, n, what):
    if n < 0 or pos + n > len(data):
        raise PropSetError("%s: %d bytes at %d run past the end (%d bytes)" % (what, n, pos, len(data)))
    return data[pos:pos + n]


def _parse_value(sec, pos, codec):
    """Returns (vt, value) of the typed value at pos in the section."""
    vt = _u16(sec, pos, "property type")
    if vt == VT_LPSTR:
        n = _u32(sec, pos + 4, "string length")
        raw = _take(sec, pos + 8, n, "string")
        if n == 0 or raw[-1:] != b"\0":
            raise PropSetError("string at %d lacks its terminating NUL" % pos)
        return vt, raw[:-1].decode(codec, "backslashreplace")
    if vt == VT_LPWSTR:
        n = _u32(sec, pos + 4, "string length")
        raw = _take(sec, pos + 8, 2 * n, "wide string")
        if n == 0 or raw[-2:] != b"\0\0":
            raise PropSetError("wide string at %d lacks its terminating NUL" % pos)
        return vt, raw[:-2].decode("utf-16-le", "backslashreplace")
    if vt == VT_I2:
        return vt, _u16(sec, pos + 4, "VT_I2 value")
    if vt == VT_I4:
        return vt, struct.unpack("<i", _take(sec, pos + 4, 4, "VT_I4 value"))[0]
    if vt == VT_BOOL:
        return vt, _u16(sec, pos + 4, "VT_BOOL value") != 0
    if vt == VT_FILETIME:
        return vt, struct.unpack("<Q", _take(sec, pos + 4, 8, "VT_FILETIME value"))[0]
    return vt, None


def _parse_dictionary(sec, pos, codec):
    count = _u32(sec, pos, "dictionary entry count")
    if count > len(sec) // 8:
        raise PropSetError("dictionary claims %d entries in a %d byte section" % (count, len(sec)))
    names = []
    pos += 4
    for _ in range(count):
        pid = _u32(sec, pos, "dictionary id")
        n = _u32(sec, pos + 4, "dictionary name length")
        raw = _take(sec, pos + 8, n, "dictionary name")
        if n == 0 or raw[-1:] != b"\0":
            raise PropSetError("dictionary name for id %d lacks its terminating NUL" % pid)
        names.append((pid, raw[:-1].decode(codec, "backslashreplace")))
        pos += 8 + n
    return names


def parse_section(data, offset):
    size = _u32(data, offset, "section size")
    sec = _take(data, offset, size, "section")
    count = _u32(sec, 4, "property count")
    if count > (size - 8) // 8:
        raise PropSetError("section claims %d properties in %d bytes" % (count, size))
    table = [struct.unpack_from("<II", sec, 8 + 8 * i) for i in range(count)]

    codepage = None
    for pid, off in table:
        if pid == PID_CODEPAGE:
            vt, value = _parse_value(sec, off, "latin-1")
            if vt != VT_I2:
                raise PropSetError("code page property has type 0x%04x" % vt)
            codepage = value
    try:
        codec = codec_for(codepage) if codepage is not None else "latin-1"
        "".encode(codec)
    except (ValueError, LookupError):
        codec = "latin-1"

    props = []
    dictionary = None
    for pid, off in table:
        if off % 4:
            raise PropSetError("property %d at unaligned offset %d" % (pid, off))
        if pid == PID_DICTIONARY:
            dictionary = _parse_dictionary(sec, off, codec)
        elif pid != PID_CODEPAGE:
            vt, value = _parse_value(sec, off, codec)
            props.append((pid, vt, value))
    return {"size": size, "codepage": codepage, "dictionary": dictionary, "props": props}


def parse_propset(data):
    """Parses a property set stream. Returns {"sections": [...]}, each with
    fmtid, offset, size, codepage, dictionary (list of (id, name) or None)
    and props (list of (id, vt, value) in table order)."""
    if _u16(data, 0, "byte order") != PROPSET_BYTE_ORDER:
        raise PropSetError("bad byte order mark")
    n = _u32(data, 24, "section count")
    if n not in (1, 2):
        raise PropSetError("%d sections (1 or 2 expected)" % n)
    sections = []
    for i in range(n):
        fmtid = uuid.UUID(bytes_le=bytes(_take(data, 28 + 20 * i, 16, "FMTID")))
        offset = _u32(data, 44 + 20 * i, "section offset")
        sec = parse_section(data, offset)
        sec["fmtid"] = str(fmtid).upper()
        sec["offset"] = offset
        sections.append(sec)
    return {"sections": sections}


def user_properties(data):
    """The user-defined section's properties as a list of
    (name or None, vt, value), in the order they are stored."""
    info = parse_propset(data)
    for sec in info["sections"]:
        if sec["fmtid"] == str(FMTID_USER_DEFINED).upper():
            names = dict(sec["dictionary"] or [])
            return sec["codepage"], [(names.get(pid), vt, v) for pid, vt, v in sec["props"]]
    raise PropSetError("no user-defined section")


# ---------------------------------------------------------------------------
# Compound file
# ---------------------------------------------------------------------------

CFB_SIGNATURE = bytes.fromhex("D0CF11E0A1B11AE1")
SECTOR = 512
MINI_SECTOR = 64
MINI_CUTOFF = 4096
ENTRY_SIZE = 128
HEADER_DIFAT = 109
IDS_PER_SECTOR = SECTOR // 4

MAXREGSECT = 0xFFFFFFFA
DIFSECT = 0xFFFFFFFC
FATSECT = 0xFFFFFFFD
ENDOFCHAIN = 0xFFFFFFFE
FREESECT = 0xFFFFFFFF
NOSTREAM = 0xFFFFFFFF

TYPE_STORAGE = 1
TYPE_STREAM = 2
TYPE_ROOT = 5
RED = 0
BLACK = 1

CONTENTS = "Contents"
PROPSET_STREAM = "\x05DocumentSummaryInformation"


class CfbError(Exception):
    pass


def _ceil_div(a, b):
    return -(-a // b)


def name_key(name):
    # Siblings are ordered by name length first, then by the upper-cased
    # names compared code unit by code unit.
    return (len(name), name.upper())


class _Entry:
    def __init__(self, name, kind, data=b""):
        self.name = name
        self.kind = kind
        self.data = data
        self.color = BLACK
        self.left = self.right = self.child = NOSTREAM
        self.start = ENDOFCHAIN
        self.size = 0
        self.chain = []        # sectors (or mini sectors) holding the data
        self.in_mini = False

    def encode(self):
        raw_name = self.name.encode("utf-16-le")
        if len(raw_name) > 62:
            raise ValueError("stream name too long: %r" % self.name)
        out = raw_name.ljust(64, b"\0")
        out += struct.pack("<HBB", len(raw_name) + 2, self.kind, self.color)
        out += struct.pack("<III", self.left, self.right, self.child)
        out += b"\0" * 16        # CLSID
        out += b"\0" * 4         # state bits
        out += b"\0" * 16        # creation and modification time
        out += struct.pack("<IQ", self.start, self.size)
        return out


EMPTY_ENTRY = b"\0" * 64 + struct.pack("<HBBIII", 0, 0, 0, NOSTREAM, NOSTREAM, NOSTREAM) + b"\0" * 52


def _build_tree(entries, ids):
    """Links ids (children of one storage) into a balanced search tree and
    returns the root id. With sizes of the two subtrees never differing by
    more than one, all levels but the deepest are full; colouring only that
    deepest level red keeps every path's black count equal."""
    ordered = sorted(ids, key=lambda i: name_key(entries[i].name))
    full_levels = (len(ordered) + 1).bit_length() - 1

    def build(lo, hi, depth):
        if lo >= hi:
            return NOSTREAM
        mid = (lo + hi) // 2
        e = entries[ordered[mid]]
        e.left = build(lo, mid, depth + 1)
        e.right = build(mid + 1, hi, depth + 1)
        e.color = RED if depth >= full_levels else BLACK
        return ordered[mid]

    return build(0, len(ordered), 0)


class CfbLayout:
    """A compound file laid out in memory, not yet serialised, so that
    damage can be applied to its FAT and directory before writing."""

    def __init__(self, streams):
        """streams: list of (name, bytes) for streams under the root."""
        names = [n for n, _ in streams]
        if len(set(n.upper() for n in names)) != len(names):
            raise ValueError("duplicate stream names: %r" % names)
        self.entries = [_Entry("Root Entry", TYPE_ROOT)]
        self.entries += [_Entry(n, TYPE_STREAM, d) for n, d in streams]
        root = self.entries[0]
        root.child = _build_tree(self.entries, range(1, len(self.entries)))

        self.sectors = []     # 512-byte data sectors, index = sector id
        self.fat = []

        # Small streams live in the mini stream, in 64-byte mini sectors.
        mini = bytearray()
        self.minifat = []
        for e in self.entries[1:]:
            e.size = len(e.data)
            if e.size == 0:
                continue
            if e.size < MINI_CUTOFF:
                e.in_mini = True
                first = len(self.minifat)
                n = _ceil_div(e.size, MINI_SECTOR)
                e.chain = list(range(first, first + n))
                self.minifat += list(range(first + 1, first + n)) + [ENDOFCHAIN]
                mini += e.data.ljust(n * MINI_SECTOR, b"\0")
                e.start = first

        n_dir = _ceil_div(len(self.entries) * ENTRY_SIZE, SECTOR)
        self.dir_chain = self._alloc(b"\0" * (n_dir * SECTOR))
        self.minifat_chain = []
        if self.minifat:
            padded = self.minifat + [FREESECT] * (-len(self.minifat) % IDS_PER_SECTOR)
            self.minifat_chain = self._alloc(struct.pack("<%dI" % len(padded), *padded))
        if mini:
            root.chain = self._alloc(bytes(mini))
            root.start = root.chain[0]
            root.size = len(mini)
        for e in self.entries[1:]:
            if e.size and not e.in_mini:
                e.chain = self._alloc(e.data)
                e.start = e.chain[0]

        # FAT and DIFAT sectors go last; they must also be counted in the
        # FAT they make up.
        n_data = len(self.sectors)
        n_fat = 1
        while True:
            n_difat = max(0, _ceil_div(n_fat - HEADER_DIFAT, IDS_PER_SECTOR - 1))
            if n_fat * IDS_PER_SECTOR >= n_data + n_fat + n_difat:
                break
            n_fat += 1
        self.fat_sectors = list(range(n_data, n_data + n_fat))
        self.difat_sectors = list(range(n_data + n_fat, n_data + n_fat + n_difat))
        self.fat += [FATSECT] * n_fat + [DIFSECT] * n_difat
        self.fat += [FREESECT] * (n_fat * IDS_PER_SECTOR - len(self.fat))
        self.total_sectors = n_data + n_fat + n_difat
        self.first_dir = self.dir_chain[0]

    def _alloc(self, data):
        n = _ceil_div(len(data), SECTOR)
        first = len(self.sectors)
        for i in range(n):
            self.sectors.append(data[i * SECTOR:(i + 1) * SECTOR].ljust(SECTOR, b"\0"))
        self.fat += list(range(first + 1, first + n)) + [ENDOFCHAIN]
        return list(range(first, first + n))

    def entry(self, name):
        for e in self.entries:
            if e.name == name:
                return e
        return None

    def _damage_target(self):
        """The chain to break: Contents if it sits in the FAT, otherwise the
        mini stream (which holds the small streams), otherwise the
        directory. Returns (description, chain, entry or None)."""
        contents = self.entry(CONTENTS)
        if contents is not None and contents.chain and not contents.in_mini:
            return "FAT chain of 'Contents'", contents.chain, contents
        root = self.entries[0]
        if root.chain:
            return "FAT chain of the mini stream", root.chain, root
        return "FAT chain of the directory", self.dir_chain, None

    def damage(self, kind):
        """Applies a structural damage; returns a one-line description."""
        what, chain, owner = self._damage_target()
        if kind == "fat-loop":
            # The first sector names itself as its successor: a reader that
            # follows the chain without remembering where it has been never
            # reaches the end, one that stops after `size` bytes reads the
            # same sector over and over.
            self.fat[chain[0]] = chain[0]
            return "%s: sector %d now continues with itself" % (what, chain[0])
        if kind == "bad-sector":
            beyond = self.total_sectors  # the first sector after the end of the file
            if len(chain) >= 2:
                self.fat[chain[0]] = beyond
                return "%s: sector %d now continues at %d, past the end" % (what, chain[0], beyond)
            if owner is not None:
                owner.start = beyond
            else:
                self.first_dir = beyond
            return "%s: now starts at sector %d, past the end" % (what, beyond)
        raise ValueError("not a compound file damage kind: %s" % kind)

    def serialise(self):
        dir_bytes = b"".join(e.encode() for e in self.entries)
        dir_bytes += EMPTY_ENTRY * (len(self.dir_chain) * SECTOR // ENTRY_SIZE - len(self.entries))
        for i, sid in enumerate(self.dir_chain):
            self.sectors[sid] = dir_bytes[i * SECTOR:(i + 1) * SECTOR]

        fat_bytes = struct.pack("<%dI" % len(self.fat), *self.fat)
        sectors = list(self.sectors)
        for i in range(len(self.fat_sectors)):
            sectors.append(fat_bytes[i * SECTOR:(i + 1) * SECTOR])

        header_difat = self.fat_sectors[:HEADER_DIFAT]
        header_difat += [FREESECT] * (HEADER_DIFAT - len(header_difat))
        rest = self.fat_sectors[HEADER_DIFAT:]
        per = IDS_PER_SECTOR - 1
        for i, sid in enumerate(self.difat_sectors):
            ids = rest[i * per:(i + 1) * per]
            ids += [FREESECT] * (per - len(ids))
            nxt = self.difat_sectors[i + 1] if i + 1 < len(self.difat_sectors) else ENDOFCHAIN
            sectors.append(struct.pack("<%dI" % IDS_PER_SECTOR, *(ids + [nxt])))

        header = CFB_SIGNATURE + b"\0" * 16
        header += struct.pack("<HHHHH", 0x003E, 3, 0xFFFE, 9, 6) + b"\0" * 6
        header += struct.pack(
            "<IIIIIIIII",
            0,                                  # directory sectors (v3: 0)
            len(self.fat_sectors),
            self.first_dir,
            0,                                  # transaction signature
            MINI_CUTOFF,
            self.minifat_chain[0] if self.minifat_chain else ENDOFCHAIN,
            len(self.minifat_chain),
            self.difat_sectors[0] if self.difat_sectors else ENDOFCHAIN,
            len(self.difat_sectors),
        )
        header += struct.pack("<%dI" % HEADER_DIFAT, *header_difat)
        assert len(header) == SECTOR
        return header + b"".join(sectors)


def build_cfb(streams, damage=(), log=None):
    """Returns the bytes of a compound file holding the given root streams,
    with the compound-file damage kinds among `damage` applied."""
    layout = CfbLayout(streams)
    for kind in damage:
        if kind in ("fat-loop", "bad-sector"):
            note = layout.damage(kind)
            if log:
                log("damage %s: %s" % (kind, note))
    data = layout.serialise()
    if "truncate" in damage:
        data = data[:len(data) // 2]
        if log:
            log("damage truncate: cut to %d bytes" % len(data))
    return data


class CfbReader:
    """A strict compound file reader that reports damage instead of
    following it: every chain is followed to its end and checked for loops
    and for sectors outside the file, and its length must match the size
    of what it holds."""

    def __init__(self, data):
        self.data = data
        if len(data) < SECTOR or data[:8] != CFB_SIGNATURE:
            raise CfbError("not a compound file")
        (minor, major, bom, shift, mini_shift) = struct.unpack_from("<HHHHH", data, 24)
        if bom != 0xFFFE:
            raise CfbError("bad byte order mark")
        if (major, shift) not in ((3, 9), (4, 12)) or mini_shift != 6:
            raise CfbError("unsupported version %d / sector shift %d" % (major, shift))
        self.ssize = 1 << shift
        (_, n_fat, first_dir, _, self.cutoff, first_minifat, n_minifat,
         first_difat, n_difat) = struct.unpack_from("<9I", data, 40)
        self.version = (major, minor)

        fat_ids = list(struct.unpack_from("<%dI" % HEADER_DIFAT, data, 76))
        per = self.ssize // 4
        sid, seen = first_difat, set()
        for _ in range(n_difat):
            if sid in seen:
                raise CfbError("DIFAT chain loops at sector %d" % sid)
            seen.add(sid)
            ids = struct.unpack("<%dI" % per, self._sector(sid))
            fat_ids += ids[:-1]
            sid = ids[-1]
        fat_ids = [i for i in fat_ids if i <= MAXREGSECT][:n_fat]
        if len(fat_ids) != n_fat:
            raise CfbError("header names %d FAT sectors, DIFAT lists %d" % (n_fat, len(fat_ids)))
        self.fat = []
        for sid in fat_ids:
            self.fat += struct.unpack("<%dI" % per, self._sector(sid))

        dir_bytes = b"".join(self._sector(s) for s in self._chain(self.fat, first_dir, "directory"))
        self.entries = []
        for off in range(0, len(dir_bytes), ENTRY_SIZE):
            raw = dir_bytes[off:off + ENTRY_SIZE]
            name_len, kind, color, left, right, child = struct.unpack_from("<HBBIII", raw, 64)
            start, size = struct.unpack_from("<IQ", raw, 116)
            if major == 3:
                size &= 0xFFFFFFFF
            name = raw[:max(0, min(name_len, 64) - 2)].decode("utf-16-le", "replace")
            self.entries.append({"name": name, "type": kind, "color": color, "left": left,
                                 "right": right, "child": child, "start": start, "size": size})
        if not self.entries or self.entries[0]["type"] != TYPE_ROOT:
            raise CfbError("first directory entry is not the root")

        self.minifat = []
        if n_minifat:
            for s in self._chain(self.fat, first_minifat, "mini FAT"):
                self.minifat += struct.unpack("<%dI" % per, self._sector(s))
        self._mini = None

    def _sector(self, sid):
        if sid > MAXREGSECT:
            raise CfbError("special value 0x%08X used as a sector" % sid)
        off = (sid + 1) * self.ssize
        if off + self.ssize > len(self.data):
            raise CfbError("sector %d lies past the end of the file" % sid)
        return self.data[off:off + self.ssize]

    def _chain(self, table, start, what, in_file=True):
        """Follows a chain to its end. FAT chains must stay inside the file;
        a chain that revisits a sector is an error, not an endless loop."""
        n_file = (len(self.data) // self.ssize) - 1
        chain, seen, sid = [], set(), start
        while sid != ENDOFCHAIN:
            if sid > MAXREGSECT or sid >= len(table):
                raise CfbError("%s chain reaches invalid sector 0x%X" % (what, sid))
            if in_file and sid >= n_file:
                raise CfbError("%s chain reaches sector %d, past the end of the file" % (what, sid))
            if sid in seen:
                raise CfbError("%s chain loops back to sector %d" % (what, sid))
            seen.add(sid)
            chain.append(sid)
            sid = table[sid]
        return chain

    def _read(self, table, start, size, unit, fetch, what, in_file=True):
        need = _ceil_div(size, unit)
        chain = self._chain(table, start, what, in_file)
        if len(chain) != need:
            raise CfbError("%s: chain has %d sectors, its size needs %d" % (what, len(chain), need))
        return b"".join(fetch(s) for s in chain)[:size]

    def mini_stream(self):
        if self._mini is None:
            root = self.entries[0]
            self._mini = self._read(self.fat, root["start"], root["size"], self.ssize,
                                    self._sector, "mini stream")
        return self._mini

    def _mini_sector(self, sid):
        mini = self.mini_stream()
        off = sid * MINI_SECTOR
        if off + MINI_SECTOR > len(mini):
            raise CfbError("mini sector %d lies past the end of the mini stream" % sid)
        return mini[off:off + MINI_SECTOR]

    def read_entry(self, entry):
        size, what = entry["size"], "stream %r" % entry["name"]
        if size == 0:
            return b""
        if size < self.cutoff:
            return self._read(self.minifat, entry["start"], size, MINI_SECTOR,
                              self._mini_sector, what, in_file=False)
        return self._read(self.fat, entry["start"], size, self.ssize, self._sector, what)

    def walk(self):
        """Yields (path, entry) for every storage and stream below the root,
        following the sibling trees; a path is a tuple of names."""
        seen = set()

        def visit(eid, parent):
            stack = [eid]
            while stack:
                i = stack.pop()
                if i == NOSTREAM:
                    continue
                if i >= len(self.entries) or i in seen:
                    raise CfbError("directory tree refers to entry %d twice or out of range" % i)
                seen.add(i)
                e = self.entries[i]
                path = parent + (e["name"],)
                yield path, e
                if e["type"] == TYPE_STORAGE:
                    yield from visit(e["child"], path)
                stack += [e["right"], e["left"]]

        yield from visit(self.entries[0]["child"], ())

    def streams(self):
        """{name: bytes} of the root's streams."""
        out = {}
        for path, e in self.walk():
            if len(path) == 1 and e["type"] == TYPE_STREAM:
                out[path[0]] = self.read_entry(e)
        return out


# ---------------------------------------------------------------------------
# Archives
# ---------------------------------------------------------------------------

ZIP_DATE = (2020, 1, 1, 0, 0, 0)


def seven_zip():
    exe = shutil.which("7z")
    if not exe:
        raise SystemExit("error: the 7z command is missing (Debian package p7zip-full)")
    return exe


def run_7z(args, cwd=None):
    proc = subprocess.run([seven_zip(), *args], cwd=cwd, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    if proc.returncode != 0:
        raise SystemExit("error: 7z %s failed:\n%s" % (args[0], proc.stdout.decode(errors="replace")))


def tree_7z(tree, out):
    """A 7z archive of the contents of directory `tree` (names relative to
    it)."""
    tree = os.path.abspath(tree)
    top = sorted(os.listdir(tree))
    if not top:
        raise SystemExit("error: %s is empty" % tree)
    out = os.path.abspath(out)
    if os.path.exists(out):
        os.unlink(out)
    run_7z(["a", "-t7z", "-bd", "-mx=1", "-snl", out, "--", *top], cwd=tree)


class Item:
    """An archive member: kind is "file", "dir" or "symlink"; data is the
    content (bytes) or the link target (str)."""

    def __init__(self, name, kind, data=b""):
        self.name = name
        self.kind = kind
        self.data = data


def tree_items(tree):
    items = []
    for dirpath, dirnames, filenames in os.walk(tree):
        dirnames.sort()
        rel = os.path.relpath(dirpath, tree)
        prefix = "" if rel == "." else rel + "/"
        for d in dirnames:
            p = os.path.join(dirpath, d)
            if os.path.islink(p):
                items.append(Item(prefix + d, "symlink", os.readlink(p)))
            else:
                items.append(Item(prefix + d, "dir"))
        for f in sorted(filenames):
            p = os.path.join(dirpath, f)
            if os.path.islink(p):
                items.append(Item(prefix + f, "symlink", os.readlink(p)))
            else:
                with open(p, "rb") as fh:
                    items.append(Item(prefix + f, "file", fh.read()))
    return items


def write_zip(out, items):
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as zf, warnings.catch_warnings():
        # Duplicate names are wanted here.
        warnings.simplefilter("ignore", UserWarning)
        for item in items:
            zi = zipfile.ZipInfo("x", ZIP_DATE)
            # Set after construction: the constructor may rewrite some names.
            zi.filename = zi.orig_filename = item.name
            zi.create_system = 3  # Unix, so that the mode bits count
            if item.kind == "dir":
                if not item.name.endswith("/"):
                    zi.filename = zi.orig_filename = item.name + "/"
                zi.external_attr = ((stat.S_IFDIR | 0o755) << 16) | 0x10
                zi.compress_type = zipfile.ZIP_STORED
                data = b""
            elif item.kind == "symlink":
                zi.external_attr = (stat.S_IFLNK | 0o777) << 16
                zi.compress_type = zipfile.ZIP_STORED
                data = item.data.encode()
            else:
                zi.external_attr = (stat.S_IFREG | 0o644) << 16
                zi.compress_type = zipfile.ZIP_DEFLATED
                data = item.data
            zf.writestr(zi, data)


def spoil_zip_crcs(out, names):
    """Stores a wrong CRC-32 for each named member, in its local header and
    in the central directory, so that the member extracts in full and then
    fails its check."""
    with zipfile.ZipFile(out) as zf:
        start = zf.start_dir
        infos = zf.infolist()
    wanted = set(names)
    missing = wanted - {i.filename for i in infos}
    if missing:
        raise ValueError("no member named %s" % ", ".join(sorted(missing)))
    with open(out, "r+b") as fh:
        data = bytearray(fh.read())
        pos = start
        for info in infos:
            if data[pos:pos + 4] != b"PK\x01\x02":
                raise ValueError("central directory entry expected at %d" % pos)
            name_len, extra_len, comment_len = struct.unpack_from("<HHH", data, pos + 28)
            local = struct.unpack_from("<I", data, pos + 42)[0]
            if info.filename in wanted:
                crc = struct.unpack_from("<I", data, pos + 16)[0] ^ 0xFFFFFFFF
                struct.pack_into("<I", data, pos + 16, crc)
                struct.pack_into("<I", data, local + 14, crc)
            pos += 46 + name_len + extra_len + comment_len
        fh.seek(0)
        fh.write(data)


def write_gz(out, name, data, claimed_size=None):
    """A gzip file of one member named `name`. Its trailer states
    `claimed_size` as the member's size when given (the CRC stays right), so
    a reader that trusts the trailer expects less than it will get."""
    deflate = zlib.compressobj(9, zlib.DEFLATED, -15)
    body = deflate.compress(data) + deflate.flush()
    header = b"\x1f\x8b\x08\x08" + struct.pack("<I", 1577836800) + b"\x02\x03"
    header += name.encode("latin-1") + b"\x00"
    size = len(data) if claimed_size is None else claimed_size
    trailer = struct.pack("<II", zlib.crc32(data) & 0xFFFFFFFF, size & 0xFFFFFFFF)
    write_file(out, header + body + trailer)


def write_7z(out, items, tree=None):
    """7z stores member names as given when they are set by renaming: the
    members are first added under harmless placeholder names, then renamed
    to the wanted (possibly hostile) names in one `7z rn` run."""
    out = os.path.abspath(out)
    if os.path.exists(out):
        os.unlink(out)
    with tempfile.TemporaryDirectory(prefix="pkgmaker-") as tmp:
        stage = os.path.join(tmp, "stage")
        os.mkdir(stage)
        placeholders = []
        for i, item in enumerate(items):
            ph = "pkgmaker-item-%05d" % i
            p = os.path.join(stage, ph)
            if item.kind == "dir":
                os.mkdir(p)
            elif item.kind == "symlink":
                os.symlink(item.data, p)
            else:
                with open(p, "wb") as fh:
                    fh.write(item.data)
            placeholders.append(ph)
        if tree is not None:
            tree_7z(tree, out)
        if not placeholders:
            if tree is None:
                raise SystemExit("error: no items")
            return
        # -snl keeps symlinks as links; placeholder directories are empty,
        # so adding them adds just the directory entry.
        run_7z(["a", "-t7z", "-bd", "-mx=1", "-snl", out, "--", *placeholders], cwd=stage)
        pairs = []
        for ph, item in zip(placeholders, items):
            pairs += [ph, item.name]
        run_7z(["rn", "-bd", out, "--", *pairs])


# ---------------------------------------------------------------------------
# Command line
# ---------------------------------------------------------------------------

FILETIME_EPOCH = datetime.datetime(1601, 1, 1, tzinfo=datetime.timezone.utc)


def parse_filetime(text):
    """An integer (100 ns ticks since 1601) or an ISO 8601 date and time
    (UTC when no offset is given)."""
    try:
        return int(text, 0)
    except ValueError:
        pass
    dt = datetime.datetime.fromisoformat(text.replace("Z", "+00:00"))
    if dt.tzinfo is None:
        dt = dt.replace(tzinfo=datetime.timezone.utc)
    delta = dt - FILETIME_EPOCH
    return (delta.days * 86400 + delta.seconds) * 10_000_000 + delta.microseconds * 10


def split_pair(text, option):
    if "=" not in text:
        raise argparse.ArgumentTypeError("%s expects NAME=VALUE, got %r" % (option, text))
    return text.split("=", 1)


class AppendInOrder(argparse.Action):
    """Collects several option kinds into one list, in command-line order,
    as (option name, argument)."""

    def __call__(self, parser, namespace, values, option_string=None):
        items = getattr(namespace, self.dest, None) or []
        items.append((option_string, values))
        setattr(namespace, self.dest, items)


def props_from_args(ordered):
    props = []
    for option, arg in ordered or []:
        name, value = split_pair(arg, option)
        if option == "--prop":
            props.append(Prop(name, VT_LPSTR, value))
        elif option == "--prop-hex":
            props.append(Prop(name, VT_LPSTR, bytes.fromhex(value)))
        elif option == "--prop-wstr":
            props.append(Prop(name, VT_LPWSTR, value))
        elif option == "--prop-int":
            props.append(Prop(name, VT_I4, int(value, 0)))
        elif option == "--prop-bool":
            props.append(Prop(name, VT_BOOL, value.lower() in ("1", "true", "yes")))
        elif option == "--prop-filetime":
            props.append(Prop(name, VT_FILETIME, parse_filetime(value)))
    return props


def items_from_args(ordered):
    items = []
    for option, arg in ordered or []:
        if option == "--dir":
            items.append(Item(arg, "dir"))
            continue
        name, value = split_pair(arg, option)
        if option == "--item":
            with open(value, "rb") as fh:
                items.append(Item(name, "file", fh.read()))
        elif option == "--item-text":
            items.append(Item(name, "file", value.encode()))
        elif option == "--symlink":
            items.append(Item(name, "symlink", value))
    return items


def read_file(path):
    with open(path, "rb") as fh:
        return fh.read()


def write_file(path, data):
    with open(path, "wb") as fh:
        fh.write(data)


def log(msg):
    print(msg, file=sys.stderr)


def cmd_package(args):
    damage = args.damage or []
    props = props_from_args(args.props)
    if args.propset_file:
        propset = read_file(args.propset_file)
        for kind in damage:
            if kind in PROPSET_DAMAGE:
                raise SystemExit("error: %s cannot be combined with --propset-file" % kind)
    else:
        propset = build_propset(props, args.codepage, [d for d in damage if d in PROPSET_DAMAGE])

    streams = []
    if args.contents_file:
        streams.append((CONTENTS, read_file(args.contents_file)))
    elif not args.no_contents:
        with tempfile.TemporaryDirectory(prefix="pkgmaker-") as tmp:
            arc = os.path.join(tmp, "contents.7z")
            tree_7z(args.tree, arc)
            streams.append((CONTENTS, read_file(arc)))
    if not args.no_propset:
        streams.append((PROPSET_STREAM, propset))
    for stream_arg in args.stream or []:
        name, path = split_pair(stream_arg, "--stream")
        streams.append((name.replace("\\005", "\x05"), read_file(path)))
    write_file(args.out, build_cfb(streams, damage, log))


def cmd_zip(args):
    items = tree_items(args.tree) if args.tree else []
    items += items_from_args(args.items)
    if not items:
        raise SystemExit("error: no items")
    write_zip(args.out, items)
    if args.bad_crc:
        spoil_zip_crcs(args.out, args.bad_crc)


def cmd_gz(args):
    items = items_from_args(args.items)
    if len(items) != 1 or items[0].kind != "file":
        raise SystemExit("error: a gzip file holds exactly one file member")
    write_gz(args.out, items[0].name, items[0].data, args.claim_size)


def cmd_7z(args):
    write_7z(args.out, items_from_args(args.items), args.tree)


def cmd_truncate(args):
    data = read_file(args.input)
    n = args.bytes if args.bytes >= 0 else max(0, len(data) + args.bytes)
    write_file(args.out, data[:n])


def describe_value(vt, value):
    return "%s %r" % (VT_NAMES.get(vt, "type 0x%04x" % vt), value)


def cmd_dump(args):
    data = read_file(args.file)
    report = {"file": args.file, "size": len(data), "streams": [], "errors": []}
    streams = {}
    try:
        cfb = CfbReader(data)
        report["version"] = "%d.%d" % cfb.version
        for path, e in cfb.walk():
            row = {"path": "/".join(path), "type": {1: "storage", 2: "stream"}.get(e["type"], e["type"]),
                   "size": e["size"]}
            if e["type"] == TYPE_STREAM:
                try:
                    content = cfb.read_entry(e)
                    if len(path) == 1:
                        streams[path[0]] = content
                except CfbError as exc:
                    row["error"] = str(exc)
                    report["errors"].append("%s: %s" % (row["path"], exc))
            report["streams"].append(row)
    except CfbError as exc:
        report["errors"].append(str(exc))

    if PROPSET_STREAM in streams:
        try:
            info = parse_propset(streams[PROPSET_STREAM])
            sections = []
            for sec in info["sections"]:
                names = dict(sec["dictionary"] or [])
                sections.append({
                    "fmtid": sec["fmtid"], "offset": sec["offset"], "size": sec["size"],
                    "codepage": sec["codepage"],
                    "dictionary": [{"id": pid, "name": n} for pid, n in sec["dictionary"] or []]
                    if sec["dictionary"] is not None else None,
                    "properties": [{"id": pid, "name": names.get(pid), "type": VT_NAMES.get(vt, vt),
                                    "value": value} for pid, vt, value in sec["props"]],
                })
            report["property_sets"] = sections
        except PropSetError as exc:
            report["errors"].append("property set: %s" % exc)

    if args.json:
        json.dump(report, sys.stdout, indent=2, ensure_ascii=False)
        print()
    else:
        print("%s: %d bytes, compound file version %s" % (args.file, len(data), report.get("version", "?")))
        for row in report["streams"]:
            print("  %-8s %10d  %s%s" % (row["type"], row["size"], row["path"].replace("\x05", "\\005"),
                                          "  [%s]" % row["error"] if "error" in row else ""))
        for sec in report.get("property_sets", []):
            print("section %s at %d, %d bytes, code page %s" % (sec["fmtid"], sec["offset"], sec["size"],
                                                                  sec["codepage"]))
            for p in sec["properties"]:
                print("  [%d] %r = %s %r" % (p["id"], p["name"], p["type"], p["value"]))
        for err in report["errors"]:
            print("error: %s" % err.replace("\x05", "\\005"))
    return 1 if report["errors"] else 0


def make_parser():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = ap.add_subparsers(dest="command", required=True)

    p = sub.add_parser("package", help="build a package file")
    p.add_argument("out")
    src = p.add_mutually_exclusive_group(required=True)
    src.add_argument("--tree", help="directory whose contents become the Contents 7z archive")
    src.add_argument("--contents-file", help="file whose bytes become the Contents stream")
    src.add_argument("--no-contents", action="store_true", help="leave out the Contents stream")
    for opt, text in (("--prop", "string property (VT_LPSTR in the code page)"),
                      ("--prop-hex", "VT_LPSTR property with these raw bytes (hex)"),
                      ("--prop-wstr", "VT_LPWSTR property"),
                      ("--prop-int", "VT_I4 property"),
                      ("--prop-bool", "VT_BOOL property"),
                      ("--prop-filetime", "VT_FILETIME property (ticks or ISO 8601)")):
        p.add_argument(opt, dest="props", action=AppendInOrder, metavar="NAME=VALUE", help=text)
    p.add_argument("--codepage", type=int, default=1252, help="code page of names and strings (default 1252)")
    p.add_argument("--propset-file", help="raw bytes for the property set stream")
    p.add_argument("--no-propset", action="store_true", help="leave out the property set stream")
    p.add_argument("--stream", action="append", metavar="NAME=FILE",
                   help="an extra root stream (\\005 in NAME stands for byte 5)")
    p.add_argument("--damage", action="append", choices=DAMAGE_KINDS)
    p.set_defaults(func=cmd_package)

    for fmt, func in (("zip", cmd_zip), ("7z", cmd_7z)):
        p = sub.add_parser(fmt, help="build a %s archive with exactly the given member names" % fmt)
        p.add_argument("out")
        p.add_argument("--tree", help="add this directory's contents first")
        p.add_argument("--item", dest="items", action=AppendInOrder, metavar="NAME=FILE")
        p.add_argument("--item-text", dest="items", action=AppendInOrder, metavar="NAME=TEXT")
        p.add_argument("--dir", dest="items", action=AppendInOrder, metavar="NAME")
        p.add_argument("--symlink", dest="items", action=AppendInOrder, metavar="NAME=TARGET")
        if fmt == "zip":
            p.add_argument("--bad-crc", action="append", metavar="NAME",
                           help="store a wrong CRC-32 for this member (repeatable)")
        p.set_defaults(func=func)

    p = sub.add_parser("gz", help="build a gzip file of one member")
    p.add_argument("out")
    p.add_argument("--item", dest="items", action=AppendInOrder, metavar="NAME=FILE")
    p.add_argument("--item-text", dest="items", action=AppendInOrder, metavar="NAME=TEXT")
    p.add_argument("--claim-size", type=int, metavar="N",
                   help="state N as the member's size in the trailer")
    p.set_defaults(func=cmd_gz)

    p = sub.add_parser("truncate", help="copy a file cut to N bytes (negative N: drop N bytes)")
    p.add_argument("input")
    p.add_argument("out")
    p.add_argument("--bytes", type=int, required=True)
    p.set_defaults(func=cmd_truncate)

    p = sub.add_parser("dump", help="show a compound file's streams and properties")
    p.add_argument("file")
    p.add_argument("--json", action="store_true")
    p.set_defaults(func=cmd_dump)
    return ap


def main(argv=None):
    args = make_parser().parse_args(argv)
    try:
        return args.func(args) or 0
    except (ValueError, argparse.ArgumentTypeError, OSError) as exc:
        print("error: %s" % exc, file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
