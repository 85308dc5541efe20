#pragma once
// File-system services: existence, attributes, MS-DOS stamps, delete,
// rename, folders, directory enumeration with a wildcard and an attribute
// filter, flush to disk.
#include <cstdint>
#include <string>
#include <vector>

// Attribute bits as the archiver knows them.
constexpr uint32_t faReadOnly = 0x01;
constexpr uint32_t faHidden = 0x02;   // name begins with "."
constexpr uint32_t faSysFile = 0x04;  // never set here
constexpr uint32_t faVolumeID = 0x08; // never set here
constexpr uint32_t faDirectory = 0x10;
constexpr uint32_t faArchive = 0x20;  // every regular file
constexpr uint32_t faNormal = 0x80;
constexpr uint32_t faAnyFile = 0x3F;

namespace platform {

bool FileExists(const std::string& name);      // a non-folder entry exists
bool DirectoryExists(const std::string& name); // a folder exists (follows links)
bool PathExists(const std::string& name);      // anything exists

// Attribute bits of the entry, or -1 when it does not exist.
int64_t FileGetAttr(const std::string& name);
// Read-only clears the write bits, its absence gives the owner write
// permission back; other bits are ignored. Returns false on failure.
bool FileSetAttr(const std::string& name, uint32_t attr);

// MS-DOS date-time (date high 16 bits, time low 16 bits) of the last
// modification in local time; -1 when the entry does not exist.
int32_t FileAge(const std::string& name);
bool FileSetDate(const std::string& name, int32_t dosDateTime);
bool FileSetDateFd(int fd, int32_t dosDateTime);

// Conversions between MS-DOS stamps and Unix time, local time zone.
int32_t UnixToDosDateTime(int64_t unixTime);
int64_t DosDateTimeToUnix(int32_t dosDateTime);
int32_t NowDosDateTime();

bool DeleteFile(const std::string& name);
bool RemoveDir(const std::string& name);
// Replaces an existing target (POSIX rename).
bool RenameFile(const std::string& oldName, const std::string& newName);
bool CreateDir(const std::string& name);
// Creates the folder with every missing parent; true when it exists afterwards.
bool ForceDirectories(const std::string& name);
int64_t FileSize(const std::string& name); // -1 when missing
bool IsSymlink(const std::string& name);
// The absolute name with every symbolic link, "." and ".." resolved; empty
// when the entry does not exist or cannot be resolved.
std::string ResolveLinks(const std::string& name);
// Creates a new, empty regular file where nothing exists yet (an existing
// entry or a symbolic link is never opened), with the usual permissions
// (0666 less the umask). False when it exists or cannot be made.
bool CreateNewFile(const std::string& name);

struct TSearchRec {
    std::string Name;   // without folder
    uint32_t Attr = 0;  // attribute bits
    int32_t Time = 0;   // MS-DOS stamp
    int64_t Size = 0;
};

// Lists the entries of the folder part of pattern whose names match its
// name part by the add operation's mask rule ("*.*" matches every name,
// ASCII letters ignore case). An entry with hidden, system, volume-label
// or folder bits is returned only when attr holds every one of those bits
// that it has. "." and ".." are returned like any folder.
std::vector<TSearchRec> FindFiles(const std::string& pattern, uint32_t attr);

bool FlushFile(int fd);

} // namespace platform
