#!/usr/bin/env bash
# The installed driver folder's static files, read as SteamVR reads them: every file is
# valid JSON; the manifest names the folder and the library; the profile path and controller
# type that the library sets lead to a profile that declares the library's four input
# components; the legacy binding and the localized names cover what the profile declares.
#   resources_test.sh PREFIX        (the folder is PREFIX/quenlark_k7)
set -uo pipefail

prefix=${QUENLARK_PREFIX:-$1}
folder=$prefix/quenlark_k7
resources=$folder/resources
library=$folder/bin/linux64/driver_quenlark_k7.so

# What the driver library sets on its device; the library itself is checked to hold them.
profile_path='{quenlark_k7}/input/quenlark_k7_controller_profile.json'
controller_type=aaa_quenlark_k7_controller
components=(/input/fire/click /input/fire/value /input/eject_mag/click /input/load_mag/click)

failures=0
checks=0
check() {
  local what=$1
  shift
  checks=$((checks + 1))
  if ! "$@" >/dev/null 2>&1; then
    echo "FAIL: $what"
    failures=$((failures + 1))
  fi
}

# A resource path as SteamVR writes it ("{quenlark_k7}/...") as a file in the folder.
resolve() { echo "$resources/${1#\{quenlark_k7\}/}"; }

[ -f "$library" ] || {
  echo "FAIL: no driver library at $library"
  exit 1
}

# Every JSON file parses; SteamVR refuses a file with so much as a trailing comma.
while IFS= read -r -d '' file; do
  check "$file is valid JSON" jq empty "$file"
done < <(find "$folder" \( -name '*.json' -o -name '*.vrdrivermanifest' \) -print0)

manifest=$folder/driver.vrdrivermanifest
check "the manifest's name is the folder's name" \
  jq -e --arg n "$(basename "$folder")" '.name == $n' "$manifest"
check "the manifest's library bin/linux64/driver_<name>.so exists" \
  test -f "$folder/bin/linux64/driver_$(jq -r .name "$manifest").so"
check "the manifest activates the driver beside another driver's headset" \
  jq -e '.alwaysActivate == true and .resourceOnly == false and ((.directory // "") == "")' "$manifest"

for text in "$profile_path" "$controller_type" "${components[@]}"; do
  check "the driver library holds \"$text\"" grep -qaF -- "$text" "$library"
done

profile=$(resolve "$profile_path")
check "the profile path the driver sets leads to a file" test -f "$profile"
check "the profile is an input profile for the driver's controller type" \
  jq -e --arg t "$controller_type" '.jsonid == "input_profile" and .controller_type == $t' "$profile"

# /input/<source>/click needs the source to declare click; .../value a trigger with value.
for component in "${components[@]}"; do
  source=${component%/*}
  kind=${component##*/}
  check "the profile declares $component" jq -e --arg s "$source" --arg k "$kind" '
    .input_source[$s] as $src
    | $src != null and $src[$k] == true
      and (if $k == "value" then $src.type == "trigger" else ($src.type == "trigger" or $src.type == "button") end)' "$profile"
done
check "the profile declares no input the driver never creates" jq -e '
  [.input_source | keys[] | select(startswith("/input/"))] == ["/input/eject_mag", "/input/fire", "/input/load_mag"]' "$profile"

image=$(jq -r '.input_bindingui_right.image // empty' "$profile")
check "the binding UI's picture exists" test -f "$(resolve "$image")"

# The legacy binding: the trigger as trigger (click and pull), both magazine buttons as
# buttons, on both hands, each bound source declared by the profile.
legacy=$(resolve "$(jq -r '.legacy_binding // empty' "$profile")")
check "the profile names a legacy binding file that exists" test -f "$legacy"
check "the legacy binding is for the driver's controller type" \
  jq -e --arg t "$controller_type" '.controller_type == $t' "$legacy"
check "every legacy source is an input of the profile, bound to a legacy action it offers" \
  jq -e --slurpfile p "$profile" '
    $p[0].input_source as $inputs
    | [.bindings["/actions/legacy"].sources[]
       | (.path | capture("^/user/hand/(left|right)(?<input>/input/[a-z_]+)$").input) as $name
       | $inputs[$name] as $src
       | $src != null
         and (.inputs | keys | all(. as $k | ($k == "click" and $src.click == true)
                                        or ($k == "pull" and $src.value == true)))
         and ([.inputs[].output] | all(startswith("/actions/legacy/in/")))]
    | length > 0 and all' "$legacy"
for hand in left right; do
  check "the $hand hand's trigger is a legacy trigger with click and pull" jq -e --arg h "$hand" '
    [.bindings["/actions/legacy"].sources[]
     | select(.path == "/user/hand/\($h)/input/fire" and .mode == "trigger"
              and .inputs.click.output == "/actions/legacy/in/\($h)_axis1_press"
              and .inputs.pull.output == "/actions/legacy/in/\($h)_axis1_value")] | length == 1' "$legacy"
  for button in eject_mag load_mag; do
    check "the $hand hand's $button is a legacy button" jq -e --arg h "$hand" --arg b "$button" '
      [.bindings["/actions/legacy"].sources[]
       | select(.path == "/user/hand/\($h)/input/\($b)" and .mode == "button"
                and (.inputs.click.output | startswith("/actions/legacy/in/\($h)_")))] | length == 1' "$legacy"
  done
done
check "the two magazine buttons drive different legacy buttons" jq -e '
  [.bindings["/actions/legacy"].sources[] | select(.path | test("/right/input/(eject|load)_mag$"))
   | .inputs.click.output] | unique | length == 2' "$legacy"

# Localized names: every language names the controller type and every input source.
localization=$resources/localization/localization.json
check "the localization file is a list of languages, each with a language tag" jq -e '
  type == "array" and length > 0 and all(.language_tag | type == "string" and test("^[a-z]{2}_[A-Z]{2}$"))' "$localization"
check "an en_US entry exists" jq -e 'any(.language_tag == "en_US")' "$localization"
check "every language names the controller type and every input of the profile" \
  jq -e --slurpfile p "$profile" '
    ([$p[0].controller_type] + ($p[0].input_source | keys)) as $keys
    | all(. as $lang | $keys | all(. as $k | $lang[$k] | type == "string" and length > 0))' "$localization"

echo "resources: $((checks - failures)) passed, $failures failed"
[ $failures -eq 0 ]
