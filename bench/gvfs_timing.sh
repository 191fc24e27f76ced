#!/bin/bash
# Run by gphoto_gio_copy inside a private D-Bus session: mounts the camera
# through gvfs, then times a listing of the photo folder with its file
# details (GNOME Files' view of a folder) and one `gio copy` of every photo
# into OUT. Prints "list SECONDS" and "copy SECONDS PHOTOS".
#
#   gvfs_timing.sh OUT
set -eu
out=$1
root=""
for _ in $(seq 1 100); do
    root=$(gio mount -li 2>/dev/null | grep -o 'activation_root=gphoto2://[^ ]*' | head -n 1 |
        sed 's/^activation_root=//')
    [ -n "$root" ] && break
    sleep 0.1
done
[ -n "$root" ] || { echo "no camera in the volume monitor" >&2; exit 1; }
root=${root%/}
folder="$root/DCIM/100ORVTA"
timeout 60 gio mount "$root"
start=$(date +%s.%N)
timeout 120 gio list -a standard::size,time::modified "$folder/" >"$out/list.txt"
end=$(date +%s.%N)
echo "list $(awk "BEGIN { print $end - $start }")"
names=()
while read -r name _; do names+=("$folder/$name"); done <"$out/list.txt"
start=$(date +%s.%N)
timeout 600 gio copy "${names[@]}" "$out/"
end=$(date +%s.%N)
echo "copy $(awk "BEGIN { print $end - $start }") ${#names[@]}"
timeout 20 gio mount -u "$root" || true
