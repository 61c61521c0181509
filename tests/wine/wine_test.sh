#!/usr/bin/env bash
# Pontix beside a Windows host under Wine, on a display of its own (run through xvfb-run):
# the launcher puts the converter inside the host's window and makes the host's wait mean it;
# a handle that names no window reaches the converter unchanged; LockFile and the converter's
# locks keep each other out.
#   wine_test.sh PONTIX PONTIX_CLI LAUNCHER HOST LOCKER
# Exit 77 (skipped) with the reason when Wine cannot run here.
set -uo pipefail
PONTIX=$1 CLI=$2 LAUNCHER=$3 HOST=$4 LOCKER=$5

for tool in wine wineboot wineserver xdotool xwininfo; do
  command -v "$tool" >/dev/null || { echo "omitida: falta $tool (apt-get install wine wine64 xdotool x11-utils)"; exit 77; }
done

WORK=$(mktemp -d)
export WINEPREFIX=$WORK/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" HOME=$WORK
export XDG_RUNTIME_DIR=$WORK/run QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
cleanup() {
  wineserver -k 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FALLO: $*"
  failures=$((failures + 1))
}
# Waits up to 30 s for a command to succeed.
wait_for() {
  for _ in $(seq 300); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}
visible() { xdotool search --onlyvisible --name "^$1\$" | head -1; }
# Presses a key in the window with exactly this title once it shows, then waits until it goes.
press_in() {
  local id
  wait_for visible_now "$1" || return 1
  id=$(visible "$1")
  xdotool windowfocus --sync "$id" key "$2"
  wait_for gone "$id"
}
visible_now() { [ -n "$(visible "$1")" ]; }
gone() { ! xwininfo -id "$1" >/dev/null 2>&1 || ! xwininfo -id "$1" | grep -q IsViewable; }

wineboot -i >/dev/null 2>&1 || { echo "omitida: Wine no crea un prefijo aquí"; exit 77; }
mkdir -p "$WINEPREFIX/drive_c/KTEMP" "$WORK/horalia"
# A link, as the README places it: the result must land beside the link, inside the prefix.
ln -s "$(realpath "$PONTIX")" "$WORK/horalia/pontix"
cp "$LAUNCHER" "$WORK/horalia/pontix.exe"
cp "$HOST" "$LOCKER" "$WORK/"
LAUNCHER_WIN="Z:${WORK//\//\\}\\horalia\\pontix.exe"
INI=$WORK/horalia/Horalia.ini

# 1. Exportar inside the host, the file dialog cancelled.
printf '[Horalia]\r\nIdioma=ES\r\n' >"$INI"
wine "$WORK/host.exe" "$LAUNCHER_WIN" exportar >"$WORK/host1.out" 2>"$WORK/host1.err" &
host=$!
wait_for grep -q ventana "$WORK/host1.out" || fail "el anfitrión no muestra su ventana"
x11=$(awk '/^ventana/ {print $3}' "$WORK/host1.out" | tr -d '\r')
wait_for visible_now "Archivo XML" || fail "no aparece el diálogo de archivo"
args=$(pgrep -a -f 'horalia.pontix exportar' | head -1)
[[ "$args" =~ " exportar $x11"( |$) ]] || fail "el lanzador no da a Pontix la ventana X11 $x11: $args"
children=$(xwininfo -children -id "0x$x11" 2>/dev/null)
grep -q '"Exportar e importar datos entre Horalia y Scolaria"' <<<"$children" ||
  fail "la ventana de Pontix no es hija de la del anfitrión: $children"
# The converter's lock on its marker: a Windows program's LockFile fails while it runs.
marker=$(find "$WINEPREFIX/drive_c/users" -name 'ptx*.tmp' | head -1)
if [ -z "$marker" ]; then
  fail "no hay archivo de marca del lanzador"
else
  got=$(wine "$WORK/locker.exe" "Z:${marker//\//\\}" | tr -d '\r')
  [ "$got" = rechazado ] || fail "LockFile sobre la marca de Pontix en marcha: $got"
fi
grep -q '^fin' "$WORK/host1.out" && fail "la espera del anfitrión acabó antes que Pontix"
press_in "Archivo XML" Escape || fail "el diálogo de archivo no se cierra"
press_in "Pontix" Return || fail "no aparece «No existe archivo»"
wait_for grep -q '^fin' "$WORK/host1.out" || fail "la espera del anfitrión no acaba"
result=$(grep '^fin' "$WORK/host1.out" | tr -d '\r')
[ "$result" = "fin -1 -1" ] || fail "al acabar la espera: '$result' (se esperaba código -1 y Horalia.ini con -1)"
grep -q 'Transformado=-1' "$INI" || fail "Horalia.ini: $(cat "$INI")"
[ -z "$(find "$WINEPREFIX/drive_c/users" -name 'ptx*.tmp')" ] || fail "queda el archivo de marca"
wait "$host"

# 2. A handle that names no window reaches the converter as it was written.
rm -f "$INI"
wine "$WORK/host.exe" "$LAUNCHER_WIN" ninguna 7FFF0001 >"$WORK/host2.out" 2>"$WORK/host2.err" &
host=$!
wait_for visible_now "Pontix" || fail "no aparece el mensaje de ventana inexistente"
args=$(pgrep -a -f 'horalia.pontix ninguna' | head -1)
[[ "$args" =~ " ninguna 7FFF0001"( |$) ]] || fail "el lanzador cambia un identificador que no es ventana: $args"
press_in "Pontix" Return || fail "el mensaje no se cierra"
main=$(visible "Exportar e importar datos entre Horalia y Scolaria")
[ -n "$main" ] || fail "no queda la ventana normal"
grep -q '^fin' "$WORK/host2.out" && fail "la espera del anfitrión acabó con Pontix abierto"
[ -n "$main" ] && xdotool windowfocus --sync "$main" key alt+s
wait_for grep -q '^fin' "$WORK/host2.out" || fail "la espera del anfitrión no acaba al cerrar Pontix"
wait "$host"

# 3. A table locked with LockFile is not rebuilt; the converter's lock refuses LockFile.
TRABAJO=$WORK/trabajo
mkdir -p "$TRABAJO"
printf "<?xml version='1.0' encoding='UTF-8'?><CENTRE><PLACES><PLACA codi='P1' descripcio='Pere' curta='PERE'/></PLACES></CENTRE>" >"$WORK/centre.xml"
"$CLI" exportar "$WORK/centre.xml" --trabajo "$TRABAJO" >/dev/null 2>&1 || fail "la primera exportación falla"
PROFT=$(find "$TRABAJO" -maxdepth 1 -iname proft.dbf | head -1)
if [ -z "$PROFT" ]; then
  fail "no hay PROFT.DBF"
else
  wine "$WORK/locker.exe" "Z:${PROFT//\//\\}" 4 >"$WORK/locker.out" &
  locker=$!
  wait_for grep -q bloqueado "$WORK/locker.out" || fail "LockFile sobre PROFT.DBF: $(cat "$WORK/locker.out")"
  out=$("$CLI" exportar "$WORK/centre.xml" --trabajo "$TRABAJO" 2>&1)
  code=$?
  [ $code = 1 ] || fail "exportar con PROFT bloqueada acaba con $code"
  grep -q "La tabla .*PROFT.DBF está abierta por otro programa" <<<"$out" || fail "mensaje: $out"
  wait "$locker"
fi

if [ $failures -gt 0 ]; then
  for f in "$WORK"/host*.out "$WORK"/host*.err; do echo "== $(basename "$f")"; cat "$f"; done
  exit 1
fi
echo "bien"
