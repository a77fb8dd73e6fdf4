#!/bin/bash
# The checks inside the test machine, run as root by tactalon-vm-check.service once the user
# manager of "tester" (uid 1000) is up. The launcher tool and systemctl run as that user against
# that manager. Each result goes to the serial console as a line "TACTALON-VM: ok NAME" or
# "TACTALON-VM: FAIL NAME: WHY", and a last line "TACTALON-VM: end passed=N failed=N".
set -u
payload=$(dirname "$(readlink -f "$0")")
bundle=/usr/lib/tactalon/TactalonPrefs.prefPane
agent=$bundle/Contents/MacOS/Tactalon
launchctl=$bundle/Contents/Helpers/launchctl
home=/home/tester
label=quillonworks.Tactalon
unit=$label.service
unit_file=$home/.config/systemd/user/$unit
passed=0
failed=0

ok() {
    echo "TACTALON-VM: ok $1"
    passed=$((passed + 1))
}
bad() {
    local name=$1
    shift
    echo "TACTALON-VM: FAIL $name: $(echo "$*" | tr '\n' ' ')"
    failed=$((failed + 1))
}
as_user() {
    runuser -u tester -- env HOME=$home XDG_RUNTIME_DIR=/run/user/1000 \
        DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1000/bus PATH=/usr/bin:/bin "$@"
}
user_systemctl() { as_user timeout 60 systemctl --user "$@"; }
property() { user_systemctl show --property="$1" --value "${2:-$unit}"; }
# Polls a command every half second until it succeeds or LIMIT seconds have passed.
wait_until() {
    local limit=$1
    shift
    local end=$((SECONDS + limit))
    until "$@"; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.5
    done
}
is_state() { [ "$(property ActiveState "${2:-$unit}")" = "$1" ]; }
main_pid() { property MainPID; }
condition_unmet() { [ "$(property ConditionResult)" = no ]; }
running_with_new_pid() {
    local pid
    pid=$(main_pid)
    is_state active && [ "$pid" != 0 ] && [ "$pid" != "$1" ]
}
environment_of() { tr '\0' '\n' <"/proc/$1/environ"; }
state_summary() {
    echo "$(property ActiveState)/$(property SubState) enabled=$(user_systemctl is-enabled $unit 2>&1)" \
        "pid=$(main_pid) result=$(property Result) condition=$(property ConditionResult)"
}

# A launch-agent property list: write_job FILE LABEL KEEPALIVE(true|false) PROGRAM [ARGUMENT...]
# Arguments are written as XML text: &, < and > escaped.
write_job() {
    local file=$1 job_label=$2 keep_alive=$3
    shift 3
    {
        echo '<?xml version="1.0" encoding="UTF-8"?>'
        echo '<plist version="1.0"><dict>'
        echo "<key>Label</key><string>$job_label</string>"
        echo "<key>KeepAlive</key><$keep_alive/>"
        echo '<key>ProgramArguments</key><array>'
        local word
        for word in "$@"; do
            printf '<string>%s</string>\n' "$(printf '%s' "$word" |
                sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g')"
        done
        echo '</array></dict></plist>'
    } >"$file"
    chown tester: "$file"
}
# load/unload as the user, from a session whose display is :7 unless told otherwise;
# standard error lands in $home/launchctl.err.
launchctl_as_user() {
    as_user env ${DISPLAY_FOR_LOAD-DISPLAY=:7} timeout 120 "$launchctl" "$@" 2>"$home/launchctl.err"
}

exec >/dev/ttyS0 2>&1
echo "TACTALON-VM: note checks start $(cut -d ' ' -f 1 /proc/uptime) s after boot"

# The bundle as a package installs it.
mkdir -p /usr/lib/tactalon
cp -a "$payload/TactalonPrefs.prefPane" /usr/lib/tactalon/
if ! wait_until 180 is_state active default.target; then
    bad user-manager "the user manager of tester did not come up: $(property ActiveState default.target)"
fi

# An agent that cannot post anywhere (no display, /dev/uinput not writable for the user) waits a
# little and exits non-zero, so that the manager's restart brings it back once the desktop is up.
start=$SECONDS
as_user env -u DISPLAY -u WAYLAND_DISPLAY timeout 25 "$agent" >"$home/agent.out" 2>&1
status=$?
if [ $status != 0 ] && [ $status != 124 ]; then
    ok "agent-gives-up-without-desktop (exit status $status after $((SECONDS - start)) s)"
else
    bad agent-gives-up-without-desktop "exit status $status (124: still running after 25 s):" \
        "$(tail -3 "$home/agent.out")"
fi

