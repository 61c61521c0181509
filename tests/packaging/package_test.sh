#!/usr/bin/env bash
# Builds the Debian package from a build tree into a scratch folder, unpacks it there and
# checks what an installed Pontix needs.
#   package_test.sh CPACK BUILD_DIR VERSION PYTHON3 FORTIFIED
# FORTIFIED is 1 when the build fortifies (optimised, no sanitizer), else 0.
set -euo pipefail
cpack=$1 build=$2 version=$3 python3=$4 fortified=$5

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FALLO: $*" >&2
  failures=$((failures + 1))
}

"$cpack" -G DEB -B "$scratch/out" --config "$build/CPackConfig.cmake" >"$scratch/cpack.log" 2>&1 || {
  cat "$scratch/cpack.log" >&2
  exit 1
}
debs=("$scratch"/out/pontix_"$version"_*.deb)
[ -f "${debs[0]}" ] || {
  echo "no package pontix_${version}_*.deb:" >&2
  ls "$scratch/out" >&2
  exit 1
}
deb=${debs[0]}
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes"

# Control fields; the library dependencies are dpkg-shlibdeps' work, not written by hand.
[ "$(dpkg-deb -f "$deb" Package)" = pontix ] || fail "Package: $(dpkg-deb -f "$deb" Package)"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version: $(dpkg-deb -f "$deb" Version)"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no Maintainer"
depends=$(dpkg-deb -f "$deb" Depends)
for library in 'libqt6widgets6' 'libqt6core6' 'libxml2 ' 'libchm1 ' 'libc6 ' 'qt6-qpa-plugins'; do
  [[ "$depends" == *"$library"* ]] || fail "Depends has no ${library% }: $depends"
done
[[ "$depends" == *"libxml2 (>="* ]] || fail "Depends has no computed libxml2 version: $depends"

root=$scratch/root
dpkg-deb -x "$deb" "$root"

for file in usr/bin/pontix usr/bin/pontix-cli; do
  [ -x "$root/$file" ] || fail "$file is not an executable in the package"
done
cmp -s "$root/usr/share/pontix/Scolaria.chm" "$build/app/Scolaria.chm" ||
  fail "usr/share/pontix/Scolaria.chm is not the built help file"
# Everything under /usr, as Debian has programs of its own.
paths=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
if grep -v -E '^\./(usr/((bin|share)/.*)?)?$' <<<"$paths"; then fail "files outside usr/bin and usr/share"; fi

got=$("$root/usr/bin/pontix-cli" --version)
[ "$got" = "pontix-cli $version" ] || fail "pontix-cli --version from the package says: $got"

desktop=$root/usr/share/applications/pontix.desktop
if [ -f "$desktop" ]; then
  verdict=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate refuses pontix.desktop: $verdict"
  if [ -n "$verdict" ] && grep -v ': hint: ' <<<"$verdict"; then fail "desktop-file-validate complains"; fi
  for line in 'Name=Pontix' 'Exec=pontix' 'Icon=pontix' 'Type=Application' 'Comment=Exportar e importar datos entre Horalia y Scolaria'; do
    grep -qxF "$line" "$desktop" || fail "pontix.desktop lacks $line"
  done
  # Each main category of the freedesktop.org desktop menus is a menu of its own: with two, Pontix is
  # listed twice.
  main=$(sed -n 's/^Categories=//p' "$desktop" | tr ';' '\n' |
    grep -cxE 'AudioVideo|Audio|Video|Development|Education|Game|Graphics|Network|Office|Science|Settings|System|Utility' || true)
  [ "$main" = 1 ] || fail "pontix.desktop has $main main categories: $(grep '^Categories=' "$desktop")"
else
  fail "no usr/share/applications/pontix.desktop"
fi
icon=$root/usr/share/icons/hicolor/scalable/apps/pontix.svg
"$python3" -c 'import sys, xml.etree.ElementTree as E; r = E.parse(sys.argv[1]).getroot(); sys.exit(r.tag != "{http://www.w3.org/2000/svg}svg")' "$icon" ||
  fail "usr/share/icons/hicolor/scalable/apps/pontix.svg is not an SVG picture"

