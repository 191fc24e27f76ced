#!/bin/bash
# The desktop's way to the camera, run inside a private D-Bus session
# (dbus-run-session) by gphoto_desktop_test: the gphoto2 volume monitor must
# show the camera, then gio mounts it, lists its folders, copies every photo
# out, removes one and copies a picture in. Each step's output goes to a
# file in OUT for the test to check; the first failing step ends the script
# with its name on stderr.
#
#   gvfs_session.sh OUT PICTURE_TO_COPY_IN REMOVE_NAME
#   gvfs_session.sh OUT --copy-only NAME    (mount, then copy NAME out; nothing else)
set -u
out=$1
picture=$2
remove=$3
step_timeout=60

step() {
    local name=$1
    shift
    if ! timeout "$step_timeout" "$@" </dev/null >"$out/$name.out" 2>"$out/$name.err"; then
        echo "step $name failed: $* ($(cat "$out/$name.err"))" >&2
        finish 1
    fi
}

finish() {
    [ -n "${root:-}" ] && timeout 20 gio mount -u "$root" >/dev/null 2>&1
    exit "$1"
}

# The volume monitor reports the camera once it has seen it on the bus.
root=""
for _ in $(seq 1 100); do
    timeout "$step_timeout" gio mount -li >"$out/volumes.out" 2>"$out/volumes.err"
    root=$(grep -o 'activation_root=gphoto2://[^ ]*' "$out/volumes.out" | head -n 1 |
        sed 's/^activation_root=//')
    [ -n "$root" ] && break
    sleep 0.1
done
if [ -z "$root" ]; then
    echo "step volumes failed: the volume monitor shows no camera" >&2
    finish 1
fi
echo "$root" >"$out/root.out"
root=${root%/}
folder="$root/DCIM/100ORVTA"

step mount gio mount "$root"
if [ "$picture" = --copy-only ]; then
    mkdir -p "$out/copies"
    step "copy-$remove" gio copy "$folder/$remove" "$out/copies/$remove"
    finish 0
fi
step list-root gio list "$root/"
step list-dcim gio list "$root/DCIM/"
step list-before gio list -l "$folder/"
mkdir -p "$out/copies"
while read -r name _; do
    step "copy-$name" gio copy "$folder/$name" "$out/copies/$name"
done <"$out/list-before.out"
step remove gio remove "$folder/$remove"
step copy-in gio copy "$picture" "$folder/"
step list-after gio list "$folder/"
finish 0
