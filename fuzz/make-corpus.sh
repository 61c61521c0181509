#!/usr/bin/env bash
# Writes more seeds for the fuzz targets than fuzz/corpus keeps, from the sample school in the
# shared folder (Exportar's tables, its index and the timetable solution) and from small
# variants made here.
#
#   fuzz/make-corpus.sh [SALIDA [MUESTRAS]]
#
# SALIDA: where the seeds go, one folder per target (default build-fuzz/seeds, which
# fuzz/run.sh adds to each target's corpus). MUESTRAS: the samples folder (default the shared
# folder's samples beside the repository). pontix-cli comes from $PONTIX_BUILD_DIR (default
# build), built there when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=$(realpath -m "${1:-build-fuzz/seeds}")
SAMPLES=$(realpath -m "${2:-../shared/samples}")
BUILD=${PONTIX_BUILD_DIR:-build}

[ -f "$SAMPLES/centre-exemple.xml" ] || { echo "make-corpus: no están las muestras en $SAMPLES" >&2; exit 1; }
CLI=$BUILD/app/pontix-cli
if [ ! -x "$CLI" ]; then
  cmake -S . -B "$BUILD" >&2
  cmake --build "$BUILD" --target pontix-cli -j2 >&2
fi

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/KTEMP" "$WORK/PETIT" "$OUT"/{dbf_fuzz,xml_fuzz,ini_fuzz,soluc_fuzz}
exportar() {
  if ! "$CLI" exportar "$1" --trabajo "$2" --niveles "$3" >"$WORK/cli.log" 2>&1; then
    cat "$WORK/cli.log" >&2
    exit 1
  fi
}
# The sample school, and the small one of the committed corpus (its tables and index are small).
exportar "$SAMPLES/centre-exemple.xml" "$WORK/KTEMP" "$SAMPLES/niveles-exemple.csv"
cp "$SAMPLES"/horario-exemple/*.DBF "$WORK/KTEMP/"
printf 'ESO1;ESO;1\nESO2;ESO;2\n' >"$WORK/niveles.csv"
exportar fuzz/corpus/xml_fuzz/centre-petit.xml "$WORK/PETIT" "$WORK/niveles.csv"

python3 - "$WORK/KTEMP" "$WORK/PETIT" "$OUT" "$SAMPLES/centre-exemple.xml" <<'PY'
import os, struct, sys

work, small, out, centre = sys.argv[1:5]

def save(target, name, data):
    with open(os.path.join(out, target, name), "wb") as f:
        f.write(data)

def read(name, folder=work):
    with open(os.path.join(folder, name), "rb") as f:
        return f.read()

def table(fields, rows, version=0x03, language=0x57, mdx=False, deleted=(), end=True):
    """A dBase table: fields are (name, type, width, decimals), rows lists of texts."""
    length = 1 + sum(f[2] for f in fields)
    header_length = 32 + 32 * len(fields) + 1
    head = struct.pack("<BBBBIHH", version, 124, 1, 1, len(rows), header_length, length)
    head += bytes(16) + bytes([1 if mdx else 0, language]) + bytes(2)
    for name, kind, width, decimals in fields:
        head += name.encode().ljust(11, b"\0") + kind.encode() + bytes(4) + bytes([width, decimals]) + bytes(14)
    head += b"\r"
    body = b""
    for i, row in enumerate(rows):
        body += b"*" if i in deleted else b" "
        for (name, kind, width, decimals), value in zip(fields, row):
            value = value.encode("cp1252")
            body += value.rjust(width) if kind in "NF" else value.ljust(width)
    return head + body + (b"\x1a" if end else b"")

def first_records(data, count):
    """The table cut to its first records."""
    header_length, length = struct.unpack_from("<HH", data, 8)
    return data[:4] + struct.pack("<I", count) + data[8:header_length + count * length] + b"\x1a"

# dbf_fuzz: mode byte 0, the table; mode byte 1, two bytes of length, the table and its index.
for name in sorted(os.listdir(work)):
    if name.endswith(".DBF"):
        data = read(name)
        if len(data) > 8192:
            data = first_records(data, 20)
        save("dbf_fuzz", name.lower(), b"\0" + data)
for name in sorted(os.listdir(small)):
    if name.endswith(".DBF"):
        save("dbf_fuzz", "petit-" + name.lower(), b"\0" + read(name, small))
for prefix, folder in (("", work), ("petit-", small)):
    matib = read("MATIB.DBF", folder)
    save("dbf_fuzz", prefix + "matib-con-indice", b"\1" + struct.pack("<H", len(matib)) + matib + read("MATIB.MDX", folder))
soluc_fields = [("NUMSES", "N", 5, 0), ("DIA", "N", 2, 0), ("HORA", "N", 5, 1), ("PROF", "C", 10, 0),
                ("CODGRUPO", "C", 10, 0), ("AULA", "C", 10, 0), ("ASIG", "C", 10, 0), ("TAREA", "C", 30, 0)]
rows = [["1", "1", "1.0", "PER", "1A", "LAB", "MAT1", ""], ["2", "1", "1.5", "ANA", "2B", "A1", "CAT1", ""],
        ["3", "2", "3.0", "PER", "", "", "", "Guàrdia"], ["4", "0", "0.0", "ANA", "1A", "A1", "MAT1", ""]]
for version in (0x03, 0x83, 0x8B, 0x30, 0xF5):
    save("dbf_fuzz", "version-%02x" % version, b"\0" + table(soluc_fields, rows, version=version))
save("dbf_fuzz", "borrados", b"\0" + table(soluc_fields, rows, deleted={0, 2}))
save("dbf_fuzz", "sin-fin", b"\0" + table(soluc_fields, rows, end=False))
save("dbf_fuzz", "tipos", b"\0" + table([("D", "D", 8, 0), ("L", "L", 1, 0), ("F", "F", 12, 3), ("I", "N", 4, 0)],
                                       [["20240131", "T", "-1.250", "12"], ["        ", "?", "", "x"]]))

# soluc_fuzz: the sample solution cut down, and small ones on the keys the target's tables have.
soluc = read("SOLUC.DBF")
for count in (1, 8, 30):
    save("soluc_fuzz", "muestra-%d" % count, first_records(soluc, count))
save("soluc_fuzz", "claves", table(soluc_fields, rows))
save("soluc_fuzz", "horas-enteras", table(soluc_fields, [r[:2] + [r[2].split(".")[0] + ".0"] + r[3:] for r in rows]))
float_fields = [("DIA", "F", 4, 0), ("HORA", "F", 8, 2)] + soluc_fields[3:]
save("soluc_fuzz", "campos-f", table(float_fields, [r[1:] for r in rows]))

# xml_fuzz: the sample school in its own encoding and in others.
with open(centre, "rb") as f:
    xml = f.read()
save("xml_fuzz", "centre-exemple.xml", xml)
text = xml.decode("utf-8")
save("xml_fuzz", "centre-utf16.xml", text.replace('encoding="UTF-8"', 'encoding="UTF-16"').encode("utf-16"))
save("xml_fuzz", "centre-latin1.xml",
     text.replace('encoding="UTF-8"', 'encoding="ISO-8859-1"').encode("latin-1", "replace"))
save("xml_fuzz", "centre-1252.xml",
     text.replace('encoding="UTF-8"', 'encoding="windows-1252"').encode("cp1252", "replace"))

# ini_fuzz: the first byte chooses section, key and value; the rest is the file found.
inis = {
    "vacio": b"",
    "horalia": b"[Transformadores]\r\nTransformado=0\r\n[Otros]\r\nA=1\r\n",
    "sin-fin-de-linea": b"[Transformadores]\r\nTransformado",
    "comentarios": b"; nota\n[ transformadores ]\n;Transformado=2\n  TRANSFORMADO = 5 \n\n[x]\n",
    "utf8": "\ufeff[Sección]\r\nAño=1\r\n".encode("utf-8"),
    "utf16le": "\ufeff[Transformadores]\r\nTransformado=1\r\n".encode("utf-16-le"),
    "utf16be": "\ufeff[Horalia]\r\nRuta=C:\\\r\n".encode("utf-16-be"),
}
for name, data in inis.items():
    for choice in (0, 3, 21):
        save("ini_fuzz", "%s-%d" % (name, choice), bytes([choice]) + data)
PY
echo "Semillas en $OUT"
