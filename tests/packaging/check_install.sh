#!/usr/bin/env bash
# Installs a configured and built tree into a scratch prefix and checks what a
# user's machine would get: the application directory with the programs, the
# relative bin/ links into it, the menu entry, the file type and the icon.
# Usage: check_install.sh BUILD_DIR SOURCE_DIR
set -uo pipefail

build="${1:?usage: check_install.sh BUILD_DIR SOURCE_DIR}"
source_dir="${2:?usage: check_install.sh BUILD_DIR SOURCE_DIR}"
sample="$source_dir/samples/engine-ecu.odx"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/usr"
appdir="$prefix/lib/odx-viewer"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
skip() { echo "SKIP: $*"; }

if ! cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
  cat "$scratch/install.log" >&2
  echo "FAIL: cmake --install failed" >&2
  exit 1
fi

gui=OFF
if grep -q '^ODX_BUILD_GUI:BOOL=ON' "$build/CMakeCache.txt"; then
  gui=ON
fi
programs=(odx-outline)
if [ "$gui" = ON ]; then
  programs+=(odx-viewer)
fi

# Each program lies in the application directory as a real executable and is
# reached from bin/ through a relative link, so that /proc/self/exe names
# the application directory and the tree stays relocatable.
for program in "${programs[@]}"; do
  real="$appdir/$program"
  link="$prefix/bin/$program"
  if [ -L "$real" ] || [ ! -f "$real" ] || [ ! -x "$real" ]; then
    fail "$real is not an executable regular file"
  fi
  if [ ! -L "$link" ]; then
    fail "$link is not a symlink (a copy in bin/ would use bin/ as its application directory)"
    continue
  fi
  target="$(readlink "$link")"
  case "$target" in
    /*) fail "$link points to an absolute path: $target" ;;
  esac
  if [ "$(readlink -f "$link")" != "$(readlink -f "$real")" ]; then
    fail "$link resolves to $(readlink -f "$link"), not $real"
  fi
  if [ "$(dirname "$(readlink -f "$link")")" != "$(readlink -f "$appdir")" ]; then
    fail "$program's application directory is not $appdir"
  fi
done

# The installed command gives the same outline as the one in the build tree.
expected="$("$build/tools/odx-outline" --count "$sample" 2>&1)"
actual="$("$prefix/bin/odx-outline" --count "$sample" 2>&1)"
if ! [[ "$actual" =~ ^[1-9][0-9]*$ ]]; then
  fail "installed odx-outline --count printed '$actual'"
elif [ "$actual" != "$expected" ]; then
  fail "installed odx-outline counts $actual nodes, the build tree $expected"
fi

# Moving the whole prefix must keep the links working.
mv "$prefix" "$scratch/moved"
moved="$("$scratch/moved/bin/odx-outline" --count "$sample" 2>&1)"
if [ "$moved" != "$expected" ]; then
  fail "odx-outline of a moved prefix printed '$moved'"
fi
mv "$scratch/moved" "$prefix"

mime_xml="$prefix/share/mime/packages/odx-viewer.xml"
desktop="$prefix/share/applications/odx-viewer.desktop"
icon="$prefix/share/icons/hicolor/scalable/apps/odx-viewer.svg"

if [ ! -f "$mime_xml" ]; then
  fail "MIME package not installed at $mime_xml"
elif command -v xmllint >/dev/null; then
  xmllint --noout "$mime_xml" "$source_dir/packaging/odx-viewer.svg" ||
    fail "MIME package or icon is not well-formed XML"
else
  python3 -c 'import sys, xml.etree.ElementTree as E; [E.parse(f) for f in sys.argv[1:]]' \
    "$mime_xml" "$source_dir/packaging/odx-viewer.svg" ||
    fail "MIME package or icon is not well-formed XML"
fi

extensions=(odx odx-d odx-c odx-cs odx-v odx-f odx-e odx-m odx-fd)
for ext in "${extensions[@]}"; do
  grep -q "<glob pattern=\"\*\.$ext\"/>" "$mime_xml" 2>/dev/null ||
    fail "MIME package has no glob for *.$ext"
done

if [ "$gui" = ON ]; then
  [ -f "$icon" ] || fail "icon not installed at $icon"
  if [ ! -f "$desktop" ]; then
    fail "desktop entry not installed at $desktop"
  else
    if command -v desktop-file-validate >/dev/null; then
      desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $desktop"
    else
      skip "desktop-file-validate not installed (package desktop-file-utils)"
    fi
    # The entry must name what was installed beside it.
    exec_program="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")"
    [ -L "$prefix/bin/$exec_program" ] || fail "Exec=$exec_program is not installed in bin/"
    icon_name="$(sed -n 's/^Icon=//p' "$desktop")"
    [ "$icon_name.svg" = "$(basename "$icon")" ] || fail "Icon=$icon_name does not match $icon"
    for type in application/x-odx application/x-pdx; do
      grep -q "^MimeType=.*$type;" "$desktop" ||
        fail "desktop entry does not claim $type"
    done
    # Claiming XML would make the viewer the desktop's XML application, and
    # "View in XML Viewer..." would hand files back to it.
    grep -Eq '^MimeType=(.*;)?(application|text)/xml;' "$desktop" &&
      fail "desktop entry claims XML as a whole"
  fi
fi

# Compile the MIME database in the scratch prefix and ask GIO what each
# extension is; this exercises the package the way a file manager reads it.
if ! command -v update-mime-database >/dev/null; then
  skip "update-mime-database not installed (package shared-mime-info)"
elif ! update-mime-database "$prefix/share/mime" >"$scratch/mime.log" 2>&1; then
  cat "$scratch/mime.log" >&2
  fail "update-mime-database rejects the package"
else
  grep -qx 'application/x-odx application/xml' "$prefix/share/mime/subclasses" ||
    fail "application/x-odx is not a subclass of application/xml"
  grep -qx 'application/x-pdx application/zip' "$prefix/share/mime/subclasses" ||
    fail "application/x-pdx is not a subclass of application/zip"
  if ! command -v gio >/dev/null; then
    skip "gio not installed; file types not queried"
  else
    mkdir -p "$scratch/files"
    for ext in "${extensions[@]}"; do
      cp "$sample" "$scratch/files/sample.$ext"
      type="$(XDG_DATA_HOME="$scratch/nohome" XDG_DATA_DIRS="$prefix/share:/usr/share" \
        GIO_USE_VFS=local gio info -a standard::content-type "$scratch/files/sample.$ext" 2>/dev/null |
        sed -n 's/^ *standard::content-type: //p')"
      [ "$type" = application/x-odx ] || fail "sample.$ext is typed '$type', not application/x-odx"
    done
    cp "$source_dir/tests/data/packages/odxtools__somersault.pdx" "$scratch/files/delivery.pdx"
    type="$(XDG_DATA_HOME="$scratch/nohome" XDG_DATA_DIRS="$prefix/share:/usr/share" \
      GIO_USE_VFS=local gio info -a standard::content-type "$scratch/files/delivery.pdx" 2>/dev/null |
      sed -n 's/^ *standard::content-type: //p')"
    [ "$type" = application/x-pdx ] || fail "delivery.pdx is typed '$type', not application/x-pdx"
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures packaging check(s) failed" >&2
  exit 1
fi
echo "install layout under $prefix checked"
