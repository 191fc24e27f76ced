#!/usr/bin/env bash
# The Debian packages: built by scripts/package, which leaves others' files
# alone; lintian --pedantic without errors or warnings on the packages and on
# the source package; each package holding what it is for.
#   debian_packages_test.sh SOURCE_DIR WORK_DIR
set -uo pipefail
source_dir="$1"
work="$2"
rm -rf "$work"
mkdir -p "$work"

failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

# Files of others in the folder: scripts/package must leave them alone.
mkdir -p "$work/build"
for other in someone-else_1.0_all.deb someone-else_1.0_amd64.changes \
    someone-else_1.0_amd64.buildinfo build/keep.deb; do
    echo "not ours" >"$work/$other"
done
if ! QUORBIT_SKIP_BOOTSTRAP=1 bash "$source_dir/scripts/package" "$work" >"$work/package.log" 2>&1; then
    cat "$work/package.log"
    echo "FAIL: scripts/package"
    exit 1
fi
grep -q "the packages are in $work" "$work/package.log" || fail "scripts/package does not say where"
case " ${DEB_BUILD_OPTIONS-nocheck} " in
    *" nocheck "*) ;;
    *) grep -q "quick tests: 100% tests passed" "$work/package.log" ||
        fail "the quick tests did not run in the package build" ;;
esac
for other in someone-else_1.0_all.deb someone-else_1.0_amd64.changes \
    someone-else_1.0_amd64.buildinfo build/keep.deb; do
    [ "$(cat "$work/$other" 2>/dev/null)" = "not ours" ] || fail "scripts/package touched $other"
done
unexpected="$(cd "$work" && ls -1 | grep -v -e '^someone-else_' -e '^build$' -e '^package.log$' \
    -e '^\(libquorbit1\|libquorbit-dev\|quorbit-tools\|lensmere\|libgphoto2-quorbit\|quorbit-udev\)\(-dbgsym\)\?_.*\.deb$' \
    -e '^quorbit_.*\.\(changes\|buildinfo\)$' || true)"
[ -z "$unexpected" ] || fail "scripts/package left more in the folder: $unexpected"
rm -f "$work"/someone-else_*

changes="$(ls "$work"/*.changes)"
lintian --pedantic --fail-on error,warning --tag-display-limit 0 "$changes" >"$work/lintian.log" 2>&1 ||
    fail "lintian reports errors or warnings: $(grep '^[EW]:' "$work/lintian.log")"
grep '^[EWIP]:' "$work/lintian.log"

# The source package as an upload would carry it: the files git knows.
mkdir -p "$work/source/quorbit-src"
git -C "$source_dir" ls-files -z --cached --others --exclude-standard |
    (cd "$source_dir" && xargs -0 tar -cf - --no-recursion) | tar -xf - -C "$work/source/quorbit-src"
(cd "$work/source/quorbit-src" && dpkg-source -b . >"$work/source/dpkg-source.log" 2>&1) ||
    fail "dpkg-source: $(tail -n 5 "$work/source/dpkg-source.log")"
dsc="$(ls "$work"/source/*.dsc 2>/dev/null | head -n 1)"
if [ -n "$dsc" ]; then
    lintian --pedantic --fail-on error,warning --tag-display-limit 0 "$dsc" >"$work/lintian-source.log" 2>&1 ||
        fail "lintian reports errors or warnings on the source: $(grep '^[EW]:' "$work/lintian-source.log")"
    grep '^[EWIP]:' "$work/lintian-source.log"
fi

deb() { ls "$work/$1"_*.deb 2>/dev/null | head -n 1; }
# holds PACKAGE PATH...: each path is in the package (a shell pattern).
holds() {
    local package="$1"
    shift
    local file
    file="$(deb "$package")"
    if [ -z "$file" ]; then
        fail "no package $package"
        return
    fi
    local listing
    listing="$(dpkg-deb -c "$file" | awk '{ print $6 $7 $8 }')"
    echo "== $package:"
    echo "$listing" | grep -v '/$'
    local path
    for path in "$@"; do
        # shellcheck disable=SC2053
        if ! echo "$listing" | grep -q -- "^\./$path"; then
            fail "$package lacks $path"
        fi
    done
}

multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
holds libquorbit1 "usr/lib/$multiarch/libquorbit.so.1.0.0" \
    "usr/lib/$multiarch/libquorbit.so.1->libquorbit.so.1.0.0"
holds libquorbit-dev usr/include/quorbit.h "usr/lib/$multiarch/libquorbit.so->libquorbit.so.1" \
    "usr/lib/$multiarch/pkgconfig/quorbit.pc"
holds quorbit-tools usr/bin/quorbit-cli usr/bin/camsim usr/share/man/man1/quorbit-cli.1.gz \
    usr/share/man/man1/camsim.1.gz usr/share/bash-completion/completions/quorbit-cli \
    usr/share/bash-completion/completions/camsim
holds lensmere usr/bin/lensmere usr/share/applications/org.quorbit.Lensmere.desktop \
    usr/share/metainfo/org.quorbit.Lensmere.metainfo.xml usr/share/man/man1/lensmere.1.gz \
    usr/share/icons/hicolor/scalable/apps/lensmere.svg
gphoto_dir="$(pkg-config --variable=driverdir libgphoto2)"
gphoto_version="$(pkg-config --modversion libgphoto2)"
holds libgphoto2-quorbit "${gphoto_dir#/}/quorbit.so" lib/udev/rules.d/70-quorbit-gphoto2.rules
holds quorbit-udev lib/udev/rules.d/70-quorbit-camera.rules

depends="$(dpkg-deb -f "$(deb libgphoto2-quorbit)" Depends)"
case "$depends" in
    *"libgphoto2-6 (>= $gphoto_version), libgphoto2-6 (<< $gphoto_version.~)"*) ;;
    *) fail "the driver does not depend on libgphoto2 $gphoto_version: $depends" ;;
esac
depends="$(dpkg-deb -f "$(deb quorbit-tools)" Depends)"
case "$depends" in
    *libquorbit1*) ;;
    *) fail "quorbit-tools does not depend on the library it loads: $depends" ;;
esac

# The packaged library is the versioned one.
mkdir -p "$work/unpacked"
dpkg-deb -x "$(deb libquorbit1)" "$work/unpacked"
readelf -d "$work/unpacked/usr/lib/$multiarch/libquorbit.so.1.0.0" | grep -q 'SONAME.*\[libquorbit\.so\.1\]' ||
    fail "the packaged library's SONAME is not libquorbit.so.1"
exit $failed
