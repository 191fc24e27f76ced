#!/usr/bin/env bash
# One release date: the newest changelog entry's and the version's release in
# every AppStream metainfo file agree.
#   release_date_test.sh SOURCE_DIR
set -euo pipefail
source_dir="$1"
version="$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)"
date="$(date -u -d "$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Date)" +%Y-%m-%d)"
failed=0
for metainfo in "$source_dir"/packaging/*.metainfo.xml; do
    if ! grep -q "<release version=\"$version\" date=\"$date\"" "$metainfo"; then
        echo "FAIL: $(basename "$metainfo") has no release $version of $date (debian/changelog)"
        grep '<release ' "$metainfo" || true
        failed=1
    fi
done
exit $failed
