#!/usr/bin/env python3
"""Tests for the test package maker.

Run from the repository root:  python3 tools/pkgmaker/test_pkgmaker.py
Tests that need the 7z tool (p7zip-full) or olefile (python3-olefile) are
skipped when those are missing.
"""

import contextlib
import io
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import pkgmaker as pm  # noqa: E402

try:
    import olefile
except ImportError:
    olefile = None

SEVEN_ZIP = shutil.which("7z")
needs_7z = unittest.skipUnless(SEVEN_ZIP, "7z tool missing (p7zip-full)")

DSI = pm.PROPSET_STREAM

PACKAGE_PROPS = [
    pm.Prop("timestamp", pm.VT_LPSTR, "2024-05-06T07:08:09Z"),
    pm.Prop("compatibility level", pm.VT_LPSTR, "1"),
    pm.Prop("package type", pm.VT_LPSTR, "VeltraDynamicRemoteHMIArchive"),
    pm.Prop("jre version", pm.VT_LPSTR, "17.0.9"),
    pm.Prop("product type", pm.VT_LPSTR, "Wärmepumpe"),
    pm.Prop("release version", pm.VT_LPSTR, "4.2.0"),
]


class TempDirTest(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory(prefix="test-pkgmaker-")
        self.addCleanup(tmp.cleanup)
        self.tmp = tmp.name

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def write(self, rel, data):
        p = self.path(rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as fh:
            fh.write(data)
        return p

    def make_tree(self):
        self.write("tree/jre/bin/java.exe", b"java" * 100)
        self.write("tree/jre/release", b'JAVA_VERSION="17"\n')
        self.write("tree/lib/app.jar", b"jar" * 50)
        return self.path("tree")

    def cli(self, *args, check=True):
        proc = subprocess.run([sys.executable, os.path.join(HERE, "pkgmaker.py"), *args],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if check and proc.returncode != 0:
            self.fail("pkgmaker %s failed (%d): %s" % (args[0], proc.returncode, proc.stderr))
        return proc

    def seven_zip(self, *args):
        return subprocess.run([SEVEN_ZIP, *args], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              stdin=subprocess.DEVNULL)


class PropertySetTest(unittest.TestCase):
    CASES = [
        ("package properties", 1252, PACKAGE_PROPS),
        ("utf-8 names and values", 65001, [
            pm.Prop("Größe", pm.VT_LPSTR, "€ 5 ✓"),
            pm.Prop("release version", pm.VT_LPSTR, "1.0"),
        ]),
        ("every type, in the given order", 1252, [
            pm.Prop("s", pm.VT_LPSTR, "text"),
            pm.Prop("i", pm.VT_I4, -7),
            pm.Prop("t", pm.VT_FILETIME, 133_000_000_000_000_000),
            pm.Prop("w", pm.VT_LPWSTR, "wide ü"),
            pm.Prop("b", pm.VT_BOOL, True),
            pm.Prop("raw", pm.VT_LPSTR, b"caf\xe9"),
        ]),
        # Name and value lengths 0..4 walk through every padding remainder.
        ("duplicates, empty names and values", 1252, [
            pm.Prop("a", pm.VT_LPSTR, ""),
            pm.Prop("a", pm.VT_LPSTR, "12"),
            pm.Prop("", pm.VT_LPSTR, "123"),
            pm.Prop("abcd", pm.VT_LPSTR, "1234"),
        ]),
        ("no properties", 1252, []),
    ]

    def test_round_trip(self):
        for label, codepage, props in self.CASES:
            with self.subTest(label):
                data = pm.build_propset(props, codepage)
                cp, got = pm.user_properties(data)
                self.assertEqual(cp, codepage)
                want = [(p.name, p.vt, p.value.decode("cp1252") if isinstance(p.value, bytes) else p.value)
                        for p in props]
                self.assertEqual(got, want)

                info = pm.parse_propset(data)
                doc, user = info["sections"]
                self.assertEqual(doc["fmtid"], "D5CDD502-2E9C-101B-9397-08002B2CF9AE")
                self.assertEqual(user["fmtid"], "D5CDD505-2E9C-101B-9397-08002B2CF9AE")
                self.assertEqual((doc["codepage"], doc["props"], doc["dictionary"]), (codepage, [], None))
                self.assertEqual(doc["offset"] + doc["size"], user["offset"])
                self.assertEqual(user["offset"] + user["size"], len(data))
                self.assertEqual(len(data) % 4, 0)

    def test_exact_layout(self):
        # Hand-assembled bytes: catches length fields that forget or double
        # count the NUL, missing padding and GUID byte order mistakes.
        data = pm.build_propset([pm.Prop("ab", pm.VT_LPSTR, "xyz")], 1252)
        cp = bytes.fromhex("02000000 e4040000")
        doc = struct.pack("<IIII", 24, 1, 1, 16) + cp
        user = struct.pack("<II", 68, 3) + struct.pack("<IIIIII", 1, 32, 0, 40, 2, 56) + cp
        user += struct.pack("<III", 1, 2, 3) + b"ab\0" + b"\0"
        user += struct.pack("<HHI", 0x1E, 0, 4) + b"xyz\0"
        header = struct.pack("<HHI", 0xFFFE, 0, pm.PROPSET_SYSTEM_ID) + bytes(16) + struct.pack("<I", 2)
        header += bytes.fromhex("02d5cdd59c2e1b10939708002b2cf9ae") + struct.pack("<I", 68)
        header += bytes.fromhex("05d5cdd59c2e1b10939708002b2cf9ae") + struct.pack("<I", 92)
        self.assertEqual(data, header + doc + user)

    def test_utf8_code_page_is_stored_as_16_bits(self):
        data = pm.build_propset([], 65001)
        # VT_I2 value of the first section's code page property.
        self.assertEqual(data[68 + 16:68 + 20], bytes.fromhex("0200 0000"))
        self.assertEqual(struct.unpack_from("<H", data, 68 + 20)[0], 65001)

    def test_damage_is_detected(self):
        for kind in pm.PROPSET_DAMAGE:
            for props in (PACKAGE_PROPS, []):
                with self.subTest(kind=kind, props=len(props)):
                    data = pm.build_propset(props, 1252, [kind])
                    self.assertEqual(len(data), len(pm.build_propset(props, 1252)))
                    with self.assertRaises(pm.PropSetError):
                        pm.user_properties(data)


def check_sibling_tree(test, entries, root_id):
    """Asserts that the tree below root_id is a search tree in name order
    and a valid red-black tree; returns the names in order."""
    names = []

    def visit(i, parent_red):
        if i == pm.NOSTREAM:
            return 1
        e = entries[i]
        red = e["color"] == pm.RED
        test.assertFalse(red and parent_red, "red entry %r has a red parent" % e["name"])
        left = visit(e["left"], red)
        names.append(e["name"])
        right = visit(e["right"], red)
        test.assertEqual(left, right, "black heights differ below %r" % e["name"])
        return left + (0 if red else 1)

    test.assertEqual(entries[root_id]["color"], pm.BLACK)
    visit(root_id, False)
    # Shorter names sort first; equal lengths compare upper-cased.
    keys = [(len(n), n.upper()) for n in names]
    test.assertEqual(keys, sorted(set(keys)))
    return names


class CompoundFileTest(TempDirTest):
    SIZES = [0, 1, 63, 64, 4095, 4096, 4097, 70_000]

    def streams_for(self, size):
        contents = bytes((i * 7 + size) & 0xFF for i in range(size))
        return [(pm.CONTENTS, contents), (DSI, pm.build_propset(PACKAGE_PROPS))]

    def test_round_trip_sizes(self):
        for size in self.SIZES:
            with self.subTest(size=size):
                streams = self.streams_for(size)
                data = pm.build_cfb(streams)
                self.assertEqual(len(data) % pm.SECTOR, 0)
                self.assertEqual(pm.CfbReader(data).streams(), dict(streams))

    def test_many_streams_form_a_valid_tree(self):
        # Ten entries span three directory sectors and give a tree with a
        # partly filled bottom level.
        names = [pm.CONTENTS, DSI, "a", "B", "cc", "Zeta", "alpha", "ALPHB", "x" * 31]
        streams = [(n, n.encode() * 3) for n in names]
        reader = pm.CfbReader(pm.build_cfb(streams))
        self.assertEqual(reader.streams(), dict(streams))
        in_order = check_sibling_tree(self, reader.entries, reader.entries[0]["child"])
        self.assertEqual(sorted(in_order), sorted(names))

    def test_large_file_needs_difat(self):
        # More than 109 FAT sectors: the rest of the FAT is found through
        # DIFAT sectors.
        big = os.urandom(7_500_000)
        data = pm.build_cfb([(pm.CONTENTS, big), (DSI, b"x" * 100)])
        n_difat = struct.unpack_from("<I", data, 72)[0]
        self.assertGreater(n_difat, 0)
        self.assertEqual(pm.CfbReader(data).streams()[pm.CONTENTS], big)

    def test_duplicate_stream_names_are_refused(self):
        with self.assertRaises(ValueError):
            pm.build_cfb([("Contents", b"1"), ("CONTENTS", b"2")])

    @unittest.skipUnless(olefile, "olefile missing (python3-olefile)")
    def test_readable_by_olefile(self):
        for size in (10, 5000):
            with self.subTest(size=size):
                streams = self.streams_for(size)
                p = self.write("f%d.cfb" % size, pm.build_cfb(streams))
                with olefile.OleFileIO(p) as ole:
                    self.assertEqual(sorted(ole.listdir()), [[DSI], [pm.CONTENTS]])
                    for name, content in streams:
                        self.assertEqual(ole.openstream(name).read(), content)

    DAMAGE_CASES = [
        # (kind, Contents size, whether the property stream stays readable)
        ("truncate", 70_000, False),
        ("fat-loop", 70_000, True),
        ("bad-sector", 70_000, True),
        ("truncate", 300, False),
        ("fat-loop", 300, False),
        ("bad-sector", 300, False),
    ]

    def test_damage_is_detected(self):
        for kind, size, dsi_ok in self.DAMAGE_CASES:
            with self.subTest(kind=kind, size=size):
                notes = []
                data = pm.build_cfb(self.streams_for(size), [kind], notes.append)
                self.assertEqual(len(notes), 1)
                try:
                    reader = pm.CfbReader(data)
                except pm.CfbError:
                    self.assertFalse(dsi_ok)
                    continue
                entries = {path[0]: e for path, e in reader.walk()}
                with self.assertRaises(pm.CfbError):
                    reader.read_entry(entries[pm.CONTENTS])
                if dsi_ok:
                    self.assertEqual(reader.read_entry(entries[DSI]), pm.build_propset(PACKAGE_PROPS))


class PackageCommandTest(TempDirTest):
    def dump(self, pkg, expect_rc=0):
        proc = self.cli("dump", "--json", pkg, check=False)
        self.assertEqual(proc.returncode, expect_rc, proc.stderr)
        return json.loads(proc.stdout)

    def test_property_options_keep_command_line_order(self):
        pkg = self.path("p.pkg")
        self.cli("package", pkg, "--no-contents",
                 "--prop", "timestamp=2024-01-01T00:00:00Z",
                 "--prop-int", "compatibility level=1",
                 "--prop-filetime", "t=1970-01-01T00:00:01Z",
                 "--prop", "a=b=c",
                 "--prop-wstr", "w=ü",
                 "--prop-hex", "h=ff41",
                 "--prop", "timestamp=again",
                 "--codepage", "65001")
        report = self.dump(pkg)
        self.assertEqual([s["path"] for s in report["streams"]], [DSI])
        user = report["property_sets"][1]
        self.assertEqual(user["codepage"], 65001)
        got = [(p["id"], p["name"], p["type"], p["value"]) for p in user["properties"]]
        self.assertEqual(got, [
            (2, "timestamp", "VT_LPSTR", "2024-01-01T00:00:00Z"),
            (3, "compatibility level", "VT_I4", 1),
            (4, "t", "VT_FILETIME", 116_444_736_010_000_000),
            (5, "a", "VT_LPSTR", "b=c"),
            (6, "w", "VT_LPWSTR", "ü"),
            (7, "h", "VT_LPSTR", "\\xffA"),
            (8, "timestamp", "VT_LPSTR", "again"),
        ])

    def test_raw_streams(self):
        raw = self.write("raw.bin", b"not a property set")
        contents = self.write("c.bin", b"not a 7z archive")
        extra = self.write("e.bin", b"extra")
        pkg = self.path("p.pkg")
        self.cli("package", pkg, "--contents-file", contents, "--propset-file", raw,
                 "--stream", "\\005SummaryInformation=" + extra)
        streams = pm.CfbReader(pm.read_file(pkg)).streams()
        self.assertEqual(streams, {pm.CONTENTS: b"not a 7z archive", DSI: b"not a property set",
                                   "\x05SummaryInformation": b"extra"})
        report = self.dump(pkg, expect_rc=1)
        self.assertTrue(any("property set" in e for e in report["errors"]))

    def test_damaged_package_dump_fails(self):
        # In-process: one subprocess pair per kind would dominate the run time.
        contents = self.write("contents.bin", bytes(range(256)) * 40)
        for kind in pm.DAMAGE_KINDS:
            with self.subTest(kind=kind):
                pkg = self.path("%s.pkg" % kind)
                err = io.StringIO()
                with contextlib.redirect_stderr(err):
                    rc = pm.main(["package", pkg, "--contents-file", contents, "--prop", "a=b", "--damage", kind])
                self.assertEqual(rc, 0, err.getvalue())
                out = io.StringIO()
                with contextlib.redirect_stdout(out):
                    rc = pm.main(["dump", "--json", pkg])
                self.assertEqual(rc, 1)
                self.assertTrue(json.loads(out.getvalue())["errors"])

    @needs_7z
    def test_package_from_tree_is_listed_by_7z(self):
        tree = self.make_tree()
        pkg = self.path("p.pkg")
        args = ["package", pkg, "--tree", tree]
        for p in PACKAGE_PROPS:
            args += ["--prop", "%s=%s" % (p.name, p.value)]
        self.cli(*args)

        # -tCompound: the .pkg extension would otherwise make 7z try other
        # formats first.
        proc = self.seven_zip("l", "-slt", "-tCompound", pkg)
        self.assertEqual(proc.returncode, 0, proc.stdout)
        listed = {}
        for line in proc.stdout.decode().splitlines():
            if line.startswith("Path = "):
                path = line[7:]
            elif line.startswith("Size = "):
                listed[path] = int(line[7:])
        streams = pm.CfbReader(pm.read_file(pkg)).streams()
        self.assertEqual(listed, {"Contents": len(streams[pm.CONTENTS]),
                                  "[5]DocumentSummaryInformation": len(streams[DSI])})

        contents = streams[pm.CONTENTS]
        arc = self.write("contents.7z", contents)
        proc = self.seven_zip("x", "-o" + self.path("out"), arc)
        self.assertEqual(proc.returncode, 0, proc.stdout)
        for rel in ("jre/bin/java.exe", "jre/release", "lib/app.jar"):
            with open(self.path("out", rel), "rb") as a, open(self.path("tree", rel), "rb") as b:
                self.assertEqual(a.read(), b.read(), rel)

        dumped = self.dump(pkg)["property_sets"][1]["properties"]
        self.assertEqual([(p["name"], p["value"]) for p in dumped], [(p.name, p.value) for p in PACKAGE_PROPS])


class HostileArchiveTest(TempDirTest):
    NAMES = ["../evil.txt", "a/../../x", "/abs/path", "C:\\x", "C:/y", "dir\\sub\\f.txt",
             "ok/normal.txt", "ü/ß.txt", "dup.txt", "dup.txt", "-dash"]

    def item_args(self):
        args = []
        for i, name in enumerate(self.NAMES):
            args.append("--item-text=%s=content %d" % (name, i))
        args += ["--dir", "../outdir", "--symlink", "link=../../etc/passwd"]
        return args

    def test_zip_stores_names_as_given(self):
        out = self.path("h.zip")
        self.cli("zip", out, *self.item_args())
        with zipfile.ZipFile(out) as zf:
            infos = zf.infolist()
            self.assertEqual([i.filename for i in infos], self.NAMES + ["../outdir/", "link"])
            for i, name in enumerate(self.NAMES):
                self.assertEqual(zf.read(infos[i]), b"content %d" % i)
            modes = [i.external_attr >> 16 for i in infos[-2:]]
            self.assertEqual([m & 0o170000 for m in modes], [0o040000, 0o120000])
            self.assertEqual(zf.read(infos[-1]), b"../../etc/passwd")

    @needs_7z
    def test_7z_stores_names_as_given(self):
        out = self.path("h.7z")
        tree = self.make_tree()
        self.cli("7z", out, "--tree", tree, *self.item_args())
        proc = self.seven_zip("l", "-slt", out)
        self.assertEqual(proc.returncode, 0, proc.stdout)
        records, cur = [], None
        for line in proc.stdout.decode().splitlines():
            if line.startswith("Path = "):
                cur = {"path": line[7:]}
                records.append(cur)
            elif cur is not None and " = " in line:
                key, value = line.split(" = ", 1)
                cur[key] = value
        members = {r["path"]: r for r in records[1:]}
        paths = sorted(r["path"] for r in records[1:])
        want = self.NAMES + ["../outdir", "link", "jre", "jre/bin", "jre/bin/java.exe",
                             "jre/release", "lib", "lib/app.jar"]
        self.assertEqual(paths, sorted(want))
        self.assertTrue(members["../outdir"]["Attributes"].startswith("D"))
        self.assertIn("lrwx", members["link"]["Attributes"])
        self.assertEqual(members["C:\\x"]["Size"], str(len("content 3")))


class DamagedArchiveTest(TempDirTest):
    def test_zip_bad_crc_spoils_only_the_named_member(self):
        out = self.path("crc.zip")
        self.cli("zip", out, "--item-text", "bin/javaw.exe=MZ", "--item-text", "lib/rt.jar=classes",
                 "--bad-crc", "lib/rt.jar")
        with zipfile.ZipFile(out) as zf:
            self.assertEqual(zf.read("bin/javaw.exe"), b"MZ")
            with self.assertRaises(zipfile.BadZipFile):
                zf.read("lib/rt.jar")
        self.assertNotEqual(self.cli("zip", self.path("x.zip"), "--item-text", "a=b",
                                     "--bad-crc", "nothing", check=False).returncode, 0)

    def test_gz_states_the_claimed_size(self):
        data = bytes(range(256)) * 400
        src = self.write("data.bin", data)
        for claim, stated in ((None, len(data)), (1000, 1000)):
            out = self.path("d%s.gz" % claim)
            args = ["gz", out, "--item", "data.bin=" + src]
            if claim is not None:
                args += ["--claim-size", str(claim)]
            self.cli(*args)
            raw = pm.read_file(out)
            self.assertEqual(raw[10:19], b"data.bin\x00")
            self.assertEqual(struct.unpack("<II", raw[-8:]), (zlib.crc32(data), stated))
            # The whole member is there, whatever the trailer says.
            self.assertEqual(zlib.decompress(raw[19:-8], -15), data)


if __name__ == "__main__":
    unittest.main()
