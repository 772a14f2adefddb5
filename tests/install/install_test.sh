#!/usr/bin/env bash
# scripts/install against a temporary HOME: registration through a stand-in vrpathreg (one
# that records its arguments) and, without one, through openvrpaths.vrpath; then uninstall.
#   install_test.sh SCRIPT PREFIX BUILD_DIR
# PREFIX holds an installed driver folder (PREFIX/quenlark_k7); BUILD_DIR is a built tree.
set -uo pipefail

script=$1
prefix=${QUENLARK_PREFIX:-$2}
build_dir=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/quenlark-install-test.XXXXXX")
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
case_name=
case_failed=0

fail() {
  echo "FAIL [$case_name]: $*"
  case_failed=1
}

# Starts a case: a fresh HOME with nothing of SteamVR in it.
begin() {
  case_name=$1
  case_failed=0
  home=$work/$case_name
  mkdir -p "$home"
  dest=$home/.local/share/quenlark_k7
  paths=$home/.config/openvr/openvrpaths.vrpath
  calls=$home/vrpathreg-calls
}

end() {
  if [ $case_failed -eq 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
}

# Runs scripts/install with HOME set to the case's home and no inherited XDG or VRPATHREG.
run_install() {
  env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u VRPATHREG HOME="$home" "$@" </dev/null >"$home/out" 2>&1
}

# A stand-in vrpathreg at the path given: appends its arguments as one line to $calls and
# exits with the status given (0 by default).
make_vrpathreg() {
  local path=$1 status=${2:-0}
  mkdir -p "$(dirname "$path")"
  cat >"$path" <<EOF
#!/bin/sh
echo "\$*" >>"$calls"
exit $status
EOF
  chmod +x "$path"
}

expect_status() {
  local want=$1 got=$2
  [ "$got" -eq "$want" ] || fail "exit status $got, expected $want; output: $(cat "$home/out")"
}

expect_output() {
  grep -qF -- "$1" "$home/out" || fail "output lacks \"$1\"; output: $(cat "$home/out")"
}

expect_installed() {
  [ -f "$dest/driver.vrdrivermanifest" ] || fail "no manifest in $dest"
  [ -f "$dest/bin/linux64/driver_quenlark_k7.so" ] || fail "no driver library in $dest"
  [ -f "$dest/resources/input/quenlark_k7_controller_profile.json" ] || fail "no input profile in $dest"
  cmp -s "$prefix/quenlark_k7/driver.vrdrivermanifest" "$dest/driver.vrdrivermanifest" || fail "manifest differs from the source"
}

expect_removed() {
  [ ! -e "$dest" ] || fail "$dest still exists after --uninstall"
}

expect_calls() {
  local want=$1
  local got
  got=$(cat "$calls" 2>/dev/null)
  [ "$got" = "$want" ] || fail "vrpathreg calls were \"$got\", expected \"$want\""
}

# How many times external_drivers lists the installed folder.
listed() { jq --arg d "$dest" '[.external_drivers[]? | select(. == $d)] | length' "$paths"; }

# ---------------------------------------------------------------------------------------
# With a vrpathreg: it registers, the registry file is not touched.

# Each row: case name, how the stand-in is made known, where the stand-in lives (relative
# to HOME).
while read -r name how where; do
  begin "$name"
  make_vrpathreg "$home/$where"
  case "$how" in
    env) run_install env VRPATHREG="$home/$where" "$script" --from-prefix "$prefix" ;;
    option) run_install "$script" --from-prefix "$prefix" --vrpathreg "$home/$where" ;;
    found) run_install "$script" --from-prefix "$prefix" ;;
  esac
  expect_status 0 $?
  expect_installed
  expect_calls "adddriver $dest"
  expect_output "adddriver $dest"
  expect_output "What to do next"
  [ ! -e "$paths" ] || fail "openvrpaths.vrpath was written although vrpathreg registered the folder"

  case "$how" in
    env) run_install env VRPATHREG="$home/$where" "$script" --uninstall ;;
    option) run_install "$script" --uninstall --vrpathreg "$home/$where" ;;
    found) run_install "$script" --uninstall ;;
  esac
  expect_status 0 $?
  expect_removed
  expect_calls "adddriver $dest
