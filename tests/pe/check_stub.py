#!/usr/bin/python3
"""Inspects the stub executables of one MinGW build: headers, imports and every resource.

    check_stub.py --build-dir DIR --arch i686|x86-64 --source-dir SRC --pack BRIMSOLE_PACK

Reads DIR/resources/brimsole-stub.exe (no payload), DIR/resources/brimsole-stub-example.exe and the
payload that went into it, DIR/resources/example.payload. Runs with Debian's Python, which has pefile.
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

import pefile

ARGS = None
LANG_EN_US = 1033
RT = pefile.RESOURCE_TYPE

# The DLLs in the system's KnownDLLs list that the stub may import: these always load from the
# system folder, so nothing planted beside the stub can stand in for them. comctl32 is not one; the
# stub loads it at run time by full path instead.
ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "msvcrt.dll"}

RESOURCES = {
    (RT["RT_DIALOG"], 1100),
    (RT["RT_GROUP_ICON"], 1000),
    (RT["RT_ICON"], 1),
    (RT["RT_ICON"], 2),
    (RT["RT_MANIFEST"], 1),
    (RT["RT_VERSION"], 1),
}
PAYLOAD_RESOURCE = ("SETUP", 2000)

WS_CHILD, WS_VISIBLE, WS_GROUP = 0x40000000, 0x10000000, 0x00020000
STATIC_ORDINAL = 0x0082
# (id, class, text, style, x, y, width, height), in template order.
CONTROLS = [
    (1200, "msctls_progress32", "Progress1", 0x50000001, 8, 30, 162, 14),
    (1201, STATIC_ORDINAL, "100%", 0x50020002, 174, 33, 22, 8),
    (1202, STATIC_ORDINAL, ".", 0x50020000, 9, 19, 187, 8),
]

VERSION_STRINGS = {
    "CompanyName": "Brimsole",
    "FileDescription": "Brimsole Setup self-extracting installer",
    "FileVersion": "1, 0, 0, 0",
    "InternalName": "brimsole-stub",
    "LegalCopyright": "Copyright (C) 2026 Brimsole",
    "PrivateBuild": "040518.2",
    "ProductName": "Brimsole Setup",
    "ProductVersion": "1, 0, 0, 0",
    "SpecialBuild": "Windows XP/2000",
}


class TemplateReader:
    """Reads the little-endian fields of a dialog template in order."""

    def __init__(self, data):
        self.data, self.offset = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.offset)
        self.offset += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.offset
        while self.data[end:end + 2] != b"\0\0":
            end += 2
            if end >= len(self.data):
                raise AssertionError(f"string at {self.offset} runs past the template's end")
        value = self.data[self.offset:end].decode("utf-16-le")
        self.offset = end + 2
        return value

    def text_or_ordinal(self):
        """An empty string, an ordinal (int) after 0xFFFF, or a string."""
        first = struct.unpack_from("<H", self.data, self.offset)[0]
        if first == 0xFFFF:
            self.offset += 2
            return self.take("H")
        return self.text()

    def align(self):
        self.offset = (self.offset + 3) & ~3


def decode_dialog(data):
    r = TemplateReader(data)
    dialog = dict(zip(("version", "signature", "help_id", "ex_style", "style", "count", "x", "y", "cx", "cy"),
                      r.take("HHIIIHhhhh")))
    dialog["menu"] = r.text_or_ordinal()
    dialog["class"] = r.text_or_ordinal()
    dialog["caption"] = r.text()
    dialog["point_size"], dialog["weight"], dialog["italic"], dialog["charset"] = r.take("HHBB")
    dialog["typeface"] = r.text()
    controls = []
    for _ in range(dialog["count"]):
        r.align()
        control = dict(zip(("help_id", "ex_style", "style", "x", "y", "cx", "cy", "id"), r.take("IIIhhhhI")))
        control["class"] = r.text_or_ordinal()
        control["text"] = r.text_or_ordinal()
        control["extra"] = r.take("H")
        controls.append(control)
    return dialog, controls, r.offset


def resource_table(pe):
    """{(type, name): (language, bytes)} with every language of every resource listed."""
    table = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return table
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        type_key = str(rtype.name) if rtype.name is not None else rtype.id
        for name in rtype.directory.entries:
            name_key = str(name.name) if name.name is not None else name.id
            for lang in name.directory.entries:
                entry = lang.data.struct
                data = pe.get_data(entry.OffsetToData, entry.Size)
                table.setdefault((type_key, name_key), []).append((lang.id, data))
    return table


class StubChecks(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        folder = os.path.join(ARGS.build_dir, "resources")
        cls.paths = {
            "plain": os.path.join(folder, "brimsole-stub.exe"),
            "example": os.path.join(folder, "brimsole-stub-example.exe"),
        }
        cls.payload_path = os.path.join(folder, "example.payload")
        for path in list(cls.paths.values()) + [cls.payload_path]:
            if not os.path.isfile(path):
                raise FileNotFoundError(f"{path} is missing: build the mingw-{ARGS.arch} preset first")
        cls.pe = {kind: pefile.PE(path) for kind, path in cls.paths.items()}
        cls.resources = {kind: resource_table(pe) for kind, pe in cls.pe.items()}

    def resource(self, kind, key):
        entries = self.resources[kind].get(key)
        self.assertIsNotNone(entries, f"{key} missing from {self.paths[kind]}")
        self.assertEqual([lang for lang, _ in entries], [LANG_EN_US], f"languages of {key}")
        return entries[0][1]

    def test_headers(self):
        x64 = ARGS.arch == "x86-64"
        f = pefile.IMAGE_CHARACTERISTICS
        d = pefile.DLL_CHARACTERISTICS
        required = {f["IMAGE_FILE_EXECUTABLE_IMAGE"],
                    f["IMAGE_FILE_LARGE_ADDRESS_AWARE"] if x64 else f["IMAGE_FILE_32BIT_MACHINE"]}
        # Relocations kept and these flags set: the loader may place the image anywhere and data
        # pages are not executable.
        required_dll = {d["IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE"], d["IMAGE_DLLCHARACTERISTICS_NX_COMPAT"]}
        if x64:
            required_dll.add(d["IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA"])
        forbidden = {f["IMAGE_FILE_DLL"], f["IMAGE_FILE_RELOCS_STRIPPED"]}
        for kind, pe in self.pe.items():
            with self.subTest(stub=self.paths[kind]):
                header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
                self.assertEqual(header.Machine, pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64" if x64 else
                                                                     "IMAGE_FILE_MACHINE_I386"])
                self.assertEqual(optional.Magic, pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS if x64 else
                                 pefile.OPTIONAL_HEADER_MAGIC_PE)
                self.assertEqual(optional.Subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"])
                self.assertEqual((optional.MajorSubsystemVersion, optional.MinorSubsystemVersion), (5, 0))
                self.assertEqual((optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion), (5, 0))
                for flag in required:
                    self.assertTrue(header.Characteristics & flag, f"characteristic {flag:#x} not set")
                for flag in forbidden:
                    self.assertFalse(header.Characteristics & flag, f"characteristic {flag:#x} set")
                for flag in required_dll:
                    self.assertTrue(optional.DllCharacteristics & flag, f"DLL characteristic {flag:#x} not set")

    def test_imports_only_known_dlls(self):
        for kind, pe in self.pe.items():
            with self.subTest(stub=self.paths[kind]):
                imported = {entry.dll.decode("ascii").lower() for entry in pe.DIRECTORY_ENTRY_IMPORT}
                self.assertIn("kernel32.dll", imported)
                self.assertNotIn("comctl32.dll", imported, "comctl32 must be loaded at run time by full path")
                self.assertLessEqual(imported, ALLOWED_IMPORTS, "imports beyond the allowed KnownDLLs")
                # A delay-loaded DLL is searched for like any LoadLibrary call, beside the program first.
                self.assertFalse(hasattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT"), "the stub has delay-loaded imports")

    def test_resource_list(self):
        expected = {"plain": RESOURCES, "example": RESOURCES | {PAYLOAD_RESOURCE}}
        for kind in self.pe:
            with self.subTest(stub=self.paths[kind]):
                table = self.resources[kind]
                self.assertEqual(set(table), expected[kind])
                for key, entries in table.items():
                    self.assertEqual([lang for lang, _ in entries], [LANG_EN_US], f"languages of {key}")

    def test_payload_slot_holds_the_payload(self):
        with open(self.payload_path, "rb") as payload:
            expected = payload.read()
        self.assertEqual(self.resource("example", PAYLOAD_RESOURCE), expected)

    def test_payload_lists_with_the_packer(self):
        # The example payload is written by a script of the Windows build; the packer's own reader
        # must accept what actually went into the stub.
        examples = os.path.join(ARGS.source_dir, "examples")
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "setup.payload")
            with open(path, "wb") as out:
                out.write(self.resource("example", PAYLOAD_RESOURCE))
            listing = subprocess.run([ARGS.pack, "list", path], capture_output=True, text=True)
        self.assertEqual(listing.returncode, 0, listing.stderr)
        lines = listing.stdout.splitlines()
        self.assertEqual(lines[0], "launch: install.bat")
        rows = [line.split()[:2] for line in lines[3:]]
        self.assertEqual(rows, [[name, str(os.path.getsize(os.path.join(examples, name)))]
                                for name in ("install.bat", "readme.txt", "data.bin")])

    def test_dialog_template(self):
        for kind in self.pe:
            with self.subTest(stub=self.paths[kind]):
                data = self.resource(kind, (RT["RT_DIALOG"], 1100))
                dialog, controls, end = decode_dialog(data)
                self.assertEqual(
                    {key: dialog[key] for key in ("version", "signature", "help_id", "ex_style", "style", "count",
                                                  "x", "y", "cx", "cy", "menu", "class", "caption")},
                    {"version": 1, "signature": 0xFFFF, "help_id": 0, "ex_style": 0, "style": 0x80CA08C2,
                     "count": 3, "x": 0, "y": 0, "cx": 206, "cy": 84, "menu": "", "class": "", "caption": "."})
                self.assertEqual((dialog["point_size"], dialog["weight"], dialog["italic"], dialog["charset"],
                                  dialog["typeface"]), (8, 0, 0, 0, "Tahoma"))
                self.assertEqual([(c["id"], c["class"], c["text"], c["style"], c["x"], c["y"], c["cx"], c["cy"])
                                  for c in controls], CONTROLS)
                for control in controls:
                    self.assertEqual((control["help_id"], control["ex_style"], control["extra"]), (0, 0, 0),
                                     f"control {control['id']}")
                self.assertEqual(end, len(data), "bytes after the last control")

    def test_version_block(self):
        for kind, pe in self.pe.items():
            with self.subTest(stub=self.paths[kind]):
                self.assertTrue(hasattr(pe, "VS_FIXEDFILEINFO"), "no version block")
                fixed = pe.VS_FIXEDFILEINFO[0]
                self.assertEqual(fixed.Signature, 0xFEEF04BD)
                self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (0x00010000, 0))
                self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (0x00010000, 0))
                self.assertEqual((fixed.FileFlagsMask, fixed.FileFlags), (0x3F, 0x28))
                self.assertEqual((fixed.FileOS, fixed.FileType, fixed.FileSubtype), (0x40004, 1, 0))
                self.assertEqual((fixed.FileDateMS, fixed.FileDateLS), (0, 0))
                blocks = {info.Key: info for info in pe.FileInfo[0]}
                self.assertEqual(set(blocks), {b"StringFileInfo", b"VarFileInfo"})
                tables = blocks[b"StringFileInfo"].StringTable
                self.assertEqual([table.LangID for table in tables], [b"040904b0"])
                strings = {k.decode(): v.decode() for k, v in tables[0].entries.items()}
                self.assertEqual(strings, VERSION_STRINGS)
                self.assertEqual([var.entry for var in blocks[b"VarFileInfo"].Var], [{b"Translation": "0x0409 0x04b0"}])

    def test_manifest(self):
        asm1, asm3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
        for kind in self.pe:
            with self.subTest(stub=self.paths[kind]):
                root = ElementTree.fromstring(self.resource(kind, (RT["RT_MANIFEST"], 1)))
                self.assertEqual(root.tag, asm1 + "assembly")
                self.assertEqual([child.tag for child in root], [asm3 + "trustInfo"], "anything beside trustInfo")
                elements = [element.tag for element in root.iter()]
                self.assertEqual(elements, [asm1 + "assembly", asm3 + "trustInfo", asm3 + "security",
                                            asm3 + "requestedPrivileges", asm3 + "requestedExecutionLevel"])
                level = root.find(f"{asm3}trustInfo/{asm3}security/{asm3}requestedPrivileges/"
                                  f"{asm3}requestedExecutionLevel")
                self.assertEqual(level.attrib, {"level": "asInvoker", "uiAccess": "false"})

    def test_icons(self):
        with open(os.path.join(ARGS.source_dir, "resources", "brimsole.ico"), "rb") as ico:
            drawn = ico.read()
        for kind in self.pe:
            with self.subTest(stub=self.paths[kind]):
                group = self.resource(kind, (RT["RT_GROUP_ICON"], 1000))
                self.assertEqual(struct.unpack_from("<HHH", group), (0, 1, 2))
                for n, size in ((1, 16), (2, 32)):
                    image = self.resource(kind, (RT["RT_ICON"], n))
                    width, height, colours, _, planes, bits, length, icon_id = struct.unpack_from(
                        "<BBBBHHIH", group, 6 + 14 * (n - 1))
                    self.assertEqual((width, height, colours, planes, bits, length, icon_id),
                                     (size, size, 0, 1, 8, len(image), n))
                    header_size, bmp_width, bmp_height, bmp_planes, bmp_bits, compression, _, _, _, used = \
                        struct.unpack_from("<IiiHHIIiiI", image)
                    # The bitmap's height covers the colour rows and the mask rows; 0 colours used means 256.
                    self.assertEqual((header_size, bmp_width, bmp_height, bmp_planes, bmp_bits, compression, used),
                                     (40, size, 2 * size, 1, 8, 0, 0))
                    self.assertEqual(len(image), 40 + 256 * 4 + size * size + size * ((size + 31) // 32 * 4))
                    self.assertIn(image, drawn, f"icon {n} differs from resources/brimsole.ico")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--arch", required=True, choices=("i686", "x86-64"))
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--pack", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
