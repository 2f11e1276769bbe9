#!/bin/sh
# Installs a build into a temporary prefix and checks the tree: every file the package ships is
# there, the desktop entry and the AppStream metadata validate, the icons have their sizes, the
# manual pages are gzipped, and the installed splitter runs and names the project's version.
#   check_install.sh BUILD_DIR VERSION APP_ID ICON_SIZE...
set -eu
build=$1 version=$2 id=$3
shift 3

prefix=$(mktemp -d "${TMPDIR:-/tmp}/vellisto-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

failed=0
fail() { echo "FAIL: $*"; failed=1; }

expect_file() {
    [ -f "$prefix/$1" ] || fail "missing $1"
}
expect_file bin/vellisto
expect_file bin/vellisto-split
[ -x "$prefix/bin/vellisto" ] && [ -x "$prefix/bin/vellisto-split" ] || fail "programs not executable"
for page in index connecting files level settings splitter desktop; do
    expect_file "share/vellisto/help/$page.md"
done
expect_file "share/applications/$id.desktop"
expect_file "share/metainfo/$id.metainfo.xml"
expect_file "share/icons/hicolor/scalable/apps/$id.svg"
expect_file share/man/man1/vellisto.1.gz
expect_file share/man/man1/vellisto-split.1.gz
expect_file share/doc/vellisto/copyright
expect_file share/doc/vellisto/changelog.gz
expect_file share/lintian/overrides/vellisto

# PNG width and height are the big-endian words at bytes 16 and 20.
for size in "$@"; do
    png="share/icons/hicolor/${size}x${size}/apps/$id.png"
    expect_file "$png"
    [ -f "$prefix/$png" ] || continue
    dims=$(od -An -tu1 -j16 -N8 "$prefix/$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
    [ "$dims" = "${size}x${size}" ] || fail "$png is $dims"
done

# Nothing but what is listed above (help pages may grow).
unexpected=$(cd "$prefix" && find . -type f | sed 's|^\./||' | grep -v \
    -e '^bin/vellisto$' -e '^bin/vellisto-split$' -e '^share/vellisto/help/' \
    -e "^share/applications/$id\.desktop\$" -e "^share/metainfo/$id\.metainfo\.xml\$" \
    -e "^share/icons/hicolor/[0-9]*x[0-9]*/apps/$id\.png\$" \
    -e "^share/icons/hicolor/scalable/apps/$id\.svg\$" \
    -e '^share/man/man1/vellisto\(-split\)\?\.1\.gz$' \
    -e '^share/doc/vellisto/copyright$' -e '^share/doc/vellisto/changelog\.gz$' \
    -e '^share/lintian/overrides/vellisto$' || true)
[ -z "$unexpected" ] || fail "unexpected files: $unexpected"

for page in vellisto vellisto-split; do
    gzip -t "$prefix/share/man/man1/$page.1.gz" || fail "$page.1.gz is not gzip"
    gzip -dc "$prefix/share/man/man1/$page.1.gz" | grep -q "^\.TH .*Vellisto $version" ||
        fail "$page.1 does not name version $version"
    gzip -dc "$prefix/share/man/man1/$page.1.gz" | grep -q '^\.TH [A-Z-]* 1 "[0-9]\{4\}-[0-9][0-9]-[0-9][0-9]"' ||
        fail "$page.1 carries no date"
done
grep -q "^Exec=vellisto$" "$prefix/share/applications/$id.desktop" || fail "Exec is not vellisto"
grep -q "^Categories=AudioVideo;Audio;Recorder;$" "$prefix/share/applications/$id.desktop" ||
    fail "Categories"
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/$id.metainfo.xml" ||
    fail "the AppStream release is not $version"

desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/$id.metainfo.xml" ||
    fail "appstreamcli validate"

out=$("$prefix/bin/vellisto-split" --version) || fail "vellisto-split --version failed"
[ "$out" = "vellisto-split $version" ] || fail "vellisto-split --version says '$out'"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/vellisto" --version) ||
    fail "vellisto --version failed"
[ "$out" = "vellisto $version" ] || fail "vellisto --version says '$out'"

[ "$failed" -eq 0 ] && echo "install tree complete: $(cd "$prefix" && find . -type f | wc -l) files"
exit "$failed"
