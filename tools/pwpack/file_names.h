/*
 * The names of the files a packed block carries, as the setup will install them on Windows: in
 * the target's ANSI code page (Windows-1252), and only names that Windows stores as they stand.
 */
#ifndef PWPACK_FILE_NAMES_H
#define PWPACK_FILE_NAMES_H

#include <string>
#include <vector>

namespace pwpack {

// The bytes a name of the build machine (UTF-8) has in Windows-1252; false when the name is not
// UTF-8 or holds a character that code page has no place for.
bool ToWindows1252(const std::string& utf8, std::string* cp1252);

// Why the setup would install a file of this Windows-1252 name under another name or not at
// all; "" when Windows stores it as it stands.
std::string NameProblem(const std::string& cp1252);

// The name as Windows compares names in one folder: two names with one key land on one file.
std::string CaseKey(const std::string& cp1252);

// The refusal of the first of these UTF-8 names (one folder's) that the setup could not install
// as it is named, or "". Fills cp1252 with each name's bytes in that code page.
std::string CheckFolderNames(const std::vector<std::string>& utf8,
                             std::vector<std::string>* cp1252);

}  // namespace pwpack

#endif
