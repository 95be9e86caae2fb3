"""libpagemend from Python through ctypes, and the C example, on one chunk.

usage: library_test.py LIBPAGEMEND REPAIR_CHUNK_EXAMPLE
"""
import ctypes
import os
import struct
import subprocess
import sys
import tempfile


def named(tag_type, name, payload):
    name = name.encode()
    return bytes([tag_type]) + struct.pack(">H", len(name)) + name + payload


def string(value):
    value = value.encode()
    return struct.pack(">H", len(value)) + value


def compound(*entries):
    return b"".join(entries) + b"\0"


def chunk_with_book(title, page):
    book = compound(named(8, "id", string("minecraft:written_book")),
                    named(10, "tag", compound(named(8, "title", string(title)),
                                              named(9, "pages", b"\x08" + struct.pack(">i", 1) + string(page)))))
    chest = compound(named(8, "id", string("minecraft:chest")), named(3, "x", struct.pack(">i", 1)),
                     named(3, "y", struct.pack(">i", 2)), named(3, "z", struct.pack(">i", 3)),
                     named(9, "Items", b"\x0a" + struct.pack(">i", 1) + book))
    level = compound(named(9, "TileEntities", b"\x0a" + struct.pack(">i", 1) + chest))
    return named(10, "", compound(named(10, "Level", level)))


class Finding(ctypes.Structure):
    _fields_ = [("kind", ctypes.c_int), ("title", ctypes.c_char_p), ("page", ctypes.c_int),
                ("where", ctypes.c_char_p), ("line", ctypes.c_char_p)]


def main():
    lib = ctypes.CDLL(sys.argv[1])
    callback_type = ctypes.CFUNCTYPE(None, ctypes.POINTER(Finding), ctypes.c_void_p)
    lib.pm_repair_chunk.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_uint, callback_type, ctypes.c_void_p,
                                    ctypes.POINTER(ctypes.POINTER(ctypes.c_ubyte)), ctypes.POINTER(ctypes.c_size_t)]
    lib.pm_free.argtypes = [ctypes.c_void_p]
    lib.pm_version.restype = ctypes.c_char_p

    found = []
    on_finding = callback_type(lambda f, _: found.append(
        (f.contents.kind, f.contents.title, f.contents.page, f.contents.where, f.contents.line)))
    tree = chunk_with_book("Notes", "plain text")
    out = ctypes.POINTER(ctypes.c_ubyte)()
    size = ctypes.c_size_t()
    result = lib.pm_repair_chunk(tree, len(tree), 0, on_finding, None, ctypes.byref(out), ctypes.byref(size))
    assert result == 1, result
    assert found == [(1, b"Notes", 0, b"in minecraft:chest at 1,2,3",
                      b"Book 'Notes' in minecraft:chest at 1,2,3 page 0 repaired")], found
    repaired = bytes(out[:size.value])
    lib.pm_free(out)
    assert string('"plain text"') in repaired, repaired
    assert lib.pm_version().decode().count(".") == 2

    # The example: the same chunk from a file, its repair written to another.
    with tempfile.TemporaryDirectory() as scratch:
        source, target = os.path.join(scratch, "chunk.nbt"), os.path.join(scratch, "repaired.nbt")
        with open(source, "wb") as f:
            f.write(tree)
        run = subprocess.run([sys.argv[2], source, target], capture_output=True, text=True)
        assert run.returncode == 1, (run.returncode, run.stderr)
        assert run.stdout == "Book 'Notes' in minecraft:chest at 1,2,3 page 0 repaired\n1 finding\n", run.stdout
        with open(target, "rb") as f:
            assert f.read() == repaired
        with open(source, "wb") as f:
            f.write(tree[:-3])
        run = subprocess.run([sys.argv[2], source, target], capture_output=True, text=True)
        assert run.returncode == 2 and "(-2)" in run.stderr, (run.returncode, run.stderr)
    print("libpagemend %s: repaired from Python and from C" % lib.pm_version().decode())


main()
