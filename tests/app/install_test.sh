#!/bin/sh
# make install, staged with DESTDIR: every file lands where the README says, the installed
# programs run, the manual pages format cleanly and document every option of quorvik --help and
# every subcommand of quorvik-tool, the desktop entry is valid, make passes PREFIX and DESTDIR on,
# and the manifest removes every file again.
# Usage: install_test.sh SOURCE_DIR BUILD_DIR
set -u
SRC=$1
BUILD=$2
STAGE=$(mktemp -d "${TMPDIR:-/tmp}/quorvik-install-XXXXXX")
trap 'rm -rf "$STAGE"' EXIT
failures=0
checks=0
check() {  # check DESCRIPTION COMMAND...
    what=$1
    shift
    checks=$((checks + 1))
    if ! "$@" > "$STAGE/out" 2>&1; then
        failures=$((failures + 1))
        echo "FAIL: $what"
        sed 's/^/    /' "$STAGE/out"
    fi
}
PREFIX=/usr/local
ROOT=$STAGE/root
MANIFEST=$STAGE/manifest.txt
FILES="bin/quorvik bin/quorvik-tool share/man/man1/quorvik.1 share/man/man1/quorvik-tool.1
share/applications/quorvik.desktop"

if ! DESTDIR=$ROOT "$SRC/scripts/install.sh" "$BUILD" "$PREFIX" "$MANIFEST" > "$STAGE/install.log" 2>&1; then
    cat "$STAGE/install.log"
    echo "FAIL: scripts/install.sh"
    exit 1
fi

for f in $FILES; do
    check "$PREFIX/$f is installed" test -f "$ROOT$PREFIX/$f"
    check "the README names $PREFIX/$f" grep -qF "$PREFIX/$f" "$SRC/README.md"
    check "the manifest lists $f" grep -qxF "$ROOT$PREFIX/$f" "$MANIFEST"
done
check "only those files are installed" test "$(find "$ROOT" -type f | wc -l)" -eq 5
check "the manifest lists only those" test "$(wc -l < "$MANIFEST")" -eq 5
check "the installed viewer runs" sh -c "'$ROOT$PREFIX/bin/quorvik' --version | grep -q '^quorvik [0-9]'"
check "the installed tool runs" sh -c "'$ROOT$PREFIX/bin/quorvik-tool' --version | grep -q '^quorvik-tool [0-9]'"

# The manual pages: no formatter warnings; wide lines without hyphenation for the searches.
man_text() {
    groff -man -Tascii -rLL=1000n -rHY=0 "$ROOT$PREFIX/share/man/man1/$1.1" 2>/dev/null | col -b
}
for page in quorvik quorvik-tool; do
    check "$page.1 formats without warnings" sh -c \
        "test -z \"\$(groff -man -Tascii -ww -z '$ROOT$PREFIX/share/man/man1/$page.1' 2>&1)\""
done
version=$("$BUILD/quorvik" --version | cut -d' ' -f2)
for page in quorvik quorvik-tool; do
    check "$page.1 carries version $version" \
        grep -qF "\"QUORVIK $version\"" "$ROOT$PREFIX/share/man/man1/$page.1"
done
man_text quorvik > "$STAGE/quorvik.txt"
for option in $("$BUILD/quorvik" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    check "quorvik.1 documents $option" grep -qE -- "(^|[^a-z-])$option([^a-z-]|\$)" "$STAGE/quorvik.txt"
done
for key in F11 F12 Home wheel "left drag" "EXIT STATUS"; do
    check "quorvik.1 tells of $key" grep -qF "$key" "$STAGE/quorvik.txt"
done
man_text quorvik-tool > "$STAGE/quorvik-tool.txt"
subcommands=$("$BUILD/quorvik-tool" --help | awk '/^Subcommands:/ { on = 1; next } on && NF { print $1 }')
check "quorvik-tool --help lists subcommands" test -n "$subcommands"
for sub in $subcommands; do
    check "quorvik-tool.1 documents $sub" grep -qE "^ +$sub( |$)" "$STAGE/quorvik-tool.txt"
done

if command -v desktop-file-validate > /dev/null; then
    check "quorvik.desktop is valid" desktop-file-validate "$ROOT$PREFIX/share/applications/quorvik.desktop"
else
    echo "desktop-file-validate is not installed (scripts/install-deps.sh installs it): not checked"
fi

# make install hands PREFIX and DESTDIR to the same script.
check "make install passes PREFIX and DESTDIR on" sh -c \
    "make -n -C '$SRC' install PREFIX=/opt/q DESTDIR=/tmp/staged BUILD='$BUILD' |
     grep -qF 'DESTDIR=\"/tmp/staged\" scripts/install.sh $BUILD \"/opt/q\"'"

"$SRC/scripts/uninstall.sh" "$MANIFEST" > "$STAGE/uninstall.log" 2>&1
check "uninstall removes every installed file" test -z "$(find "$ROOT" -type f)"
check "uninstall removes its manifest" test ! -e "$MANIFEST"

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
