#!/usr/bin/env bash
# vm_user_service: the launcher tool and the agent against a real systemd user manager. Boots
# Debian 12's own kernel in QEMU (software emulation) on a small Debian root image, cached under
# ${XDG_CACHE_HOME:-~/.cache}/tactalon-vm and keyed on its script and package list, with the
# freshly built bundle on a second disk; guest.sh checks inside and reports on the serial console.
#   run.sh BUILD_DIR    exit status 0 passed, 1 failed (with the machine's output), 77 skipped
set -euo pipefail
build=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
bundle=$build/TactalonPrefs.prefPane
cache=${XDG_CACHE_HOME:-$HOME/.cache}/tactalon-vm

skip() {
    echo "SKIP: $*"
    exit 77
}
fail() {
    echo "FAIL: $*"
    exit 1
}

for tool in qemu-system-x86_64 qemu-img mmdebstrap mke2fs; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/deps installs it)"
done
for program in MacOS/Tactalon Helpers/launchctl; do
    [ -x "$bundle/Contents/$program" ] || fail "no $program in the built bundle $bundle"
done

# The Debian packages that hold the shared libraries the built programs load (the bundle's own
# libTUIO aside, which travels with it).
runtime_packages() {
    local programs=("$bundle/Contents/MacOS/Tactalon" "$bundle/Contents/Helpers/launchctl"
        "$bundle/Contents/Frameworks/libTUIO.so")
    [ ! -x "$build/bin/tactalon-tuio" ] || programs+=("$build/bin/tactalon-tuio")
    local libraries names=() library
    mapfile -t libraries < <(ldd "${programs[@]}" | awk '$2 == "=>" && $3 ~ /^\// { print $3 }' |
        sort -u)
    # Merged /usr: dpkg knows each library under one of its two names, so both are asked (and
    # the names it does not know, the bundle's own among them, make it exit non-zero).
    for library in "${libraries[@]}"; do
        case $library in
        /usr/*) names+=("$library" "${library#/usr}") ;;
        *) names+=("$library" "/usr$library") ;;
        esac
    done
    { dpkg -S "${names[@]}" 2>/dev/null || true; } | cut -d: -f1 | sort -u
}

packages=$(runtime_packages | tr '\n' ' ')
[ -n "$packages" ] || skip "cannot tell the agent's runtime packages (no dpkg or ldd?)"
key=$({
    cat "$here/image.sh"
    echo "$packages"
} | sha256sum | cut -c1-16)
image=$cache/user-service-$key
mkdir -p "$cache"
exec 9>"$cache/user-service.lock"
flock --timeout 3600 9 || fail "another run kept $cache/user-service.lock for an hour"

if [ ! -f "$image/root.img" ]; then
    log=$cache/user-service-build.log
    echo "Building the test machine's image (once for this package list): $packages"
    started=$SECONDS
    if ! timeout 2400 "$here/image.sh" "$image" $packages >"$log" 2>&1; then
        tail -n 20 "$log"
        if grep -Eq "apt-get update .*failed|Failed to fetch|Temporary failure resolving|Unable to locate|Operation not permitted|unshare" "$log"; then
            skip "cannot build the Debian image: the Debian mirror or the privileges mmdebstrap needs cannot be had (log: $log)"
        fi
        fail "building the Debian image failed (log: $log)"
    fi
    echo "Image built in $((SECONDS - started)) s"
    for old in "$cache"/user-service-*/; do
        [ "${old%/}" = "$image" ] || rm -rf "$old"
    done
fi

run=$(mktemp -d)
trap 'rm -rf "$run"' EXIT
# The cached image stays as it is: the machine writes into an overlay.
qemu-img create -q -f qcow2 -b "$image/root.img" -F raw "$run/root.qcow2"
mkdir "$run/payload"
cp -a "$bundle" "$here/guest.sh" "$run/payload/"
mke2fs -q -t ext4 -d "$run/payload" "$run/payload.img" \
    "$(($(du -sm "$run/payload" | cut -f1) + 32))M" >/dev/null

started=$SECONDS
set +e
timeout --kill-after=10 1200 qemu-system-x86_64 -accel tcg -cpu max -smp 2 -m 1536 \
    -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 quiet panic=-1" \
    -drive "file=$run/root.qcow2,if=virtio,format=qcow2" \
    -drive "file=$run/payload.img,if=virtio,format=raw,readonly=on" \
    -vga std -display none -monitor none -nic none -no-reboot \
    -serial "file:$run/console.log" >"$run/qemu.log" 2>&1
qemu_status=$?
set -e
tr -d '\r' <"$run/console.log" >"$run/console.txt"
grep -a "TACTALON-VM:" "$run/console.txt" || true
echo "The machine ran for $((SECONDS - started)) s (QEMU exit status $qemu_status)"

if [ $qemu_status = 124 ] || [ $qemu_status = 137 ]; then
    outcome="the machine did not finish within 1200 s"
elif ! grep -aq "^TACTALON-VM: end passed=" "$run/console.txt"; then
    outcome="the checks did not run to their end"
elif grep -aq "^TACTALON-VM: FAIL" "$run/console.txt" ||
    ! grep -aq "^TACTALON-VM: end passed=[0-9]* failed=0$" "$run/console.txt"; then
    outcome="some checks failed"
else
    exit 0
fi
echo "----- the machine's serial console -----"
cat "$run/console.txt"
echo "----- QEMU -----"
cat "$run/qemu.log"
fail "$outcome"