removedriver $dest"
  end
done <<'EOF'
vrpathreg_from_environment env tools/vrpathreg
vrpathreg_from_option option tools/vrpathreg
vrpathreg_in_steamvr_bin found .steam/steam/steamapps/common/SteamVR/bin/linux64/vrpathreg
vrpathreg_wrapper_in_steamvr found .local/share/Steam/steamapps/common/SteamVR/bin/vrpathreg.sh
EOF

# The SteamVR that the registry names as its runtime is where vrpathreg is looked for first.
begin vrpathreg_of_registered_runtime
mkdir -p "$(dirname "$paths")"
make_vrpathreg "$home/elsewhere/SteamVR/bin/linux64/vrpathreg"
make_vrpathreg "$home/.steam/steam/steamapps/common/SteamVR/bin/linux64/vrpathreg" 99
printf '{ "runtime": [ "%s" ], "version": 1 }\n' "$home/elsewhere/SteamVR" >"$paths"
before=$(cat "$paths")
run_install "$script" --from-prefix "$prefix"
expect_status 0 $?
expect_calls "adddriver $dest"
[ "$(cat "$paths")" = "$before" ] || fail "openvrpaths.vrpath changed although vrpathreg registered the folder"
end

# A vrpathreg that fails: the folder goes into the registry file instead.
begin vrpathreg_fails
make_vrpathreg "$home/tools/vrpathreg" 1
run_install "$script" --from-prefix "$prefix" --vrpathreg "$home/tools/vrpathreg"
expect_status 0 $?
expect_installed
expect_calls "adddriver $dest"
expect_output "adding the folder to $paths instead"
[ "$(listed)" = 1 ] || fail "the folder is not listed once in external_drivers after vrpathreg failed"
end

begin vrpathreg_not_executable
mkdir -p "$home/tools" && echo "not a program" >"$home/tools/vrpathreg"
run_install "$script" --from-prefix "$prefix" --vrpathreg "$home/tools/vrpathreg"
expect_status 1 $?
expect_output "is not an executable file"
[ ! -e "$dest" ] || fail "installed although the vrpathreg given cannot run"
end

# ---------------------------------------------------------------------------------------
# Without a vrpathreg: external_drivers in openvrpaths.vrpath.

begin registry_created
run_install "$script" --from-prefix "$prefix"
expect_status 0 $?
expect_installed
expect_output "added it to external_drivers in $paths"
jq -e 'type == "object"' "$paths" >/dev/null || fail "openvrpaths.vrpath is not a JSON object"
[ "$(listed)" = 1 ] || fail "the folder is not listed once in a new openvrpaths.vrpath"
run_install "$script" --uninstall
expect_status 0 $?
expect_removed
[ "$(listed)" = 0 ] || fail "the folder is still listed after --uninstall"
end

# An existing registry keeps every other key and entry, and the folder is listed only once
# however often it is installed. --no-vrpathreg passes over a SteamVR vrpathreg that exists.
begin registry_kept_and_not_duplicated
mkdir -p "$(dirname "$paths")"
make_vrpathreg "$home/.steam/steam/steamapps/common/SteamVR/bin/linux64/vrpathreg"
cat >"$paths" <<EOF
{
	"config": [ "$home/.steam/steam/config" ],
	"external_drivers": [ "/opt/other_driver" ],
	"jsonid": "vrpathreg",
	"log": [ "$home/.steam/steam/logs" ],
	"runtime": [ "/nowhere/SteamVR" ],
	"something_new": { "kept": true },
	"version": 1
}
EOF
others() { jq -S 'del(.external_drivers)' "$paths"; }
before=$(others)
chmod 600 "$paths"
for round in 1 2; do
  run_install "$script" --from-prefix "$prefix" --no-vrpathreg
  expect_status 0 $?
done
expect_output "already listed"
expect_calls ""
[ "$(listed)" = 1 ] || fail "the folder is listed $(listed) times after two installs"
[ "$(jq -r '.external_drivers[0]' "$paths")" = /opt/other_driver ] || fail "another driver's entry was lost"
[ "$(others)" = "$before" ] || fail "keys other than external_drivers changed"
[ "$(stat -c %a "$paths")" = 600 ] || fail "the file's mode changed to $(stat -c %a "$paths")"
run_install "$script" --uninstall --no-vrpathreg
expect_status 0 $?
expect_removed
[ "$(jq -c '.external_drivers' "$paths")" = '["/opt/other_driver"]' ] || fail "uninstall left external_drivers as $(jq -c '.external_drivers' "$paths")"
[ "$(others)" = "$before" ] || fail "uninstall changed keys other than external_drivers"
end

