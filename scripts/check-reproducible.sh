#!/usr/bin/env bash
# Reproducible release files: builds the release targets of the checked-out commit a second
# time, from a copy of it in another folder, and compares them with the first build
# (build/default and build/mingw): qxupdater.exe and qxupdater-cli.exe byte for byte, the
# Linux qxupdater and qxupdater-cli byte for byte, and the .deb package's contents (every
# file, its bytes, its mode; the control files). Both builds take SOURCE_DATE_EPOCH from the
# last commit (scripts/test.sh exports it for the first). Then the release files go to
# build/release with a SHA256SUMS. No compiler cache takes part in the second build.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
start=$(date +%s)
echo "== reproducible build: the release targets built again in another folder"

epoch=$(bash scripts/source-date.sh)
if [ "${SOURCE_DATE_EPOCH:-}" != "$epoch" ]; then
  echo "error: the first build needs SOURCE_DATE_EPOCH=$epoch (scripts/source-date.sh)" >&2
  exit 1
fi
unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
export CCACHE_DISABLE=1

native_targets=(qxupdater qxupdater-cli qxpack qxupdater_man_pages)
mingw_targets=(qxupdater qxupdater-cli)
first=$root/build
for f in default/qxupdater default/cli/qxupdater-cli mingw/qxupdater.exe mingw/cli/qxupdater-cli.exe; do
  [ -f "$first/$f" ] || { echo "error: build/$f is missing: build the release targets first" >&2; exit 1; }
done
cmake --build --preset default -j "$jobs" --target "${native_targets[@]}" >/dev/null
cmake --build --preset mingw -j "$jobs" --target "${mingw_targets[@]}" >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/qx-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
src=$work/elsewhere/qxupdater-src
mkdir -p "$src"
if git rev-parse --verify -q HEAD >/dev/null 2>&1; then
  git archive --format=tar HEAD | tar -x -C "$src"
else
  tar -c --exclude=./build --exclude=./.git . | tar -x -C "$src"
fi

# The first build's package (scripts/ci-deb.sh made it; made here when it did not run).
first_deb=$(ls "$first"/default/deb/qxupdater_*.deb 2>/dev/null | head -n 1 || true)
if [ -z "$first_deb" ]; then
  (cd "$first/default" && cpack -G DEB >/dev/null)
  first_deb=$(ls "$first"/default/deb/qxupdater_*.deb | head -n 1)
fi

# The second build: the same presets, only the release targets, no tests or benchmarks
# (they add targets, not flags).
(
  cd "$src"
  cmake --preset default -DQX_BUILD_TESTS=OFF -DQX_BUILD_BENCH=OFF >/dev/null
  cmake --build --preset default -j "$jobs" --target "${native_targets[@]}" >/dev/null
  (cd build/default && cpack -G DEB >/dev/null)
  cmake --preset mingw -DQX_BUILD_TESTS=OFF >/dev/null
  cmake --build --preset mingw -j "$jobs" --target "${mingw_targets[@]}" >/dev/null
)
second=$src/build
second_deb=$(ls "$second"/default/deb/qxupdater_*.deb | head -n 1)

status=0
for f in mingw/qxupdater.exe mingw/cli/qxupdater-cli.exe default/qxupdater default/cli/qxupdater-cli; do
  if cmp -s "$first/$f" "$second/$f"; then
    echo "identical: $f ($(stat -c %s "$first/$f") bytes)"
  else
    echo "DIFFERENT: $f ($(cmp "$first/$f" "$second/$f" | head -n 1))"
    status=1
  fi
done
if python3 "$root/scripts/deb-contents.py" "$first_deb" "$second_deb"; then
  echo "identical contents: $(basename "$first_deb")"
else
  status=1
fi
[ "$status" -eq 0 ] || { echo "error: the second build differs" >&2; exit 1; }

# The release files and their checksums.
release=$first/release
rm -rf "$release"
mkdir -p "$release"
cp "$first/mingw/qxupdater.exe" "$first/mingw/cli/qxupdater-cli.exe" "$release/"
cp "$first/default/qxupdater" "$first/default/cli/qxupdater-cli" "$first_deb" "$release/"
(cd "$release" && sha256sum -- * > SHA256SUMS && sha256sum --quiet -c SHA256SUMS)
echo "build/release/SHA256SUMS:"
sed 's/^/  /' "$release/SHA256SUMS"
echo "Reproducibility stage: $(( $(date +%s) - start )) s"