jobs_dir=$home/jobs
mkdir -p "$jobs_dir"
chown tester: "$jobs_dir"
kept=$jobs_dir/kept.plist
stopped=$jobs_dir/stopped.plist
missing=$jobs_dir/missing.plist
write_job "$kept" $label true "$agent"
write_job "$stopped" $label false "$agent"
write_job "$missing" $label true /usr/lib/tactalon/gone/Tactalon

# A program that is not there is refused, and no unit is written.
launchctl_as_user load "$missing"
status=$?
if [ $status != 0 ] && grep -q "does not exist" "$home/launchctl.err" && [ ! -e "$unit_file" ]; then
    ok load-refuses-missing-program
else
    bad load-refuses-missing-program "status $status, said: $(cat "$home/launchctl.err")"
fi

# Kept alive: enabled and started, with the display of the session it was loaded from, here
# before the desktop can be posted into (its display :7 has no server, uinput is not granted).
if launchctl_as_user load "$kept" && [ "$(user_systemctl is-enabled $unit)" = enabled ] &&
    [[ "$(property ActiveState)" = @(active|activating) ]]; then
    ok load-kept-alive-enables-and-starts
else
    bad load-kept-alive-enables-and-starts "$(state_summary); said: $(cat "$home/launchctl.err")"
fi
verify=$(as_user env XDG_RUNTIME_DIR=/run/user/1000 systemd-analyze --user verify --man=no \
    "$unit_file" 2>&1)
if [ $? = 0 ] && [ -z "$verify" ]; then
    ok unit-verifies-clean
else
    bad unit-verifies-clean "$verify"
fi

# The agent gives up and is started again every few seconds until the desktop lets it post
# (uinput granted, as a udev rule does at login), and then keeps running.
restarted_twice() { [ "$(property NRestarts)" -ge 2 ] 2>/dev/null; }
keeps_running() {
    local pid
    pid=$(main_pid)
    is_state active && sleep 8 && is_state active && [ "$pid" != 0 ] && [ "$(main_pid)" = "$pid" ]
}
if wait_until 60 restarted_twice; then
    modprobe uinput
    chown tester /dev/uinput
    if wait_until 60 keeps_running; then
        ok "agent-restarted-until-desktop-is-there ($(property NRestarts) restarts)"
    else
        bad agent-restarted-until-desktop-is-there "does not keep running: $(state_summary)"
    fi
else
    bad agent-restarted-until-desktop-is-there "not restarted twice: $(state_summary)"
    modprobe uinput
    chown tester /dev/uinput
fi

pid=$(main_pid)
if [ "$pid" != 0 ] && environment_of "$pid" | grep -qx "DISPLAY=:7"; then
    ok display-handed-over-at-load
else
    bad display-handed-over-at-load "pid $pid environment: $(environment_of "$pid" | tr '\n' ' ')"
fi
posts_through_uinput() { journalctl --quiet _PID="$1" | grep -q "go through uinput"; }
if wait_until 20 posts_through_uinput "$pid"; then
    ok agent-posts-through-uinput
else
    bad agent-posts-through-uinput "$(journalctl --quiet _PID="$pid" | tail -5)"
fi

# Killed: restarted after the restart delay, with what the session set in the meantime.
user_systemctl set-environment DISPLAY=:9
kill -KILL "$pid"
if wait_until 40 running_with_new_pid "$pid"; then
    ok restarted-after-kill
else
    bad restarted-after-kill "$(state_summary)"
fi
pid=$(main_pid)
if [ "$pid" != 0 ] && environment_of "$pid" | grep -qx "DISPLAY=:9"; then
    ok display-set-later-reaches-next-start
else
    bad display-set-later-reaches-next-start "pid $pid environment: $(environment_of "$pid" | tr '\n' ' ')"
fi

# The next login: the user manager starts anew and starts the enabled agent again.
systemctl restart user@1000.service
if wait_until 120 running_with_new_pid "$pid"; then
    ok started-again-by-new-manager
else
    bad started-again-by-new-manager "$(state_summary)"
fi

# "KeepAlive" false: registered, disabled and stopped, whether it was running or not.
for round in running stopped; do
    if launchctl_as_user load "$stopped" && wait_until 20 is_state inactive &&
        [ "$(user_systemctl is-enabled $unit)" = disabled ] && grep -qx "Restart=no" "$unit_file"; then
        ok "load-not-kept-alive-stops ($round)"
    else
        bad "load-not-kept-alive-stops ($round)" "$(state_summary); said: $(cat "$home/launchctl.err")"
    fi
done

# unload: stopped and disabled, the unit file left; a second unload does no harm.
launchctl_as_user load "$kept" && wait_until 30 is_state active
for round in running stopped; do
    if launchctl_as_user unload "$kept" && wait_until 20 is_state inactive &&
        [ "$(user_systemctl is-enabled $unit)" = disabled ] && [ -f "$unit_file" ]; then
        ok "unload ($round)"
    else
        bad "unload ($round)" "$(state_summary); said: $(cat "$home/launchctl.err")"
    fi
