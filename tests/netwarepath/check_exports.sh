#!/usr/bin/env bash
# The path-object files export exactly their interface: the public functions
# under plain names, the internal operations under their C++ names.
set -euo pipefail
expected="$(cat <<'LIST' | sort
NetWarePathNew
NetWarePathDelete
NetWarePathConstruct
NetWarePathDestruct
NetWarePathClearPath
NetWarePathGetNumberOfComponents
NetWarePathGetNativeComponent
NetWarePathGetComponent
NetWarePathGetEncodedComponent
NetWarePathGetPathType
NetWarePathGetSeparator
NetWarePathIsResourceObject
NetWarePathGetNativePath
NetWarePathGetEncodedPath
NetWarePathGetTopDownPath
EncodeComponent
DecodeComponent
NetWarePathSetNativePath
NetWarePathSetEncodedPath
NetWarePathSetTopDownPath
NetWarePathAppendNativeComponent
NetWarePathAppendComponentToBottom
NetWarePathAppendEncodedComponent
NetWarePathRemoveComponent
NetWarePathRemoveComponentFromBottom
NDSstrchr
NDSstrrchr
NetWarePathAllocateNetWareComponent(char*)
NetWarePathInsertComponentAtTop(NETWARE_PATH_OBJECT*, char*)
NetWarePathAddComponentToBottom(NETWARE_PATH_OBJECT*, char*)
NetWarePathFreeNetWareComponent(NETWARE_PATH_OBJECT*, NETWARE_PATH_COMPONENT*)
NetWarePathRemoveAllComponents(NETWARE_PATH_OBJECT*)
NetWarePathEncodeComponent(NETWARE_PATH_OBJECT*, char*, char*, int)
NetWarePathDecodeComponent(NETWARE_PATH_OBJECT*, char*, char*, int)
CharToHexString(int, char*, int)
HexStringToChar(char*)
FindChar(char*, int, int)
MidString(char*, int, int, char*)
NetWarePathSetFSPath(NETWARE_PATH_OBJECT*, char*)
NetWarePathSetNDSPath(NETWARE_PATH_OBJECT*, char*, bool)
NetWarePathSetNewPath(NETWARE_PATH_OBJECT*)
NetWarePathBuildTopDownPath(NETWARE_PATH_OBJECT*, char*, bool)
NetWarePathBuildBottomUpPath(NETWARE_PATH_OBJECT*, char*, bool)
NetWarePathBuildNativePath(NETWARE_PATH_OBJECT*, char*)
NetWarePathBuildEncodedPath(NETWARE_PATH_OBJECT*, char*)
LIST
)"
# Defined symbols of default visibility, demangled.
actual="$(for object in "$@"; do readelf -sW "$object"; done |
  awk '$7 != "UND" && $6 == "DEFAULT" && $5 ~ /GLOBAL|WEAK|UNIQUE/ { print $8 }' | c++filt | sort -u)"
if [ "$actual" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "exports: $(wc -l <<<"$actual") symbols as expected"