# The manual pages: rendered without a warning. pontix-cli's has every order's usage as the
# program gives it, and its Windows paths intact.
render() {
  local warnings
  warnings=$(zcat "$1" | groff -k -man -Tutf8 -ww -z 2>&1)
  [ -z "$warnings" ] || fail "groff warns about $(basename "$1" .gz): $warnings"
  page=$(zcat "$1" | groff -k -man -Tutf8 -P-cbou -rLL=200n)
}
man=$root/usr/share/man/man1/pontix-cli.1.gz
if [ -f "$man" ]; then
  render "$man"
  orders=$("$root/usr/bin/pontix-cli" --help | awk '/^Órdenes:/ { inside = 1; next } inside && /^$/ { exit } inside && /^  [a-z]/ { print $1 }')
  [ -n "$orders" ] || fail "pontix-cli --help names no order"
  for order in $orders; do
    usage=$("$root/usr/bin/pontix-cli" "$order" --help | head -n 1)
    grep -qF -- "$usage" <<<"$page" || fail "the manual page lacks the order $order's usage: $usage"
  done
  for text in 'PONTIX-CLI(1)' 'NOMBRE' 'SINOPSIS' 'DESCRIPCIÓN' 'CÓDIGOS DE SALIDA' 'VÉASE TAMBIÉN' \
    'C:\KTEMP' 'CODI;NIVEL;CURSO' "Pontix $version"; do
    grep -qF -- "$text" <<<"$page" || fail "the manual page lacks: $text"
  done
else
  fail "no usr/share/man/man1/pontix-cli.1.gz"
fi
man=$root/usr/share/man/man1/pontix.1.gz
if [ -f "$man" ]; then
  render "$man"
  for text in 'PONTIX(1)' 'NOMBRE' 'SINOPSIS' 'pontix exportar|importar VENTANA' 'DESCRIPCIÓN' 'ARCHIVOS' \
    'C:\KTEMP\ANTERIOR' 'Horalia.ini' 'VÉASE TAMBIÉN' 'pontix-cli(1)' "Pontix $version"; do
    grep -qF -- "$text" <<<"$page" || fail "the manual page of pontix lacks: $text"
  done
else
  fail "no usr/share/man/man1/pontix.1.gz"
fi

# Debian's own files: the changelog's latest entry is this version, the copyright file is in
# the machine-readable format.
changelog=$root/usr/share/doc/pontix/changelog.gz
if [ -f "$changelog" ]; then
  zcat "$changelog" >"$scratch/changelog"
  latest=$(dpkg-parsechangelog -l "$scratch/changelog" -S Version 2>&1) || latest="unreadable: $latest"
  [ "$latest" = "$version" ] || fail "the changelog's latest entry is not version $version: $latest"
else
  fail "no usr/share/doc/pontix/changelog.gz"
fi
head -n 1 "$root/usr/share/doc/pontix/copyright" 2>/dev/null |
  grep -qxF 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "usr/share/doc/pontix/copyright is missing or not machine-readable"

# lintian: no error or warning, and the programs built with Debian's hardening, which it only
# reports as information (bindnow, fortify); the stack protector it does not look at. A
# sanitizer or unoptimised build is not fortified, by design.
report=$(lintian --fail-on none --display-info "$deb" 2>&1) || fail "lintian did not run: $report"
complaints=$(grep -E '^[EW]: |^I: [^ ]+ hardening-' <<<"$report" || true)
if [ "$fortified" != 1 ]; then complaints=$(grep -v ' hardening-no-fortify-functions ' <<<"$complaints" || true); fi
[ -z "$complaints" ] || fail "lintian complains:
$complaints"
for file in usr/bin/pontix usr/bin/pontix-cli; do
  readelf --dyn-syms --wide "$root/$file" | grep -w __stack_chk_fail >/dev/null ||
    fail "$file is not built with the stack protector"
done

if ((failures)); then
  echo "$failures failed" >&2
  exit 1
fi
echo "the Debian package: all checks passed"
