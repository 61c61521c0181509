#!/usr/bin/python3
"""Reads the built help file back with chmlib's own extract_chmLib and checks it as the help
window will use it:

- every page, stylesheet and image of the sources is in the archive, byte for byte, and every
  page is UTF-8, says so, has a title and is listed in the contents;
- every local link of every page (href, anchors included, img src) and every Local of the
  contents (.hhc) and index (.hhk) names a file, and an anchor, that the archive holds;
- #SYSTEM names the title, the default topic, the contents and the index;
- the context map (#IVB into #STRINGS) sends context 1 to index.htm, and no context elsewhere
  than to a file in the archive.

Usage: check_help_file.py SCOLARIA.CHM SOURCE_DIR EXTRACT_CHMLIB
"""

import html.parser
import os
import posixpath
import re
import struct
import subprocess
import sys
import tempfile
import urllib.parse

PAGE_EXTENSIONS = (".htm", ".html")
SHIPPED_EXTENSIONS = PAGE_EXTENSIONS + (".css", ".png", ".gif", ".jpg", ".hhc", ".hhk")
EXPECTED_SYSTEM = {
    0: "Scolaria.hhc",  # contents file
    1: "Scolaria.hhk",  # index file
    2: "index.htm",  # default topic
    3: "Ayuda de Pontix",  # title
}
EXPECTED_CONTEXTS = {1: "index.htm"}
WEB_SCHEMES = ("http", "https", "mailto")

failures = []


def fail(message):
    failures.append(message)


class Links(html.parser.HTMLParser):
    """The links, anchors, title and declared charset of one HTML or sitemap file."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.links = []  # (what, target)
        self.anchors = set()
        self.title = None
        self.charset = None
        self.sitemap_names = []
        self._in_title = False
        self._param_name = None

    def handle_starttag(self, tag, attrs):
        a = {k: (v or "") for k, v in attrs}
        if "id" in a:
            self.anchors.add(a["id"])
        if tag == "a" and "name" in a:
            self.anchors.add(a["name"])
        if tag in ("a", "link", "area") and "href" in a:
            self.links.append((tag + " href", a["href"]))
        if tag in ("img", "script", "frame", "iframe") and "src" in a:
            self.links.append((tag + " src", a["src"]))
        if tag == "meta":
            if "charset" in a:
                self.charset = a["charset"].lower()
            m = re.search(r"charset=([\w-]+)", a.get("content", ""), re.I)
            if m and self.charset is None:
                self.charset = m.group(1).lower()
        if tag == "title":
            self._in_title = True
            self.title = ""
        if tag == "param":
            name = a.get("name", "").lower()
            if name == "local":
                self.links.append(("param Local", a.get("value", "")))
            elif name == "name":
                self.sitemap_names.append(a.get("value", ""))

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)

    def handle_endtag(self, tag):
        if tag == "title":
            self._in_title = False

    def handle_data(self, data):
        if self._in_title:
            self.title += data


def parse(text):
    p = Links()
    p.feed(text)
    p.close()
    return p


def archive_files(root):
    """The archive's own files (not its # and $ system objects), as POSIX paths."""
    files = {}
    for folder, _, names in os.walk(root):
        for name in names:
            rel = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
            if rel.startswith(("#", "$")) or rel == "_#_README_#_":
                continue
            files[rel] = os.path.join(folder, name)
    return files


def resolve(source, target, files, anchors_of):
    """Checks one link of `source` (an archive path) to `target`."""
    scheme = urllib.parse.urlsplit(target).scheme.lower()
    if scheme in WEB_SCHEMES:
        return
    if scheme:
        fail(f"{source}: link '{target}' uses '{scheme}:', which this check cannot follow")
        return
    path, _, fragment = target.partition("#")
    path = urllib.parse.unquote(path)
    if path:
        resolved = posixpath.normpath(posixpath.join(posixpath.dirname(source), path))
    else:
        resolved = source
    if resolved.startswith("../") or resolved not in files:
        fail(f"{source}: link '{target}' names {resolved}, which is not in the archive")
        return
    if fragment:
        anchors = anchors_of(resolved)
        if urllib.parse.unquote(fragment) not in anchors:
            fail(f"{source}: link '{target}' names anchor '{fragment}', which {resolved} does not have")


def read_cstring(data, offset):
    end = data.find(b"\0", offset)
    return data[offset : end if end >= 0 else len(data)].decode("cp1252", "replace")


def check_system(root):
    with open(os.path.join(root, "#SYSTEM"), "rb") as f:
        data = f.read()
    entries = {}
    pos = 4  # version
    while pos + 4 <= len(data):
        code, length = struct.unpack_from("<HH", data, pos)
        entries[code] = data[pos + 4 : pos + 4 + length]
        pos += 4 + length
    for code, expected in EXPECTED_SYSTEM.items():
        got = read_cstring(entries[code], 0) if code in entries else None
        if got != expected:
            fail(f"#SYSTEM entry {code} is {got!r}, expected {expected!r}")
    if 4 in entries and struct.unpack_from("<I", entries[4], 0)[0] != 0x0C0A:
        fail(f"#SYSTEM language is {struct.unpack_from('<I', entries[4], 0)[0]:#x}, expected 0xc0a (Spanish)")


