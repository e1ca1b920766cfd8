#!/usr/bin/env bash
# package_test.sh prefix|deb
#   prefix: `cmake --install` into a temporary prefix (with a space in it), then checks the
#           files, the menu entry and the installed program.
#   deb:    builds the Debian package with CPack, installs it with dpkg, runs the program from
#           /usr/bin, and removes the package again whatever happens. Needs root and the
#           geolocation table inside the program.
# Environment (set by CTest): QUOKKA_BUILD_DIR, QUOKKA_SOURCE_DIR, QUOKKA_PROGRAM (the program
# of the build tree), QUOKKA_TABLE_LINKED (1 when the table is inside it), QUOKKA_APP_ID (the
# desktop id: the menu entry's and the icons' name).
set -euo pipefail

mode=${1:?prefix or deb}
build=${QUOKKA_BUILD_DIR:?}
program=${QUOKKA_PROGRAM:?}
source=${QUOKKA_SOURCE_DIR:?}
package=quokka-quokka
app_id=${QUOKKA_APP_ID:?}

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }

# The installed program must say what the program of the build tree says, and find its files
# relative to itself: no install prefix of the build is compiled in.
check_program() {
  local installed=$1
  [ -x "$installed" ] || fail "$installed is not an executable file"
  # Qt's string literals are UTF-16: look for 8- and 16-bit text, in the bytes themselves (the
  # linked-in tables make a text-extracting pass over the file cost seconds).
  ! LC_ALL=C grep -q -a -F /usr/local "$installed" || fail "$installed holds a /usr/local path"
  ! LC_ALL=C grep -q -a -P '/\x00u\x00s\x00r\x00/\x00l\x00o\x00c\x00a\x00l\x00' "$installed" \
    || fail "$installed holds a /usr/local path in UTF-16"
  [ "$("$installed" --version)" = "$("$program" --version)" ] || fail "--version of $installed differs"
  local lookup expected
  lookup=$("$installed" --lookup 8.8.8.8 192.0.2.1)
  expected=$("$program" --lookup 8.8.8.8 192.0.2.1)
  echo "$lookup"
  [ "$lookup" = "$expected" ] || fail "--lookup of $installed printed something else than $program"
  if [ "${QUOKKA_TABLE_LINKED:-0}" = 1 ]; then
    grep -q $'^8\\.8\\.8\\.8\t8\\.8\\.8\\.0-8\\.8\\.8\\.255\tUS\tUnited States\t' <<<"$lookup" \
      || fail "the installed program does not place 8.8.8.8 in the United States"
  fi
}

# The menu entry (its Exec value must be EXEC_LINE), the icons, the manual page, the README and
# the data licence under the prefix ROOT (tests/package/desktop_files_test.sh validates them).
check_files() {
  local root=$1 exec_line=$2
  local entry="$root/share/applications/$app_id.desktop"
  [ -f "$entry" ] || fail "no menu entry $entry"
  desktop-file-validate "$entry" || fail "the menu entry does not validate"
  grep -qxF "Exec=$exec_line" "$entry" || fail "the menu entry does not start '$exec_line': $(grep ^Exec= "$entry")"
  grep -qx "Icon=$app_id" "$entry" || fail "the menu entry names another icon"
  [ -s "$root/share/icons/hicolor/48x48/apps/$app_id.png" ] && [ -s "$root/share/icons/hicolor/scalable/apps/$app_id.svg" ] \
    || fail "no icons in $root/share/icons/hicolor"
  local docs="$root/share/doc/$package"
  [ -s "$root/share/man/man1/$package.1.gz" ] || fail "no manual page in $root/share/man/man1"
  [ -s "$root/share/bash-completion/completions/$package" ] || fail "no bash completion in $root/share/bash-completion"
  [ -s "$docs/copyright" ] && [ -s "$docs/changelog.gz" ] || fail "no copyright file or changelog in $docs"
  [ -s "$docs/README.md" ] || fail "no README in $docs"
  grep -q "IP Geolocation by DB-IP" "$docs/LICENSE-DATA" || fail "the data licence lacks the attribution"
  grep -q "RouteViews" "$docs/LICENSE-DATA" && grep -q "https://www.nro.net" "$docs/LICENSE-DATA" \
    || fail "the data licence lacks the AS data's attributions"
  grep -q "CC BY 4.0" "$docs/LICENSE-DATA" && grep -q "https://creativecommons.org/licenses/by/4.0/" "$docs/LICENSE-DATA" \
    || fail "the data licence lacks the licence's name or address"
}

