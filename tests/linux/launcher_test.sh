#!/usr/bin/env bash
# The menu launcher and its root-side helper, laid out in a fresh temporary folder as they
# are installed, with stand-ins for pkexec, id and the program:
#   - a cancelled authentication ends with a message on stderr and exit code 126, a refused
#     one with 127;
#   - an accepted one starts the program with only the display, its authority, the Wayland
#     socket (as an absolute path) and the locale;
#   - the helper refuses any argument but an absolute WAYLAND_DISPLAY.
# Arguments: the folder of the configured scripts, the helper's path relative to the bin
# folder, the program's path relative to the helper's folder.
set -euo pipefail
scripts=${1:?folder of qxupdater-launch and qxupdater-root}
helper_rel=${2:?helper path from bin}
program_rel=${3:?program path from the helper}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/bin" "$tmp/fake"
install -m 755 "$scripts/qxupdater-launch" "$tmp/bin/qxupdater-launch"
helper="$tmp/bin/$helper_rel"
mkdir -p "$(dirname "$helper")"
install -m 755 "$scripts/qxupdater-root" "$helper"
program="$(dirname "$helper")/$program_rel"

# The program: writes its environment and arguments.
cat > "$program" <<EOF
#!/bin/sh
env | sort > "$tmp/program-env"
echo "\$#" > "$tmp/program-args"
EOF
chmod 755 "$program"

# pkexec: answers FAKE_PKEXEC_STATUS, or runs the helper with the environment pkexec keeps
# for an action that allows a GUI.
cat > "$tmp/fake/pkexec" <<EOF
#!/bin/sh
printf '%s\n' "\$@" > "$tmp/pkexec-args"
if [ -n "\${FAKE_PKEXEC_STATUS:-}" ]; then exit "\$FAKE_PKEXEC_STATUS"; fi
exec env -i DISPLAY="\${DISPLAY:-}" XAUTHORITY="\${XAUTHORITY:-}" LANG="\${LANG:-}" "\$@"
EOF
# id: an ordinary user, whoever runs the test.
cat > "$tmp/fake/id" <<'EOF'
#!/bin/sh
echo 1000
EOF
chmod 755 "$tmp/fake/pkexec" "$tmp/fake/id"

passed=0
failed=0
check() {
  if eval "$2"; then
    passed=$((passed + 1))
  else
    echo "FAILED: $1" >&2
    failed=$((failed + 1))
  fi
}

launch() {
  env -i PATH="$tmp/fake:/usr/bin:/bin" HOME="$tmp" DISPLAY=:7 XAUTHORITY=/tmp/xauth-test \
    LANG=de_DE.UTF-8 WAYLAND_DISPLAY=wayland-3 XDG_RUNTIME_DIR=/run/user/1000 \
    SECRET_TOKEN=do-not-pass LD_PRELOAD= "$@" "$tmp/bin/qxupdater-launch"
}

# Cancelled and refused authentication.
set +e
launch FAKE_PKEXEC_STATUS=126 2> "$tmp/stderr"
status=$?
set -e
check "cancel gives 126" '[ "$status" = 126 ]'
check "cancel explains itself" 'grep -q "authentication was cancelled" "$tmp/stderr"'
check "pkexec starts the installed helper" \
  '[ "$(head -n1 "$tmp/pkexec-args")" = "$(readlink -f "$helper")" ]'
check "the Wayland socket goes as an absolute path" \
  '[ "$(sed -n 2p "$tmp/pkexec-args")" = "WAYLAND_DISPLAY=/run/user/1000/wayland-3" ]'

set +e
launch FAKE_PKEXEC_STATUS=127 2> "$tmp/stderr"
status=$?
set -e
check "refusal gives 127" '[ "$status" = 127 ]'
check "refusal explains itself" 'grep -q "refused" "$tmp/stderr"'

# Accepted: the program runs with only what its window needs.
rm -f "$tmp/program-env"
launch 2> "$tmp/stderr"
check "program started" '[ -f "$tmp/program-env" ]'
check "display passed" 'grep -qx "DISPLAY=:7" "$tmp/program-env"'
check "X authority passed" 'grep -qx "XAUTHORITY=/tmp/xauth-test" "$tmp/program-env"'
check "locale passed" 'grep -qx "LANG=de_DE.UTF-8" "$tmp/program-env"'
check "Wayland socket passed" 'grep -qx "WAYLAND_DISPLAY=/run/user/1000/wayland-3" "$tmp/program-env"'
check "nothing else passed" '! grep -q "SECRET_TOKEN\|XDG_RUNTIME_DIR\|LD_PRELOAD" "$tmp/program-env"'
check "no arguments for the program" '[ "$(cat "$tmp/program-args")" = 0 ]'

# The helper itself clears the environment it was given.
rm -f "$tmp/program-env"
env SECRET_TOKEN=do-not-pass DISPLAY=:9 LC_ALL=C.UTF-8 "$helper"
check "helper keeps the display and locale" \
  'grep -qx "DISPLAY=:9" "$tmp/program-env" && grep -qx "LC_ALL=C.UTF-8" "$tmp/program-env"'
check "helper drops the rest" '! grep -q "SECRET_TOKEN" "$tmp/program-env"'

# The helper takes nothing but the Wayland socket.
set +e
"$helper" LD_PRELOAD=/tmp/evil.so 2> "$tmp/stderr"
status=$?
"$helper" WAYLAND_DISPLAY=relative 2>> "$tmp/stderr"
status2=$?
set -e
check "helper refuses other settings" '[ "$status" = 2 ] && [ "$status2" = 2 ]'
check "helper names the refused argument" 'grep -q "refused argument: LD_PRELOAD=/tmp/evil.so" "$tmp/stderr"'

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
