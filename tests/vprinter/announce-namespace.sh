#!/bin/sh
# Usage: unshare --net --mount announce-namespace.sh WORK PRINTER [PRINTER-ARGUMENTS...]
# Inside a private network and mount namespace (only lo and an interface of its own: a dummy,
# whose packets go nowhere, or a pair of veth ends that only reach each other): starts a private system bus and avahi daemon, runs the printer with the given
# arguments, and prints what avahi-browse finds for _pdl-datastream._tcp after the line
# "browse:". Exit status 77 when the namespace cannot be set up.
set -u
work=$1
shift
cannot() { echo "cannot set up the namespace: $*"; exit 77; }

ip link set lo up || cannot "ip link set lo up"
if ip link add nvlogo0 type dummy 2>/dev/null; then
    ip link set nvlogo0 multicast on up || cannot "dummy interface not up"
else
    ip link add nvlogo0 type veth peer name nvlogo1 || cannot "neither dummy nor veth interfaces"
    ip link set nvlogo1 up && ip link set nvlogo0 up || cannot "veth interfaces not up"
fi
# A documentation address (TEST-NET-1), on an interface that exists only in this namespace.
ip addr add 192.0.2.1/24 dev nvlogo0 || cannot "no address"
# Private /run: the bus and the daemon keep their sockets and pid files there.
mount -t tmpfs nvlogo-run /run || cannot "cannot mount a private /run"
mkdir -p /run/dbus /run/avahi-daemon

cat > "$work/bus.conf" <<'CONF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
cat > "$work/avahi.conf" <<'CONF'
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=nvlogo0
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF

# Both run as children of this shell, which ends them and waits for them whatever happens.
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile &
bus=$!
avahi=
cleanup() {
    [ -n "$avahi" ] && kill "$avahi" 2>/dev/null && wait "$avahi"
    kill "$bus" 2>/dev/null && wait "$bus"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM PIPE
for i in $(seq 1 50); do
    [ -S /run/dbus/system_bus_socket ] && break
    sleep 0.1
done
[ -S /run/dbus/system_bus_socket ] || cannot "dbus-daemon did not start"
avahi-daemon --no-drop-root --no-chroot --no-rlimits -f "$work/avahi.conf" \
    > "$work/avahi.log" 2>&1 &
avahi=$!
for i in $(seq 1 50); do
    avahi-daemon --check 2>/dev/null && break
    sleep 0.1
done
avahi-daemon --check 2>/dev/null || cannot "avahi-daemon did not start: $(cat "$work/avahi.log")"

"$@" > "$work/printer.log" 2>&1 &
printer=$!
for i in $(seq 1 100); do
    grep -q '^nvlogo-printer: announced\|--announce:' "$work/printer.log" && break
    sleep 0.1
done
echo "browse:"
timeout 10 avahi-browse --resolve --parsable --terminate --no-db-lookup _pdl-datastream._tcp
kill "$printer"
wait "$printer"
echo "printer exit: $?"
echo "log:"
cat "$work/printer.log"
exit 0