install_prefix() {
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  local prefix="$work/prefix with space"
  cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install failed"; }
  check_files "$prefix" "\"$prefix/bin/$package\""
  check_program "$prefix/bin/$package"
  local helper="$prefix/lib/$package/$package-probe"
  [ -x "$helper" ] || fail "no probe helper at $helper"
  if [ "$(id -u)" -eq 0 ]; then
    # Without its capability the helper cannot serve; the program says where it is and how to
    # give it one.
    chmod -R a+rX "$work"
    local said
    said=$(explore_as_nobody "$prefix/bin/$package")
    grep -qF "sudo setcap cap_net_raw+ep $helper)" <<<"$said" || fail "the program does not name its helper: $said"
  fi
  echo "installed into a prefix: program, menu entry, icons, manual page, README and data licence in place"
}

# explore_as_nobody PROGRAM: the report of PROGRAM run by nobody in a two-namespace network of
# its own (client 192.0.2.2 -- 192.0.2.1 target) where ping sockets are not allowed, exploring
# the target.
explore_as_nobody() {
  local program=$1 lab="qp$$" user
  ip netns add "$lab-client" && ip netns add "$lab-target" || fail "no network namespaces"
  ip -n "$lab-client" link add c0 type veth peer name t0 netns "$lab-target"
  ip -n "$lab-client" addr add 192.0.2.2/30 dev c0 && ip -n "$lab-target" addr add 192.0.2.1/30 dev t0
  ip -n "$lab-client" link set c0 up && ip -n "$lab-target" link set t0 up
  ip -n "$lab-client" link set lo up
  ip netns exec "$lab-client" sysctl -qw net.ipv4.ping_group_range="1 0"
  user=$(mktemp -d) && chown nobody:nogroup "$user"
  local as_nobody=(ip netns exec "$lab-client" setpriv --reuid=nobody --regid=nogroup --clear-groups
                   env HOME="$user" XDG_CONFIG_HOME="$user/config" XDG_DATA_HOME="$user/data" QT_QPA_PLATFORM=offscreen)
  "${as_nobody[@]}" "$program" --home 300,150
  "${as_nobody[@]}" timeout 60 "$program" --explore 192.0.2.1 --quit --report 2>/dev/null | grep '^trace'
  ip netns del "$lab-client"; ip netns del "$lab-target"; rm -rf "$user"
}

installed() { dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; }

# dpkg waits for no one: another package tool at work makes it fail at once, so try again.
dpkg_retry() {
  local attempt
  for attempt in $(seq 1 30); do
    if dpkg "$@" 2>"$work/dpkg.err"; then return 0; fi
    grep -q "lock" "$work/dpkg.err" || { cat "$work/dpkg.err" >&2; return 1; }
    sleep 2
  done
  cat "$work/dpkg.err" >&2
  return 1
}

remove_package() {
  if installed; then dpkg_retry --remove "$package" >/dev/null || echo "could not remove $package" >&2; fi
  rm -rf "$work"
}

