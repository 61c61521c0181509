#!/usr/bin/python3
"""The context table of a help file compiled by chmcmd, written the way Microsoft's compiler
writes it (compile_chm.cmake runs this around chmcmd).

chmcmd 3.2.2 (Free Pascal's chm package, Debian 12) puts every [ALIAS] topic into #STRINGS
with the absolute path of the folder it compiled in ahead of it: TChmProject.WriteChm calls
AddContext(number, IncludeTrailingPathDelimiter(FBasePath) + file), and FBasePath is the
expanded folder of the .hhp. No spelling of the topic avoids it (one that is not a file of
[FILES] is dropped), and a viewer on Windows cannot open such a topic. So:

  strip PROJECT.hhp        rewrites PROJECT.hhp (the compile folder's copy) without its [MAP]
                           and [ALIAS] sections, for chmcmd to compile: no context, no path;
  add PROJECT.hhp FILE.chm gives FILE.chm the context table of PROJECT.hhp (the sources'):
                           #STRINGS holds each topic as [ALIAS] names it ("index.htm"), #IVB
                           a length then (context number, offset into #STRINGS) pairs.

Both new files go uncompressed at the end of the archive (content section 0, where chmcmd
keeps #SYSTEM too) and the directory entries are rewritten in place; chmcmd's #STRINGS (a lone
NUL when there is no context) is left behind unreferenced. What the directory holds is read
back from what is written before the file is replaced.
"""

import os
import re
import struct
import sys

ITSF_VERSION3_HEADER = 0x60
ITSP_HEADER = 0x54
PMGL_HEADER = 20  # "PMGL", free space, 0, previous chunk, next chunk
STRINGS_BLOCK = 0x1000  # viewers read #STRINGS in blocks a string may not cross
CONTEXT_SECTIONS = ("MAP", "ALIAS")


class Failure(Exception):
    pass


# ---- The project file ------------------------------------------------------------------


def section_name(line):
    m = re.match(r"\s*\[([^\]]*)\]\s*$", line)
    return m.group(1).strip().upper() if m else None


def read_project(path):
    # Bytes as Latin-1: every byte stays what it is, whatever the project's code page.
    with open(path, "rb") as f:
        return f.read().decode("latin-1")


def strip(path):
    kept, skipping = [], False
    for line in read_project(path).splitlines(keepends=True):
        name = section_name(line)
        if name is not None:
            skipping = name in CONTEXT_SECTIONS
        if not skipping:
            kept.append(line)
    with open(path, "wb") as f:
        f.write("".join(kept).encode("latin-1"))


def context_sections(path):
    sections, current = {name: [] for name in CONTEXT_SECTIONS}, None
    for number, line in enumerate(read_project(path).splitlines(), 1):
        name = section_name(line)
        if name is not None:
            current = name
            continue
        text = line.split(";", 1)[0].strip()  # as chmcmd reads the project: ';' starts a comment
        if current in sections and text:
            sections[current].append((number, text))
    return sections


def number(text):
    if re.fullmatch(r"0[xX][0-9a-fA-F]+", text):
        return int(text, 16)
    if re.fullmatch(r"[0-9]+", text):
        return int(text, 10)
    return None


def contexts(path):
    """[(context number, topic)] from [MAP] (#define NAME NUMBER) and [ALIAS] (NAME=topic)."""
    sections = context_sections(path)
    where = os.path.basename(path)
    numbers = {}
    for line, text in sections["MAP"]:
        parts = text.split()
        if len(parts) == 3 and parts[0].lower() == "#define" and number(parts[2]) is not None:
            key, value = parts[1].upper(), number(parts[2])
            if key in numbers:
                raise Failure(f"{where}:{line}: {parts[1]} is defined twice in [MAP]")
            if not 0 < value <= 0xFFFFFFFF:
                raise Failure(f"{where}:{line}: context {value} is out of range (1 to 0xFFFFFFFF)")
            numbers[key] = (parts[1], value)
        else:
            raise Failure(f"{where}:{line}: [MAP] takes '#define NAME NUMBER' lines here, not {text!r}")
    topics = {}
    for line, text in sections["ALIAS"]:
        key, sep, topic = text.partition("=")
        key, topic = key.strip(), topic.strip().replace("\\", "/")
        if not sep or not key or not topic or key.startswith("#"):
            raise Failure(f"{where}:{line}: [ALIAS] takes 'NAME=file' lines here, not {text!r}")
        if key.upper() in topics:
            raise Failure(f"{where}:{line}: {key} has two aliases")
        if topic.startswith("/") or ":" in topic or ".." in topic.split("#")[0].split("/"):
            raise Failure(f"{where}:{line}: {topic!r} is not a file named from the project's folder")
        topics[key.upper()] = (key, topic)
    for key, (name, _) in numbers.items():
        if key not in topics:
            raise Failure(f"{where}: [MAP] defines {name}, which has no [ALIAS]")
    table = []
    for key, (name, topic) in topics.items():
        if key not in numbers:
            raise Failure(f"{where}: [ALIAS] names {name}, which [MAP] does not define")
        table.append((numbers[key][1], topic))
    table.sort()
    for (a, _), (b, _) in zip(table, table[1:]):
        if a == b:
            raise Failure(f"{where}: context {a} is given to two names")
    return table


