#!/usr/bin/env bash
# Rebuilds res/worldmap.png from the Natural Earth outlines of the npm package world-atlas
# 2.0.2 (public domain): fetches it with npm pack, checks its published integrity hash, builds
# the generator and runs it. Look at the result at full size and zoomed before committing it.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=${1:-$source_dir/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

integrity='sha512-IXfV0qwlKXpckz1FhwXVwKRjiIhOnWttOskm5CtxMsjgE/MXAYRHWJqgXOpM8IkcPBoXnyTU5lFHcYa5ChG0LQ=='
(cd "$work" && npm pack --silent world-atlas@2.0.2 >/dev/null)
actual="sha512-$(openssl dgst -sha512 -binary "$work/world-atlas-2.0.2.tgz" | base64 -w0)"
if [ "$actual" != "$integrity" ]; then
  echo "world-atlas-2.0.2.tgz: integrity $actual, expected $integrity" >&2
  exit 1
fi
tar -xzf "$work/world-atlas-2.0.2.tgz" -C "$work"

cmake -S "$source_dir" -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j2 --target quokka-mapgen
"$build_dir/tools/mapgen/quokka-mapgen" "$work/package/countries-50m.json" "$source_dir/res/worldmap.png"
