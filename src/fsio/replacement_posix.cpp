// The POSIX side of replacing a file (replacement_system.h).
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "fsio/replacement_system.h"

namespace fsio::detail {

long processId() { return static_cast<long>(getpid()); }
bool processAlive(long pid) { return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }
void removeFile(const std::string& path) { unlink(path.c_str()); }

int renameOver(const std::string& from, const std::string& to, bool&) {
  return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool linkTo(const std::string& existing, const std::string& path, PendingFile& pending) {
  return pending.link(existing.c_str(), path.c_str());
}

void flushFolder(const std::string& dir) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

bool readAttribute(int fd, const char* name, std::vector<char>& into) {
  ssize_t length;
  while ((length = fgetxattr(fd, name, nullptr, 0)) >= 0) {
    into.resize(static_cast<size_t>(length));
    length = fgetxattr(fd, name, into.data(), into.size());
    if (length >= 0) {
      into.resize(static_cast<size_t>(length));
      return true;
    }
    if (errno != ERANGE) break;  // grown meanwhile: ask again
  }
  return false;
}

// Copies every extended attribute; one that cannot be set, unless the new
// file holds it already (a security label given to every new file), would
// be lost, so that is a failure.
Failure copyExtendedAttributes(int from, int to) {
  std::vector<char> names, value, existing;
  ssize_t size;
  while ((size = flistxattr(from, nullptr, 0)) > 0) {
    names.resize(static_cast<size_t>(size));
    size = flistxattr(from, names.data(), names.size());
    if (size >= 0 || errno != ERANGE) break;
  }
  if (size < 0 && errno != ENOTSUP) return failure(Failure::attributesUnread, errno);
  for (size_t at = 0; size > 0 && at < static_cast<size_t>(size); at += std::strlen(names.data() + at) + 1) {
    const char* name = names.data() + at;
    bool copied = readAttribute(from, name, value);
    if (copied && fsetxattr(to, name, value.data(), value.size(), 0) != 0) {
      const int error = errno;
      copied = readAttribute(to, name, existing) && existing == value;
      errno = error;
    }
    if (!copied) return failure(Failure::attributeNotCopied, errno, name);
  }
  return {};
}

constexpr const char* kAccessAcl = "system.posix_acl_access";

bool hasAttribute(int fd, const char* name) { return fgetxattr(fd, name, nullptr, 0) >= 0; }

// Gives the new file what `like` has that is not its bytes. Where the owner
// or group cannot be kept and whoever had access through them would lose
// it, that is a failure.
Failure takeOver(int fd, const FileInfo& like, const std::string&, unsigned modeBits, int attributesFd) {
  // Made in a folder with a default ACL, the new file has that ACL: entries
  // for accounts the old file never let in. It is to have the old file's own
  // ACL, or none; the mode, set next, is then exactly the old one.
  if (attributesFd >= 0 && !hasAttribute(attributesFd, kAccessAcl) && hasAttribute(fd, kAccessAcl) &&
      fremovexattr(fd, kAccessAcl) != 0) {
    return failure(Failure::attributeNotCopied, errno, kAccessAcl);
  }
  // The owner first: changing it clears the set-user-ID and set-group-ID bits.
  if (failing(Call::fchown) || fchown(fd, like.owner, like.group) != 0) {
    // Only root may give a file away, but a member of its group may keep the group.
    if (fchown(fd, static_cast<uid_t>(-1), like.group) != 0) {
      // The new file stays in this user's group.
    }
  }
  if (failing(Call::fchmod) || fchmod(fd, like.mode & modeBits) != 0) return failure(Failure::modeNotKept, errno);
  FileInfo now;
  if (!infoOf(fd, now)) now = like;
  // Whoever was the owner, or in the group, counts as anyone else from now on.
  const mode_t others = like.mode & 07;
  const bool ownerShutOut = now.owner != like.owner && ((like.mode >> 6) & 07 & ~others);
  const bool groupShutOut = now.group != like.group && ((like.mode >> 3) & 07 & ~others);
  if (ownerShutOut || groupShutOut) {
    return failure(Failure::shutOut, 0, ownerShutOut && groupShutOut ? "owner and group" : ownerShutOut ? "owner" : "group");
  }
  return attributesFd < 0 ? Failure() : copyExtendedAttributes(attributesFd, fd);
}

}  // namespace fsio::detail
