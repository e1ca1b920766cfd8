#!/usr/bin/env bash
# desktop_files_test.sh: the files a desktop reads, as `cmake --install` puts them under a
# temporary prefix: the AppStream metadata (appstreamcli), the menu entry (desktop-file-validate)
# with its icons, the manual page (man, without warnings), and the manual's options against
# those --help prints. Each check is also run on a broken copy of its file, which it must refuse.
# Environment (set by CTest): QUOKKA_BUILD_DIR, QUOKKA_PROGRAM, QUOKKA_APP_ID.
set -euo pipefail

build=${QUOKKA_BUILD_DIR:?}
program=${QUOKKA_PROGRAM:?}
id=${QUOKKA_APP_ID:?}
failures=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The option names (-h, --help, ...) of the manual's OPTIONS section, as man shows it, and of
# --help, one a line, sorted.
manual_options() {
  LC_ALL=C.UTF-8 MANWIDTH=200 man -E UTF-8 -l "$1" 2>/dev/null |
    sed -n '/^OPTIONS$/,/^[A-Z]/p' | grep -oE '^ {7}-[^ ]+(, -[^ ]+)*' | grep -oE -- '-[-a-z0-9]+' | sort
}
help_options() {
  "$program" --help | grep -oE '^  -[^ ]+(, -[^ ]+)*' | grep -oE -- '-[-a-z0-9]+' | sort
}

# The checks: each takes one file and says nothing and returns 0 when the file is good.
check_metainfo() { appstreamcli validate --no-net "$1" >"$work/out" 2>&1 || { cat "$work/out"; return 1; }; }
check_launcher() {
  desktop-file-validate "$1" || return 1
  local icon
  icon=$(sed -n 's/^Icon=//p' "$1")
  [ "$icon" = "$id" ] || { echo "the entry shows the icon '$icon', not $id"; return 1; }
}
check_manual() {
  local warnings
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$1" 2>&1 >/dev/null) || return 1
  [ -z "$warnings" ] || { echo "$warnings"; return 1; }
}
# The options the bash completion offers after "-", as help_options lists them.
completion_options() {
  bash -c 'source "$1"; COMP_WORDS=(quokka-quokka -); COMP_CWORD=1; _quokka_quokka
           printf "%s\n" "${COMPREPLY[@]}"' _ "$1" | sort
}
check_completion() {
  diff <(completion_options "$1") <(help_options) >"$work/out" ||
    { echo "the completion (<) and --help (>) differ:"; cat "$work/out"; return 1; }
}
check_options() {
  local manual
  manual=$(manual_options "$1")
  [ -n "$manual" ] || { echo "the manual lists no options"; return 1; }
  diff <(echo "$manual") <(help_options) >"$work/out" || { echo "manual (<) and --help (>) differ:"; cat "$work/out"; return 1; }
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; exit 1; }
share="$prefix/share"
# The page is installed compressed; the checks read it as man does, the breaking copies are
# made from its text.
[ -f "$share/man/man1/quokka-quokka.1.gz" ] || fail "the manual page was not installed compressed"
manual="$work/quokka-quokka.1"
zcat "$share/man/man1/quokka-quokka.1.gz" >"$manual" 2>/dev/null || true

# check, installed file, and a sed script that breaks a copy of it.
rows=(
  "check_metainfo|$share/metainfo/$id.metainfo.xml|/<summary>/d"
  "check_launcher|$share/applications/$id.desktop|s/^Type=Application/Type=Program/"
  "check_launcher|$share/applications/$id.desktop|s/^Icon=.*/Icon=quokka-quokka/"
  "check_manual|$manual|s/^\\.SH OPTIONS/.SH OPTIONS\\n.XY/"
  "check_options|$manual|/^\\.B \\\\-\\\\-quit/,+1d"
  "check_completion|$share/bash-completion/completions/quokka-quokka|s/ --quit / /"
)
for row in "${rows[@]}"; do
  IFS='|' read -r check file breaking <<<"$row"
  if [ ! -f "$file" ]; then fail "$file was not installed"; continue; fi
  "$check" "$file" || fail "$check refuses the installed $file"
  sed -e "$breaking" "$file" >"$work/broken"
  ! cmp -s "$file" "$work/broken" || fail "$check: '$breaking' changes nothing in $file"
  ! "$check" "$work/broken" >/dev/null 2>&1 || fail "$check takes a copy of $file broken by '$breaking'"
done

# The metadata, the menu entry and the icons together, as a software centre reads them.
appstreamcli validate-tree --no-net "$prefix" >"$work/out" 2>&1 || { cat "$work/out"; fail "appstreamcli validate-tree refuses $prefix"; }

# The icons: each size the theme asks for, square at that size, and a vector drawing.
icons="$share/icons/hicolor"
for size in 16 22 24 32 48 64 128 256; do
  measured=$(identify -format '%wx%h' "$icons/${size}x${size}/apps/$id.png" 2>/dev/null || echo none)
  [ "$measured" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $measured"
done
svg="$icons/scalable/apps/$id.svg"
grep -q '<path ' "$svg" && ! grep -q '<image' "$svg" || fail "$svg is not a vector drawing"

[ "$failures" -eq 0 ] || exit 1
echo "metadata, menu entry, icons and manual page installed and valid; the manual lists --help's options:" $(help_options)