done

# The program removed (the package uninstalled) while it runs: after it ends, the unit stays
# inactive with its condition unmet instead of failing again and again.
launchctl_as_user load "$kept" && wait_until 30 is_state active
pid=$(main_pid)
mv "$agent" "$agent.removed"
kill -KILL "$pid"
wait_until 40 condition_unmet
restarts=$(property NRestarts)
sleep 12 # more than two restart delays
if is_state inactive && [ "$(property ConditionResult)" = no ] &&
    [ "$(property NRestarts)" = "$restarts" ]; then
    ok removed-program-stops-cleanly
else
    bad removed-program-stops-cleanly "$(state_summary) restarts $restarts then $(property NRestarts)"
fi
mv "$agent.removed" "$agent"
launchctl_as_user unload "$kept"

# A desktop that starts graphical-session.target (as GNOME and Plasma do) and hands its display
# to the manager first; the job loaded from inside it follows that target.
mkdir -p "$home/.config/systemd/user"
cat >"$home/.config/systemd/user/test-desktop.service" <<UNIT
[Unit]
BindsTo=graphical-session.target
Before=graphical-session.target

[Service]
Type=oneshot
RemainAfterExit=yes
ExecStart=/bin/systemctl --user set-environment DISPLAY=:12
ExecStop=/bin/systemctl --user unset-environment DISPLAY
UNIT
chown -R tester: "$home/.config"
user_systemctl daemon-reload
user_systemctl unset-environment DISPLAY
user_systemctl start test-desktop.service
if DISPLAY_FOR_LOAD='' launchctl_as_user load "$kept" && wait_until 30 is_state active &&
    grep -qx "WantedBy=graphical-session.target" "$unit_file" &&
    [ -L "$home/.config/systemd/user/graphical-session.target.wants/$unit" ] &&
    [ ! -e "$home/.config/systemd/user/default.target.wants/$unit" ]; then
    ok load-in-graphical-session-follows-it
else
    bad load-in-graphical-session-follows-it "$(state_summary); $(grep WantedBy "$unit_file")"
fi
systemctl restart user@1000.service
wait_until 120 is_state active default.target
sleep 3
if is_state inactive; then
    ok not-started-before-desktop
else
    bad not-started-before-desktop "$(state_summary)"
fi
user_systemctl start test-desktop.service
if wait_until 30 running_with_new_pid 0 && environment_of "$(main_pid)" | grep -qx "DISPLAY=:12"; then
    ok started-with-desktop-and-its-display
else
    bad started-with-desktop-and-its-display "$(state_summary); environment: $(environment_of "$(main_pid)" | tr '\n' ' ')"
fi
user_systemctl stop test-desktop.service
if wait_until 20 is_state inactive; then
    ok stopped-with-desktop
else
    bad stopped-with-desktop "$(state_summary)"
fi
launchctl_as_user unload "$kept"

# Arguments reach the program exactly as the job holds them, through systemd's own parsing,
# and so does a program path with a space, '%' and '$' in it.
writer_dir="$home/My 100% \$Apps"
mkdir -p "$writer_dir"
printf '#!/bin/bash\nprintf "%%s\\0" "$@" > %s/argv.out\n' "$home" >"$writer_dir/argv writer"
chmod +x "$writer_dir/argv writer"
chown -R tester: "$writer_dir"
arguments=('a b' '100%' '%h' '%%' '$HOME' '${HOME}' '$$' '"quoted"' "'single'" 'back\slash' '\n'
    'end\' ';' '' ' lead and trail ' 'tab	tab' 'é ü' '<&>')
write_job "$jobs_dir/argv.plist" test.argv false "$writer_dir/argv writer" "${arguments[@]}"
rm -f "$home/argv.out"
if launchctl_as_user load "$jobs_dir/argv.plist" && user_systemctl start test.argv.service &&
    wait_until 20 [ -s "$home/argv.out" ] && sleep 1 &&
    cmp -s "$home/argv.out" <(printf '%s\0' "${arguments[@]}"); then
    ok arguments-reach-program-exactly
else
    bad arguments-reach-program-exactly "got: $(tr '\0' '|' <"$home/argv.out" 2>&1); unit:" \
        "$(grep ExecStart "$home/.config/systemd/user/test.argv.service"); $(cat "$home/launchctl.err")"
fi

echo "TACTALON-VM: note checks end $(cut -d ' ' -f 1 /proc/uptime) s after boot"
echo "TACTALON-VM: end passed=$passed failed=$failed"
