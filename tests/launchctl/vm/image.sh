#!/usr/bin/env bash
# Builds the root file system of the test machine: Debian 12 (minbase) with systemd as PID 1,
# a user "tester" (uid 1000) whose manager starts at boot (lingering), and a system service that
# runs the checks from the second disk once that manager is up, then powers the machine off.
#   image.sh OUT_DIR PACKAGE...   writes OUT_DIR/root.img, OUT_DIR/vmlinuz, OUT_DIR/initrd.img
set -euo pipefail
out=$1
shift
extra=$(IFS=,; echo "$*")
work=$(mktemp -d "$out.XXXXXX")
trap 'rm -rf "$work"' EXIT

mmdebstrap --variant=minbase \
    --include="systemd,systemd-sysv,dbus-user-session,libpam-systemd,udev,kmod,linux-image-amd64${extra:+,$extra}" \
    --customize-hook='chroot "$1" useradd --create-home --uid 1000 --shell /bin/bash tester' \
    --customize-hook='mkdir -p "$1/var/lib/systemd/linger" && touch "$1/var/lib/systemd/linger/tester"' \
    --customize-hook='echo tactalon-vm > "$1/etc/hostname"' \
    --customize-hook='ln -sf /dev/null "$1/etc/systemd/system/serial-getty@ttyS0.service"' \
    --customize-hook='cat > "$1/etc/systemd/system/tactalon-vm-check.service" <<UNIT
[Unit]
Description=Tactalon checks against the user manager of tester
Wants=user@1000.service
After=user@1000.service systemd-user-sessions.service
SuccessAction=poweroff-force
FailureAction=poweroff-force

[Service]
Type=oneshot
ExecStart=/bin/sh -c "mkdir -p /mnt/payload && mount -o ro /dev/vdb /mnt/payload && exec /mnt/payload/guest.sh"
StandardOutput=tty
StandardError=tty
TTYPath=/dev/ttyS0
TimeoutStartSec=900

[Install]
WantedBy=multi-user.target
UNIT' \
    --customize-hook='ln -s /etc/systemd/system/tactalon-vm-check.service "$1/etc/systemd/system/multi-user.target.wants/"' \
    bookworm "$work/root"

cp "$work"/root/boot/vmlinuz-* "$work/vmlinuz"
cp "$work"/root/boot/initrd.img-* "$work/initrd.img"
rm -rf "$work"/root/boot/initrd.img-* "$work"/root/var/cache/apt/archives/*.deb
# Room for the units, logs and the copied bundle the checks write.
size_mb=$(($(du -sm "$work/root" | cut -f1) + 256))
mke2fs -q -t ext4 -L root -d "$work/root" "$work/root.img" "${size_mb}M"
rm -rf "$work/root"
mkdir -p "$out"
mv "$work/root.img" "$work/vmlinuz" "$work/initrd.img" "$out/"
