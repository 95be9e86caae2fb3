#pragma once

// What replacement.cpp leaves to each system (replacement_posix.cpp,
// replacement_windows.cpp), and what they share with it. fsio's own.

#include <string>

#include "fsio/files.h"
#include "fsio/replacement.h"

namespace fsio::detail {

// Whether this call is to fail (for tests: failNextCall); errno is then set.
bool failing(Call call);
inline Failure failure(Failure::Kind kind, int error = 0, std::string detail = "") {
  return {kind, error, std::move(detail)};
}
// ".<file name>.pagemend-", the name cut short where the whole temporary
// name (a process id and a suffix follow) would pass the system's limit.
std::string temporaryPrefix(const std::string& base);

long processId();
bool processAlive(long pid);
void removeFile(const std::string& path);
// Renames `from` over `to`: 0, or errno (`inUse` set when another program held it all the while).
int renameOver(const std::string& from, const std::string& to, bool& inUse);
void flushFolder(const std::string& dir);
// Gives the new file what `like` (the file at `likePath`, read through
// `attributesFd` when it is open) has that is not its bytes.
Failure takeOver(int fd, const FileInfo& like, const std::string& likePath, unsigned modeBits, int attributesFd);
bool linkTo(const std::string& existing, const std::string& path, PendingFile& pending);

}  // namespace fsio::detail
