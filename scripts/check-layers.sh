#!/usr/bin/env bash
# Holds the direction of includes between the folders of src/ and of the
# reader, so that every layer builds on the ones below it only:
#   format < config, registry < output < core < capture < events, bytecode < agent
#   (capture holds what both engines ask of the VM; each engine is a capture
#   layer of its own, and agent chooses one)
# Only the capture layers may see jvmti.h and jni.h; the reader sees src/format alone,
# and its own folders go input < model < output; the command sees src/config and
# src/format.
# Prints every include that points the wrong way and exits 1 if there is one.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

# What each folder of src/ may include, besides itself.
declare -A below=(
  [format]=""
  [classfile]=""
  [config]="format"
  [registry]="format"
  [output]="format config registry"
  [core]="format config registry output"
  [capture]="format config registry output core"
  [events]="format config registry output core capture"
  [bytecode]="format config registry output core capture classfile"
  [agent]="format config registry output core capture events bytecode"
)
capture_layers="agent bytecode events capture"

status=0
complain() {
  echo "$1" >&2
  status=1
}

while IFS= read -r file; do
  layer="${file#src/}"
  layer="${layer%%/*}"
  if [ -z "${below[$layer]+set}" ]; then
    complain "$file: folder src/$layer is not a known layer (add it to scripts/check-layers.sh)"
    continue
  fi
  while IFS=: read -r line target; do
    if [[ "$target" == "jvmti.h" || "$target" == "jni.h" ]]; then
      [[ " $capture_layers " == *" $layer "* ]] ||
        complain "$file:$line: $target below the capture layer"
      continue
    fi
    to="${target%%/*}"
    [ "$to" = "$target" ] && continue  # a system or library header
    [ "$to" = "$layer" ] && continue
    [ -n "${below[$to]+set}" ] || continue
    [[ " ${below[$layer]} " == *" $to "* ]] ||
      complain "$file:$line: $layer includes $target, which is not below it"
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$file" |
           sed -E 's/^([0-9]+):[^<"]*[<"]([^>"]+)[>"].*/\1:\2/')
done < <(git ls-files 'src/*.h' 'src/*.cpp'; git ls-files --others --exclude-standard 'src/*.h' 'src/*.cpp')

# The reader: input < model < output inside it, and src/format alone of the
# agent's layers.
declare -A reader_below=([input]="" [model]="input" [output]="input model")
while IFS= read -r file; do
  part="${file#tools/reader/}"
  part="${part%%/*}"
  while IFS=: read -r line target; do
    case "$target" in
      format/*) ;;
      reader/*)
        to="${target#reader/}"
        to="${to%%/*}"
        if [ -n "${reader_below[$part]+set}" ] && [ "$to" != "$part" ] &&
           [[ " ${reader_below[$part]} " != *" $to "* ]]; then
          complain "$file:$line: reader/$part includes $target, which is not below it"
        fi ;;
      jvmti.h|jni.h|agent/*|core/*|output/*|registry/*|config/*|classfile/*)
        complain "$file:$line: the reader includes $target" ;;
    esac
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$file" |
           sed -E 's/^([0-9]+):[^<"]*[<"]([^>"]+)[>"].*/\1:\2/')
done < <(git ls-files 'tools/reader/*.h' 'tools/reader/*.cpp'; git ls-files --others --exclude-standard 'tools/reader/*.h' 'tools/reader/*.cpp')

# The command (tools/kolvaprof) sees the settings keys (src/config) and
# src/format, never the agent's JVM side.
while IFS= read -r file; do
  while IFS=: read -r line target; do
    case "$target" in
      jvmti.h|jni.h|agent/*|capture/*|events/*|bytecode/*|core/*|output/*|registry/*|classfile/*|reader/*)
        complain "$file:$line: the command includes $target" ;;
    esac
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$file" |
           sed -E 's/^([0-9]+):[^<"]*[<"]([^>"]+)[>"].*/\1:\2/')
done < <(git ls-files 'tools/kolvaprof/*.h' 'tools/kolvaprof/*.cpp'; git ls-files --others --exclude-standard 'tools/kolvaprof/*.h' 'tools/kolvaprof/*.cpp')

[ "$status" -eq 0 ] && echo "layers: every include points down"
exit "$status"