# Entries a registry may already hold: none at all, null, the folder with a trailing slash.
while read -r name drivers expected_after_install; do
  begin "$name"
  [ "$drivers" != - ] || drivers=
  mkdir -p "$(dirname "$paths")"
  printf '{ "jsonid": "vrpathreg", "version": 1 %s }\n' "${drivers//@DEST@/$dest}" >"$paths"
  run_install "$script" --from-prefix "$prefix"
  expect_status 0 $?
  got=$(jq -c '.external_drivers | length' "$paths")
  [ "$got" = "$expected_after_install" ] || fail "external_drivers has $got entries, expected $expected_after_install"
  run_install "$script" --uninstall
  expect_status 0 $?
  [ "$(jq -c '.external_drivers' "$paths")" = '[]' ] || fail "uninstall left $(jq -c '.external_drivers' "$paths")"
  end
done <<'EOF'
registry_without_list - 1
registry_with_null_list ,"external_drivers":null 1
registry_with_trailing_slash ,"external_drivers":["@DEST@/"] 1
EOF

# A registry that is not what SteamVR writes is left alone, and nothing is installed.
while read -r name text; do
  begin "$name"
  mkdir -p "$(dirname "$paths")"
  printf '%s\n' "$text" >"$paths"
  before=$(cat "$paths")
  run_install "$script" --from-prefix "$prefix"
  expect_status 1 $?
  expect_output "left alone"
  [ "$(cat "$paths")" = "$before" ] || fail "the unusable registry was changed"
  [ ! -e "$dest" ] || fail "the folder was installed although it could not be registered"
  end
done <<'EOF'
registry_not_json { "external_drivers": [ "/a", }
registry_not_an_object [ "/a" ]
registry_list_not_strings { "external_drivers": [ 7 ] }
EOF

# ---------------------------------------------------------------------------------------
# Sources, uninstall without an install, refusals.

begin from_build_tree
run_install "$script" --from-build "$build_dir" --no-vrpathreg
expect_status 0 $?
expect_installed
[ "$(listed)" = 1 ] || fail "the folder is not listed after an install from the build tree"
end

# Installing over an earlier install replaces the folder: nothing stale is left in it.
begin reinstall_replaces_folder
run_install "$script" --from-prefix "$prefix"
touch "$dest/stale-file"
run_install "$script" --from-prefix "$prefix"
expect_status 0 $?
expect_installed
[ ! -e "$dest/stale-file" ] || fail "a file of the earlier install survived"
[ -z "$(find "$home/.local/share" -maxdepth 1 -name '.quenlark_k7.*')" ] || fail "staging folders were left behind"
end

begin uninstall_when_nothing_installed
run_install "$script" --uninstall
expect_status 0 $?
expect_output "Nothing to remove"
[ ! -e "$paths" ] || fail "--uninstall created openvrpaths.vrpath"
end

# A folder of that name that is not this driver's is neither replaced nor removed.
begin foreign_folder_kept
mkdir -p "$dest" && echo "mine" >"$dest/notes.txt"
run_install "$script" --from-prefix "$prefix"
expect_status 1 $?
run_install "$script" --uninstall
expect_status 1 $?
[ "$(cat "$dest/notes.txt" 2>/dev/null)" = mine ] || fail "a foreign folder at $dest was touched"
end

while read -r name args; do
  begin "$name"
  # shellcheck disable=SC2086
  run_install "$script" $args
  status=$?
  [ $status -ne 0 ] || fail "scripts/install $args succeeded"
  [ ! -e "$dest" ] || fail "scripts/install $args installed something"
  end
done <<EOF
unknown_option --frobnicate
option_without_value --from-prefix
not_a_driver_folder --from-prefix $work
not_a_build_tree --from-build $work
EOF

echo "install: $passed passed, $failed failed"
[ $failed -eq 0 ]
