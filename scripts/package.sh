#!/usr/bin/env bash
# Builds the Debian package and checks what it installs, as installed:
#   scripts/package.sh [BUILD_DIR]      (default build-pkg, in the source tree)
# Configures a Release build for /usr without tests or benchmarks, builds it, runs
# `cpack -G DEB`, unpacks the .deb into a temporary root and checks the files there:
# the desktop entry, the metainfo, the icons, the manuals, the bash completion, the
# units. Then, with the unpacked usr/ made read-only (and, as root, the capability to
# override file permissions dropped), it runs the unpacked programs on a throw-away data
# root: the versions, the help, the demonstration, a headless session of the editor, the
# usage row it writes and where its files go. Exits non-zero at the first failure.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:-$ROOT/build-pkg}"
case "$BUILD" in
  /*) ;;
  *) BUILD="$PWD/$BUILD" ;;
esac

CHECKED=()
NOT_CHECKED=()
fail() {
  echo "package.sh: FAILED: $*" >&2
  exit 1
}
ok() {
  CHECKED+=("$*")
  echo "  ok: $*"
}

TMP="$(mktemp -d "${TMPDIR:-/tmp}/etapas-pkg.XXXXXX")"
cleanup() {
  # The unpacked tree was made read-only; give the write bits back so it can go.
  chmod -R u+w "$TMP" 2>/dev/null || true
  rm -rf "$TMP"
}
trap cleanup EXIT

bash "$ROOT/scripts/deps.sh"

echo "== Build ($BUILD)"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DETAPAS_TESTS=OFF -DETAPAS_BENCH=OFF -DETAPAS_FUZZ=OFF -DETAPAS_SANITIZE=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)"

# The version and the installed layout, as CMake wrote them for the programs.
HEADER="$BUILD/generated/etapas_version.h"
define() { sed -n "s/^#define $1 \"\\(.*\\)\"\$/\\1/p" "$HEADER"; }
VERSION="$(define ETAPAS_VERSION)"
REL_DATADIR="$(define ETAPAS_REL_DATADIR)"
REL_MODULEDIR="$(define ETAPAS_REL_MODULEDIR)"
if [ -z "$VERSION" ] || [ -z "$REL_DATADIR" ] || [ -z "$REL_MODULEDIR" ]; then
  fail "cannot read $HEADER"
fi

echo "== Package"
rm -f "$BUILD"/etapas_*.deb
(cd "$BUILD" && cpack -G DEB >/dev/null) || fail "cpack -G DEB"
shopt -s nullglob
debs=("$BUILD"/etapas_*.deb)
shopt -u nullglob
[ ${#debs[@]} -eq 1 ] || fail "expected one etapas_*.deb in $BUILD, found ${#debs[@]}"
DEB="${debs[0]}"
echo "  $DEB"

field() { dpkg-deb --field "$DEB" "$1"; }
[ "$(field Package)" = etapas ] || fail "package name is '$(field Package)', not etapas"
[ "$(field Version)" = "$VERSION" ] || fail "package version is '$(field Version)', the project's is $VERSION"
ok "package etapas $VERSION ($(basename "$DEB"))"
depends="$(field Depends)"
# libqt6widgets6 comes only from the window module: dpkg-shlibdeps read it.
case "$depends" in
  *libqt6widgets6*) ok "Depends (dpkg-shlibdeps, window module included): $depends" ;;
  *) fail "Depends lacks the window module's Qt libraries: '$depends'" ;;
esac
case "$(field Recommends)" in
  *qt6-translations-l10n*) ok "Recommends qt6-translations-l10n" ;;
  *) fail "Recommends lacks qt6-translations-l10n" ;;
esac

echo "== Installed files"
DEST="$TMP/root"
dpkg -x "$DEB" "$DEST"
BIN="$DEST/usr/bin"
SHARE="$DEST/usr/share"

need_file() {
  [ -s "$DEST/$1" ] || fail "missing or empty in the package: /$1"
}
for f in usr/bin/etapas usr/bin/etapas-admin; do
  need_file "$f"
  [ -x "$DEST/$f" ] || fail "/$f is not executable"
done
# The program finds these from its own folder; they must be where it will look.
MODULE="$BIN/$REL_MODULEDIR/libetapas_qt.so"
[ -f "$MODULE" ] || fail "the window module is not at bindir/$REL_MODULEDIR/libetapas_qt.so"
DATADIR="$BIN/$REL_DATADIR"
for s in "$ROOT"/Styles/*; do
  [ -f "$DATADIR/Styles/$(basename "$s")" ] || fail "style $(basename "$s") is not in bindir/$REL_DATADIR/Styles"
done
ok "programs in /usr/bin, window module at bindir/$REL_MODULEDIR, Styles at bindir/$REL_DATADIR/Styles"

for path in "$BIN/etapas" "$BIN/etapas-admin" "$MODULE"; do
  f="$(basename "$path")"
  missing="$(ldd "$path" 2>&1 | grep 'not found' || true)"
  [ -z "$missing" ] || fail "$f needs libraries this machine lacks: $missing"
  runpath="$(readelf -d "$path" | grep -E 'RPATH|RUNPATH' || true)"
  [ -z "$runpath" ] || fail "$f keeps a run path: $runpath"
done
ok "every library of the programs and the module resolves; no build run path left"

DESKTOP="$SHARE/applications/etapas.desktop"
need_file usr/share/applications/etapas.desktop
desktop-file-validate "$DESKTOP" || fail "desktop-file-validate $DESKTOP"
grep -qx 'Exec=etapas' "$DESKTOP" || fail "the desktop entry does not start plain 'etapas'"
grep -qx 'Icon=etapas' "$DESKTOP" || fail "the desktop entry does not name the icon etapas"
ok "desktop entry valid (desktop-file-validate)"

METAINFO="$SHARE/metainfo/etapas.metainfo.xml"
need_file usr/share/metainfo/etapas.metainfo.xml
grep -q "<release version=\"$VERSION\"" "$METAINFO" || fail "the metainfo has no release $VERSION"
if command -v appstreamcli >/dev/null; then
  # The id is the desktop entry's name, not a reverse domain name: the program has no
  # domain of its own. Every other finding fails the check.
  (cd "$TMP" && appstreamcli validate --no-net --override=cid-desktopapp-is-not-rdns=info "$METAINFO") ||
    fail "appstreamcli validate $METAINFO"
  ok "metainfo valid (appstreamcli validate --no-net), release $VERSION"
else
  NOT_CHECKED+=("metainfo validation: appstreamcli is not installed")
fi

png_size() {
  # Width and height from the PNG header (bytes 16 to 23, big-endian).
  od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'
}
need_file usr/share/icons/hicolor/scalable/apps/etapas.svg
grep -q '<svg' "$SHARE/icons/hicolor/scalable/apps/etapas.svg" || fail "etapas.svg is not an SVG"
for n in 16 24 32 48 64 128 256; do
  icon="usr/share/icons/hicolor/${n}x${n}/apps/etapas.png"
  need_file "$icon"
  [ "$(head -c 8 "$DEST/$icon" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "/$icon is not a PNG"
  [ "$(png_size "$DEST/$icon")" = "${n}x${n}" ] || fail "/$icon is $(png_size "$DEST/$icon"), not ${n}x${n}"
done
ok "icons: scalable SVG and PNGs 16 to 256, each of its size"

for page in etapas etapas-admin; do
  man="usr/share/man/man1/$page.1"
  need_file "$man"
  warnings="$(MANWIDTH=80 MANPAGER=cat PAGER=cat man --warnings -l "$DEST/$man" 2>&1 >"$TMP/$page.txt")" ||
    fail "man -l /$man"
  [ -z "$warnings" ] || fail "man warns on /$man: $warnings"
  grep -q "$page $VERSION" "$TMP/$page.txt" || fail "the manual $page(1) does not show version $VERSION"
done
ok "manuals etapas(1) and etapas-admin(1) render without warnings, version $VERSION"

COMPLETION="$SHARE/bash-completion/completions/etapas-admin"
need_file usr/share/bash-completion/completions/etapas-admin
bash -n "$COMPLETION" || fail "bash -n $COMPLETION"
ok "bash completion parses (bash -n)"

UNITS="$DEST/usr/lib/systemd/system"
need_file usr/lib/systemd/system/etapas-sincronizar@.service
need_file usr/lib/systemd/system/etapas-sincronizar@.timer
need_file usr/share/doc/etapas/examples/sincronizar.conf.example
grep -q '^ExecStart=/usr/bin/etapas-admin sincronizar ' "$UNITS/etapas-sincronizar@.service" ||
  fail "the service does not start /usr/bin/etapas-admin: $(grep ExecStart "$UNITS/etapas-sincronizar@.service")"
ok "systemd units (ExecStart /usr/bin/etapas-admin) and the example settings file"
if command -v systemd-analyze >/dev/null; then
  # An instance of each template, as systemctl would load it. The unpacked etapas-admin is
  # not at /usr/bin on this machine unless the package is installed: that is not the
  # units' fault.
  mkdir "$TMP/units"
  cp "$UNITS/etapas-sincronizar@.service" "$TMP/units/etapas-sincronizar@empresa1.service"
  cp "$UNITS/etapas-sincronizar@.timer" "$TMP/units/etapas-sincronizar@empresa1.timer"
  verify="$(systemd-analyze verify --man=no "$TMP/units/etapas-sincronizar@empresa1.service" \
    "$TMP/units/etapas-sincronizar@empresa1.timer" 2>&1 | grep -v 'Command /usr/bin/etapas-admin is not executable' || true)"
  [ -z "$verify" ] || fail "systemd-analyze verify: $verify"
  ok "systemd-analyze verify finds nothing wrong in the units"
else
  NOT_CHECKED+=("systemd-analyze verify of the units: systemd-analyze is not installed")
fi

# Runs an unpacked program as a user the read-only tree stops: root gives up the
# capabilities that pass over file permissions.
run_installed() {
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --inh-caps=-dac_override,-dac_read_search --bounding-set=-dac_override,-dac_read_search -- "$@"
  else
    "$@"
  fi
}

# The unpacked programs, run from a read-only usr/ on a fresh data root.
check_installed_program() {
  echo "== The installed programs (read-only usr/)"
  if [ "$(id -u)" -eq 0 ]; then
    command -v setpriv >/dev/null || fail "setpriv (util-linux) is needed to run without dac_override as root"
  fi
  chmod -R a-w "$DEST/usr"
  # Proof that the read-only tree holds for the programs as they are run here.
  if run_installed touch "$BIN/.probe" 2>/dev/null; then
    rm -f "$BIN/.probe"
    fail "the read-only usr/ can still be written by the programs: the check would prove nothing"
  fi
  (cd "$DEST/usr" && find . -type f -exec md5sum {} + | sort -k2) >"$TMP/before.md5"

  local home="$TMP/home" data="$TMP/data" out="$TMP/out" err="$TMP/err" status
  mkdir -p "$home" "$data" "$TMP/config" "$TMP/temp"
  # Nothing of the caller's: a fresh home, data root, settings and temporary folder.
  local -a env=(env -u XDG_DATA_HOME HOME="$home" ETAPAS_DATA="$data" XDG_CONFIG_HOME="$TMP/config"
    TEMP="$TMP/temp" TMP="$TMP/temp" TMPDIR="$TMP/temp")
  run() {
    status=0
    (cd "$home" && run_installed "${env[@]}" "$@") <"${STDIN:-/dev/null}" >"$out" 2>"$err" || status=$?
  }
  shows() {
    echo "--- stdout:"
    head -c 4000 "$out"
    echo "--- stderr:"
    head -c 4000 "$err"
  }

  run "$BIN/etapas" --version
  if ! { [ "$status" -eq 0 ] && [ "$(head -n 1 "$out")" = "etapas $VERSION" ]; }; then
    shows
    fail "usr/bin/etapas --version (exit $status) does not print 'etapas $VERSION'"
  fi
  ok "etapas --version: $(head -n 1 "$out")"

  run "$BIN/etapas-admin" --version
  if ! { [ "$status" -eq 0 ] && [ "$(head -n 1 "$out")" = "etapas-admin $VERSION" ]; }; then
    shows
    fail "usr/bin/etapas-admin --version (exit $status) does not print 'etapas-admin $VERSION'"
  fi
  ok "etapas-admin --version: $(head -n 1 "$out")"

  run "$BIN/etapas" --help
  if ! { [ "$status" -eq 0 ] && grep -q 'Uso:' "$out"; }; then
    shows
    fail "usr/bin/etapas --help (exit $status) does not print 'Uso:'"
  fi
  ok "etapas --help prints its usage (Uso:)"

  # The completion offers every command etapas-admin lists, and each command's options.
  complete_words() {
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _etapas_admin; printf "%s\n" "${COMPREPLY[@]}"' \
      _ "$COMPLETION" "$@"
  }
  run "$BIN/etapas-admin" --help
  [ "$status" -eq 0 ] || fail "usr/bin/etapas-admin --help exits $status"
  local commands command option offered
  commands="$(sed -n '/^Commands:/,/^$/s/^  \([a-z-][a-z-]*\) .*/\1/p' "$out")"
  [ -n "$commands" ] || fail "cannot read the commands from etapas-admin --help"
  for command in $commands; do
    offered="$(complete_words etapas-admin "")"
    grep -qx -- "$command" <<<"$offered" || fail "the completion does not offer the command $command"
    run "$BIN/etapas-admin" "$command" --help
    [ "$status" -eq 0 ] || fail "etapas-admin $command --help exits $status"
    offered="$(complete_words etapas-admin "$command" --)"
    while read -r option; do
      grep -qx -- "$option" <<<"$offered" || fail "the completion does not offer $option for $command"
    done < <(grep -oE -- '--[a-z][a-z-]*' "$out" | sort -u)
  done
  ok "bash completion offers every command of etapas-admin --help and the options of each command's --help"

  run "$BIN/etapas-admin" demo
  [ "$status" -eq 0 ] || {
    shows
    fail "usr/bin/etapas-admin demo exits $status"
  }
  ok "etapas-admin demo builds the demonstration in a fresh data root"

  # A headless session: the real start-up on the demonstration, the window's state, CERRAR.
  printf 'dump\nclick CERRAR\n' >"$TMP/script.txt"
  STDIN="$TMP/script.txt" run "$BIN/etapas" --script - \
    "@Server=DEMO; @DbName=EMPRESA1; @Usuario=OPERADOR; @Password=OPERADOR; @UsuarioLogeado=OPERADOR; @Caja=1;"
  [ "$status" -eq 0 ] || {
    shows
    fail "usr/bin/etapas --script - on the demonstration exits $status"
  }
  grep -q '^{"event":"dump","caption":"Tabla de Status"' "$out" || {
    shows
    fail "the headless session did not print the window's state"
  }
  grep -q '^{"event":"end"}$' "$out" || {
    shows
    fail "the headless session did not end at CERRAR"
  }
  # A message at start-up would be a failure told to the operator (a file it could not write).
  if grep -qE '"event":"(message|error|script-error)"' "$out"; then
    shows
    fail "the headless session reported a problem"
  fi
  ok "etapas --script - on the demonstration: window state printed, closed by CERRAR, no message"

  run "$BIN/etapas-admin" sql --server DEMO --database EMPRESA1 "SELECT COUNT(*) AS n FROM Control_Acceso"
  local n
  n="$(sed -n 's/^{"n": *\([0-9][0-9]*\)}$/\1/p' "$out")"
  if ! { [ "$status" -eq 0 ] && [ -n "$n" ] && [ "$n" -ge 1 ]; }; then
    shows
    fail "no usage row in Control_Acceso after the session (exit $status)"
  fi
  ok "the session wrote its usage row (Control_Acceso: $n)"

  [ -n "$(find "$data" -iname consultas.cvl -type f)" ] || fail "consultas.cvl was not written in the data root"
  [ -z "$(find "$BIN" -iname consultas.cvl)" ] || fail "consultas.cvl is in the program's folder"
  (cd "$DEST/usr" && find . -type f -exec md5sum {} + | sort -k2) >"$TMP/after.md5"
  diff "$TMP/before.md5" "$TMP/after.md5" >/dev/null || fail "the installed files changed: $(diff "$TMP/before.md5" "$TMP/after.md5")"
  ok "consultas.cvl written in the data root; the installed tree is unchanged"
}

check_installed_program

echo "== Checked"
printf '  %s\n' "${CHECKED[@]}"
if [ ${#NOT_CHECKED[@]} -gt 0 ]; then
  echo "== Not checked"
  printf '  %s\n' "${NOT_CHECKED[@]}"
fi
echo "package.sh: $DEB is good"
