#!/usr/bin/env bash
# Checks that every #include "folder/..." in the product's sources points to the same layer or
# a lower one. Layers, top to bottom:
#   app  catalog  ui  sysops  setup  base  log
# resources/resource.h (IDs only) may be included from anywhere. Usage: check-layers.sh [ROOT]
set -u
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
layers=(log base setup sysops ui catalog app)
rank() { local i; for i in "${!layers[@]}"; do [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }; done; echo -1; }
bad=0 checked=0
for from in "${layers[@]}"; do
  [ -d "$root/$from" ] || continue
  fr=$(rank "$from")
  while IFS= read -r line; do
    file=${line%%:*}
    target=$(sed -E 's/.*#include[[:space:]]+"([^"]+)".*/\1/' <<<"${line#*:}")
    checked=$((checked + 1))
    [ "$target" = "resources/resource.h" ] && continue
    to=${target%%/*}
    if [ "$to" = "$target" ]; then
      echo "include without a layer folder: ${file#"$root"/}: \"$target\""; bad=$((bad + 1)); continue
    fi
    tr=$(rank "$to")
    if [ "$tr" -lt 0 ] || [ "$tr" -gt "$fr" ]; then
      echo "upward include: ${file#"$root"/} ($from) includes \"$target\" ($to)"; bad=$((bad + 1))
    fi
  done < <(grep -H -E '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' -r "$root/$from" --include='*.cpp' --include='*.h')
done
if [ "$checked" -eq 0 ]; then echo "no includes found under $root"; exit 1; fi
if [ "$bad" -ne 0 ]; then echo "$bad include(s) break the layers"; exit 1; fi
echo "layers: $checked includes checked, none upward"
