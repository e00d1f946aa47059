#!/usr/bin/env bash
# Builds the Debian packages from a built tree (scripts/test.sh's build-tests/
# by default, nothing is rebuilt) and checks that the server package holds a
# working server, its unit, its configuration and a postinst that makes the
# service user. Exit status 1 and the reason when something is missing.
set -euo pipefail
build=$(cd "${1:-build-tests}" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

fail() { echo "check-package: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log" >&2; fail "cpack failed"; }
server=$(ls "$out"/storeserver_*.deb 2>/dev/null) || fail "no storeserver package made"
handhelds=$(ls "$out"/store-handhelds_*.deb 2>/dev/null) || fail "no store-handhelds package made"

contents=$(dpkg-deb -c "$server")
for path in ./usr/bin/storeserver ./usr/lib/systemd/system/storeserver.service \
  ./usr/lib/systemd/system/storeserver@.service ./etc/storeserver/storeserver.conf; do
  grep -q " $path\$" <<<"$contents" || fail "$path is not in the server package"
done
handheld_contents=$(dpkg-deb -c "$handhelds")
for program in sellin adoptra stipendo storescan; do
  grep -q " ./usr/bin/$program\$" <<<"$handheld_contents" || fail "$program is not in the handhelds package"
done

info=$(dpkg-deb -I "$server")
for dependency in adduser libsqlite3 libsodium libssl libicu; do
  grep -q "^ Depends:.*$dependency" <<<"$info" || fail "the server package does not depend on $dependency"
done
for package in "$server" "$handhelds"; do
  # Two blanks start a line that package tools show unwrapped, as verbatim text.
  ! dpkg-deb -f "$package" Description | sed 1d | grep -q "^  " ||
    fail "the long description of $(basename "$package") has lines that start with two blanks"
done
dpkg-deb -I "$server" postinst | grep -q "adduser --system" || fail "the postinst does not make the service user"
dpkg-deb -I "$server" postinst | grep -q "chmod 0640 /etc/storeserver/storeserver.conf" ||
  fail "the postinst leaves the configuration, which may hold the database's password, readable by every user"
dpkg-deb -I "$server" conffiles | grep -qx "/etc/storeserver/storeserver.conf" ||
  fail "the configuration is not a conffile: an upgrade would overwrite the store's settings"

root="$out/root"
dpkg-deb -x "$server" "$root"
unit="$root/usr/lib/systemd/system/storeserver.service"
grep -qx "User=storeserver" "$unit" || fail "the unit does not run as the storeserver user"
grep -qx "Restart=on-failure" "$unit" || fail "the unit does not restart on failure"
grep -qx "ExecStart=/usr/bin/storeserver --config /etc/storeserver/%i.conf" "${unit%.service}@.service" ||
  fail "the template unit does not read its instance's configuration"
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
[ -x "$root${exec_start%% *}" ] || fail "the unit starts ${exec_start%% *}, which the package does not hold"
if command -v systemd-analyze >/dev/null; then
  # A copy that starts the unpacked binary, as systemd checks that it exists.
  sed "s|^ExecStart=/|ExecStart=$root/|" "$unit" >"$out/storeserver.service"
  # It warns of unknown or misspelt settings and still exits 0: any word from it is a fault.
  report=$(systemd-analyze verify "$out/storeserver.service" 2>&1) && [ -z "$report" ] ||
    fail "systemd finds fault with the unit: $report"
fi

"$root/usr/bin/storeserver" --version | grep -q "^storeserver [0-9]" || fail "the packaged storeserver does not run"
# Reads the packaged configuration (a bad line exits with 2) and stops at the
# missing scratch database instead of touching /var/lib.
status=0
"$root/usr/bin/storeserver" backup "$out/copy.db" --config "$root/etc/storeserver/storeserver.conf" \
  --database "$out/none.db" >"$out/config.log" 2>&1 || status=$?
[ "$status" -eq 1 ] && grep -q "There is no database file" "$out/config.log" ||
  { cat "$out/config.log" >&2; fail "the packaged configuration is not accepted"; }
echo "check-package: $(basename "$server") and $(basename "$handhelds") are sound"