def context_map(root, files):
    """Context id -> topic. #IVB: a little-endian length, then (id, offset into #STRINGS)
    pairs; the string there is the topic as [ALIAS] gives it, a path from the archive's root
    (a viewer on Windows opens nothing else: no folder of the build machine in front of it)."""
    if not os.path.exists(os.path.join(root, "#IVB")):
        fail("the archive has no #IVB: no context opens a topic")
        return {}
    with open(os.path.join(root, "#IVB"), "rb") as f:
        ivb = f.read()
    with open(os.path.join(root, "#STRINGS"), "rb") as f:
        strings = f.read()
    (length,) = struct.unpack_from("<I", ivb, 0)
    if length % 8 or 4 + length > len(ivb):
        fail(f"#IVB declares {length} bytes of pairs in a file of {len(ivb)} bytes")
        return {}
    contexts = {}
    for pos in range(4, 4 + length, 8):
        context, offset = struct.unpack_from("<II", ivb, pos)
        if offset >= len(strings):
            fail(f"context {context}: offset {offset} is past the end of #STRINGS")
            continue
        name = read_cstring(strings, offset)
        if name.partition("#")[0] not in files:
            fail(f"context {context} names {name!r}, which is not a file of the archive")
        contexts[context] = name
    return contexts


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    chm, sources, extract = sys.argv[1:]
    with tempfile.TemporaryDirectory() as root:
        run = subprocess.run([extract, chm, root], capture_output=True, text=True)
        if run.returncode != 0:
            sys.exit(f"{extract} failed ({run.returncode}):\n{run.stdout}{run.stderr}")
        files = archive_files(root)
        if not files:
            sys.exit(f"{extract} took nothing out of {chm}")

        parsed = {}

        def parsed_file(rel):
            if rel not in parsed:
                with open(files[rel], "rb") as f:
                    parsed[rel] = parse(f.read().decode("utf-8", "replace"))
            return parsed[rel]

        def anchors_of(rel):
            return parsed_file(rel).anchors if rel.endswith(PAGE_EXTENSIONS) else set()

        # The sources, as shipped.
        shipped = sorted(
            os.path.relpath(os.path.join(folder, n), sources).replace(os.sep, "/")
            for folder, _, names in os.walk(sources)
            for n in names
            if n.lower().endswith(SHIPPED_EXTENSIONS)
        )
        pages = [n for n in shipped if n.endswith(PAGE_EXTENSIONS)]
        if "index.htm" not in pages:
            fail("the sources have no index.htm")
        for name in shipped:
            if name not in files:
                fail(f"{name} is in the sources but not in the archive (missing from [FILES]?)")
                continue
            with open(os.path.join(sources, name), "rb") as a, open(files[name], "rb") as b:
                if a.read() != b.read():
                    fail(f"{name} in the archive differs from the source: rebuild scolaria_chm")

        # Pages: UTF-8, declared, titled.
        for name in pages:
            if name not in files:
                continue
            with open(files[name], "rb") as f:
                raw = f.read()
            try:
                raw.decode("utf-8")
            except UnicodeDecodeError as e:
                fail(f"{name} is not UTF-8: {e}")
            page = parsed_file(name)
            if page.charset != "utf-8":
                fail(f"{name} declares charset {page.charset!r}, not utf-8")
            if not (page.title or "").strip():
                fail(f"{name} has no title")

        # Contents and index: ASCII (their code page is not declared), every entry named.
        sitemaps = [n for n in files if n.endswith((".hhc", ".hhk"))]
        for name in sitemaps:
            with open(files[name], "rb") as f:
                raw = f.read()
            if any(b > 0x7F for b in raw):
                fail(f"{name} is not pure ASCII: write accented letters as entities")
            if not all(n.strip() for n in parsed_file(name).sitemap_names):
                fail(f"{name} has an entry without a name")

        # Links.
        link_count = 0
        for name in sorted(files):
            if not name.endswith(PAGE_EXTENSIONS + (".hhc", ".hhk")):
                continue
            for what, target in parsed_file(name).links:
                link_count += 1
                if not target.strip():
                    fail(f"{name}: empty {what}")
                    continue
                resolve(name, target.strip(), files, anchors_of)

        listed = {t.partition("#")[0] for n in files if n.endswith(".hhc") for _, t in parsed_file(n).links}
        for name in pages:
            if name not in listed:
                fail(f"{name} does not appear in the contents (.hhc)")

        check_system(root)
        contexts = context_map(root, files)
        for context, topic in EXPECTED_CONTEXTS.items():
            if contexts.get(context) != topic:
                fail(f"context {context} opens {contexts.get(context)!r}, expected {topic!r}")

        keywords = sum(len(parsed_file(n).sitemap_names) for n in files if n.endswith(".hhk"))
        print(f"{len(pages)} pages, {link_count} links, {keywords} index entries, contexts {contexts}")

    for message in failures:
        print("FAIL:", message)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
