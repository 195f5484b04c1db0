#!/usr/bin/env bash
# Checks the symbols that the path-object files export (default visibility):
# the public functions with C linkage, the internal ones with C++ linkage.
set -euo pipefail

plain=(
  NetWarePathNew NetWarePathDelete NetWarePathConstruct NetWarePathDestruct NetWarePathClearPath
  NetWarePathGetNumberOfComponents NetWarePathGetNativeComponent NetWarePathGetComponent
  NetWarePathGetEncodedComponent NetWarePathGetPathType NetWarePathGetSeparator
  NetWarePathIsResourceObject NetWarePathGetNativePath NetWarePathGetEncodedPath
  NetWarePathGetTopDownPath EncodeComponent DecodeComponent NetWarePathSetNativePath
  NetWarePathSetEncodedPath NetWarePathSetTopDownPath NetWarePathAppendNativeComponent
  NetWarePathAppendComponentToBottom NetWarePathAppendEncodedComponent NetWarePathRemoveComponent
  NetWarePathRemoveComponentFromBottom NDSstrchr NDSstrrchr
)
decorated=(
  'NetWarePathAllocateNetWareComponent(char*)'
  'NetWarePathInsertComponentAtTop(NETWARE_PATH_OBJECT*, char*)'
  'NetWarePathAddComponentToBottom(NETWARE_PATH_OBJECT*, char*)'
  'NetWarePathFreeNetWareComponent(NETWARE_PATH_OBJECT*, NETWARE_PATH_COMPONENT*)'
  'NetWarePathRemoveAllComponents(NETWARE_PATH_OBJECT*)'
  'NetWarePathEncodeComponent(NETWARE_PATH_OBJECT*, char*, char*, int)'
  'NetWarePathDecodeComponent(NETWARE_PATH_OBJECT*, char*, char*, int)'
  'CharToHexString(int, char*, int)'
  'HexStringToChar(char*)'
  'FindChar(char*, int, int)'
  'MidString(char*, int, int, char*)'
  'NetWarePathSetFSPath(NETWARE_PATH_OBJECT*, char*)'
  'NetWarePathSetNDSPath(NETWARE_PATH_OBJECT*, char*, bool)'
  'NetWarePathSetNewPath(NETWARE_PATH_OBJECT*)'
  'NetWarePathBuildTopDownPath(NETWARE_PATH_OBJECT*, char*, bool)'
  'NetWarePathBuildBottomUpPath(NETWARE_PATH_OBJECT*, char*, bool)'
  'NetWarePathBuildNativePath(NETWARE_PATH_OBJECT*, char*)'
  'NetWarePathBuildEncodedPath(NETWARE_PATH_OBJECT*, char*)'
)

# Defined symbols of default visibility that are global, weak or unique.
actual=$(for object in "$@"; do
  readelf -sW "$object" | awk '$7 != "UND" && $6 == "DEFAULT" && ($5 == "GLOBAL" || $5 == "WEAK" || $5 == "UNIQUE") { print $8 }'
done | sort -u)

status=0
for name in "${plain[@]}"; do
  grep -qx -- "$name" <<<"$actual" || { echo "missing plain symbol: $name"; status=1; }
done
demangled=$(c++filt <<<"$actual")
for name in "${decorated[@]}"; do
  grep -qxF -- "$name" <<<"$demangled" || { echo "missing C++ symbol: $name"; status=1; }
done
count=$(wc -l <<<"$actual")
wanted=$(( ${#plain[@]} + ${#decorated[@]} ))
if [ "$count" -ne "$wanted" ]; then
  echo "exported $count symbols, expected $wanted:"
  c++filt <<<"$actual"
  status=1
fi
[ $status -eq 0 ] && echo "exports: ${wanted} symbols as expected"
exit $status