install_deb() {
  [ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
  [ "${QUOKKA_TABLE_LINKED:-0}" = 1 ] || skip "the geolocation table is not linked into this build (QUOKKA_EMBED_GEO_TABLE=OFF)"
  command -v dpkg-shlibdeps >/dev/null || skip "dpkg-shlibdeps (dpkg-dev) is not installed"
  installed && skip "$package is already installed on this machine; it is left alone"
  work=$(mktemp -d)
  trap remove_package EXIT

  cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" || { cat "$work/cpack.log"; fail "cpack failed"; }
  local deb
  deb=$(find "$work" -maxdepth 1 -name "${package}_*.deb" | head -n 1)
  [ -n "$deb" ] || fail "cpack made no package"
  echo "package: $(basename "$deb"), $(du -m "$deb" | cut -f1) MB"
  local depends
  depends=$(dpkg-deb --field "$deb" Depends)
  echo "Depends: $depends"
  # Read whole first: grep -q ends at the match, and under pipefail the writer's broken pipe
  # would count as a failure.
  local description
  description=$(dpkg-deb --field "$deb" Description)
  grep -q "IP Geolocation by DB-IP" <<<"$description" \
    || fail "the package's description lacks the data's attribution"
  for needed in libc6 libqt6widgets6 libqt6core6 qt6-qpa-plugins fonts-liberation2 fonts-symbola; do
    grep -qE "(^|, )$needed( |,|$)" <<<"$depends" || fail "the package does not depend on $needed"
  done

  # lintian: neither errors nor warnings. Its spelling check of the binaries is left out: it
  # reads the 400 MB program for minutes, and the words it finds there are the built-in
  # tables' place and organisation names, spelt as their sources spell them.
  if command -v lintian >/dev/null; then
    lintian --tag-display-limit 0 --dont-check-part binaries/spelling "$deb" >"$work/lintian" 2>&1
    local complaints
    complaints=$(grep -E '^[EW]: ' "$work/lintian" || true)
    [ -z "$complaints" ] || fail "lintian: $complaints"
    echo "lintian: no errors, no warnings"
  else
    fail "lintian is not installed; tools/setup.sh test installs it"
  fi

  dpkg_retry --install "$deb" >/dev/null || fail "dpkg could not install the package"
  installed || fail "dpkg says the package is not installed"
  check_files /usr "/usr/bin/$package"
  check_program "/usr/bin/$package"
  local helper="/usr/lib/$package/$package-probe" route
  getcap "$helper" | grep -q "cap_net_raw=ep" || fail "the package did not give its helper cap_net_raw+ep: $(getcap "$helper")"
  route=$(explore_as_nobody "/usr/bin/$package")
  echo "$route"
  grep -q $'^trace\tHop 1 .*192\.0\.2\.1' <<<"$route" && grep -q $'^trace\tRoute Complete' <<<"$route" \
    || fail "the installed program does not trace as nobody through its helper"

  # Purged, the package leaves nothing: none of its files or folders, no record in dpkg.
  local files
  files=$(dpkg-query -L "$package")
  dpkg_retry --purge "$package" >/dev/null || fail "dpkg could not purge the package"
  dpkg-query -W "$package" >/dev/null 2>&1 && fail "dpkg still knows the package after the purge"
  local left="" folders=() shared=""
  while IFS= read -r path; do
    case $path in /.|/usr|/usr/bin|/usr/lib|/usr/share) continue ;; esac
    if [ -d "$path" ]; then folders+=("$path"); elif [ -e "$path" ]; then left+=" $path"; fi
  done <<<"$files"
  # Folders that other packages share (the icon theme's, man1, doc) stay; dpkg is asked about
  # them all at once ("pkg, pkg: /folder" for each one it knows).
  if [ ${#folders[@]} -gt 0 ]; then
    shared=$(dpkg-query -S "${folders[@]}" 2>/dev/null | sed 's/.*: //' || true)
  fi
  for path in "${folders[@]}"; do
    grep -qxF -- "$path" <<<"$shared" || left+=" $path"
  done
  [ -z "$left" ] || fail "left behind after the purge:$left"
  echo "installed with dpkg, ran from /usr/bin, purged: nothing left"
}

case $mode in
  prefix) install_prefix ;;
  deb) install_deb ;;
  *) fail "unknown mode $mode" ;;
esac