def context_files(table):
    """(#STRINGS, #IVB, {topic: offset}) for [(context, topic)]."""
    strings, offsets = bytearray(b"\0"), {}
    for _, topic in table:
        if topic in offsets:
            continue
        text = topic.encode("latin-1") + b"\0"
        if len(text) > STRINGS_BLOCK:
            raise Failure(f"the topic {topic!r} is too long")
        if len(strings) // STRINGS_BLOCK != (len(strings) + len(text) - 1) // STRINGS_BLOCK:
            strings.extend(b"\0" * (-len(strings) % STRINGS_BLOCK))
        offsets[topic] = len(strings)
        strings.extend(text)
    pairs = b"".join(struct.pack("<II", context, offsets[topic]) for context, topic in table)
    return bytes(strings), struct.pack("<I", len(pairs)) + pairs


# ---- The archive -----------------------------------------------------------------------


def encint(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def read_encint(data, pos, end):
    value = 0
    while True:
        if pos >= end:
            raise Failure("a directory entry runs past its chunk")
        byte = data[pos]
        pos += 1
        value = value << 7 | (byte & 0x7F)
        if byte < 0x80:
            return value, pos


class Entry:
    def __init__(self, name, section, offset, length):
        self.name, self.section, self.offset, self.length = name, section, offset, length

    def bytes(self):
        return (
            encint(len(self.name))
            + self.name
            + encint(self.section)
            + encint(self.offset)
            + encint(self.length)
        )


def sort_key(name):
    # chmcmd sorts the directory by the names in lower case (ChmCompareText).
    return name.lower()


class Archive:
    def __init__(self, data):
        self.data = bytearray(data)
        d = self.data
        if d[:4] != b"ITSF" or struct.unpack_from("<I", d, 4)[0] != 3:
            raise Failure("not an ITSF version 3 file, as chmcmd writes")
        if struct.unpack_from("<I", d, 8)[0] != ITSF_VERSION3_HEADER:
            raise Failure("unexpected ITSF header length")
        self.header0, header0_length, self.directory, directory_length = struct.unpack_from("<QQQQ", d, 0x38)
        (self.content,) = struct.unpack_from("<Q", d, 0x58)
        if header0_length < 0x18 or struct.unpack_from("<Q", d, self.header0 + 8)[0] != len(d):
            raise Failure("the file length recorded in the header is not the file's")
        itsp = self.directory
        if d[itsp : itsp + 4] != b"ITSP" or struct.unpack_from("<I", d, itsp + 8)[0] != ITSP_HEADER:
            raise Failure("no ITSP directory header where the ITSF header says")
        self.chunk_size, density = struct.unpack_from("<II", d, itsp + 0x10)
        self.quickref_every = 1 + (1 << density)
        (first_listing,) = struct.unpack_from("<i", d, itsp + 0x20)
        (chunks,) = struct.unpack_from("<I", d, itsp + 0x2C)
        if directory_length != ITSP_HEADER + chunks * self.chunk_size:
            raise Failure("the directory's length is not its chunks'")
        if self.content < self.directory + directory_length or self.content > len(d):
            raise Failure("the content does not follow the directory")
        self.chunks = chunks
        self.listing = []  # [(chunk number, previous, next, [Entry])] in the order of the chain
        seen, chunk = set(), first_listing
        while chunk != -1:
            if chunk in seen or not 0 <= chunk < chunks:
                raise Failure("the chain of listing chunks is broken")
            seen.add(chunk)
            previous, following, entries = self.parse_listing(chunk)
            self.listing.append((chunk, previous, following, entries))
            chunk = following

    def chunk_at(self, chunk):
        return self.directory + ITSP_HEADER + chunk * self.chunk_size

    def parse_listing(self, chunk):
        at = self.chunk_at(chunk)
        raw = bytes(self.data[at : at + self.chunk_size])
        if raw[:4] != b"PMGL":
            raise Failure(f"chunk {chunk} is not a listing chunk")
        free, _, previous, following = struct.unpack_from("<IIii", raw, 4)
        end = self.chunk_size - free
        if not PMGL_HEADER <= end <= self.chunk_size:
            raise Failure(f"chunk {chunk} records {free} bytes free")
        entries, pos = [], PMGL_HEADER
        while pos < end:
            length, pos = read_encint(raw, pos, end)
            name = raw[pos : pos + length]
            pos += length
            section, pos = read_encint(raw, pos, end)
            offset, pos = read_encint(raw, pos, end)
            size, pos = read_encint(raw, pos, end)
            entries.append(Entry(name, section, offset, size))
        # What this script writes back must be what chmcmd wrote, byte for byte.
        if self.build_listing(previous, following, entries) != raw:
            raise Failure(f"chunk {chunk} is not laid out as chmcmd lays out a listing chunk")
        return previous, following, entries

    def build_listing(self, previous, following, entries):
        body = b"".join(e.bytes() for e in entries)
        quickrefs, pos = [], 0
        for i, e in enumerate(entries, 1):
            if i % self.quickref_every == 0:
                quickrefs.append(pos)
            pos += len(e.bytes())
        tail = b"".join(struct.pack("<H", q) for q in reversed(quickrefs)) + struct.pack("<H", len(entries))
        used = PMGL_HEADER + len(body)
        if used + len(tail) > self.chunk_size:
            raise Failure("the directory chunk has no room for the context table's entries")
        header = b"PMGL" + struct.pack("<IIii", self.chunk_size - used, 0, previous, following)
        return header + body + b"\0" * (self.chunk_size - used - len(tail)) + tail

    def find(self, name):
        for chunk, previous, following, entries in self.listing:
            for i, e in enumerate(entries):
                if e.name.lower() == name.lower():
                    return chunk, i, e
        return None

    def read(self, name):
        found = self.find(name)
        if not found or found[2].section != 0:
            return None
        e = found[2]
        return bytes(self.data[self.content + e.offset : self.content + e.offset + e.length])

    def add_contexts(self, strings, ivb):
        if self.find(b"/#IVB"):
            raise Failure("the archive has a context table already: did chmcmd compile [MAP] and [ALIAS]?")
        found = self.find(b"/#STRINGS")
        if not found or found[2].length != 1:
            raise Failure("chmcmd's #STRINGS holds strings (binary contents or index, windows?): "
                          "this step writes a new one only in place of an empty one")
        chunk, index, _ = found
        position = [i for i, (c, *_) in enumerate(self.listing) if c == chunk][0]
        _, previous, following, entries = self.listing[position]

        base = len(self.data) - self.content
        entries[index] = Entry(b"/#STRINGS", 0, base, len(strings))
        ivb_entry = Entry(b"/#IVB", 0, base + len(strings), len(ivb))
        at = next((i for i, e in enumerate(entries) if sort_key(e.name) > sort_key(ivb_entry.name)), len(entries))
        if at == 0 or at > index:
            raise Failure("/#IVB does not sort into the chunk that holds /#STRINGS")
        entries.insert(at, ivb_entry)

        start = self.chunk_at(chunk)
        self.data[start : start + self.chunk_size] = self.build_listing(previous, following, entries)
        self.data.extend(strings)
        self.data.extend(ivb)
        struct.pack_into("<Q", self.data, self.header0 + 8, len(self.data))


def add(project, chm):
    table = contexts(project)
    if not table:
        return
    strings, ivb = context_files(table)
    with open(chm, "rb") as f:
        archive = Archive(f.read())
    for context, topic in table:
        name = "/" + topic.split("#")[0]
        if not archive.find(name.encode("latin-1")):
            raise Failure(f"context {context} opens {topic}, which is not in the archive (not in [FILES]?)")
    archive.add_contexts(strings, ivb)

    # Read back: the directory as written must give these bytes.
    check = Archive(bytes(archive.data))
    if check.read(b"/#STRINGS") != strings or check.read(b"/#IVB") != ivb:
        raise Failure("the context table does not read back as written")
    temporary = chm + ".contextos"
    with open(temporary, "wb") as f:
        f.write(check.data)
    os.replace(temporary, chm)
    for context, topic in table:
        print(f"context {context}: {topic}")


def main():
    try:
        if len(sys.argv) == 3 and sys.argv[1] == "strip":
            strip(sys.argv[2])
        elif len(sys.argv) == 4 and sys.argv[1] == "add":
            add(sys.argv[2], sys.argv[3])
        else:
            sys.exit(__doc__)
    except (Failure, OSError, struct.error) as e:
        sys.exit(f"chm_contexts.py: {e}")


if __name__ == "__main__":
    main()
