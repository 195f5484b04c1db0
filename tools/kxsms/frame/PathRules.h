// Names on the host side: which given paths lie inside others, where a member
// goes with --to, and which member names an archive may not bring in.
#ifndef KXSMS_TOOLS_PATHRULES_H
#define KXSMS_TOOLS_PATHRULES_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "KXSMS.h"

namespace kxsms {

// A path as given, in a form that compares: doubled and trailing separators
// removed (file system "/a//b/" -> "/a/b", GroupWise "DOM1:\a\" -> "DOM1:\a").
std::string normalizePath(std::string_view path, KXSMS_TSA_TYPE tsa);

// A file-system path as the TSA names it: a relative path is taken from the
// working directory (given as cwd), and "." and ".." components are resolved
// by their text, as tar and find take the paths they are given.
std::string absoluteFileSystemPath(std::string_view path, std::string_view cwd);

// A path given on this machine's command line, made absolute as above when
// it is for the file-system TSA; left as it is when it is for another TSA,
// empty, or cwd is "" (not known).
void takeLocalPath(std::string &path, std::string_view cwd, KXSMS_TSA_TYPE tsa);

// True when inner is outer or lies in outer's subtree (both normalized).
// Directory names compare without regard to case, as the directory does.
bool isWithin(std::string_view inner, std::string_view outer, KXSMS_TSA_TYPE tsa);

// The paths of a backup with every path dropped that another one (or an
// earlier copy of itself) already covers, in their first order. A scan of
// each remaining path then meets every data set once, without a set of the
// names seen.
std::vector<std::string> independentPaths(const std::vector<std::string> &paths, KXSMS_TSA_TYPE tsa);

// Why a member name from an archive may not be restored as it is, or nothing
// when it may: empty names, NUL bytes, ".." components, and for the file
// system names that do not start with "/".
std::optional<std::string> refuseName(std::string_view name, KXSMS_TSA_TYPE tsa);

// The name a member gets with --to DIR, or nothing with the reason in error.
//   file system: "/usr/include/a.h" -> "DIR/usr/include/a.h"
//   GroupWise:   "DOM1:\dir\x"      -> "DIR\DOM1\dir\x"   (DIR such as "DOM2:\restore")
//   directory:   refused: objects are restored under their own names.
// strip: as many leading components of what goes below DIR are left out
// (tar's --strip-components; the GroupWise resource is the first): "/usr/a.h"
// with 1 -> "DIR/a.h". A name with no more components than that gives
// nothing with error empty: it is not restored.
std::optional<std::string> reroot(std::string_view name, std::string_view dir, KXSMS_TSA_TYPE tsa, std::string &error,
                                  unsigned int strip = 0);

// Why --to DIR cannot be used at all, or nothing when it can.
std::optional<std::string> refuseTarget(std::string_view dir, KXSMS_TSA_TYPE tsa);

} // namespace kxsms

#endif
