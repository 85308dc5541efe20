#pragma once
// Finding the files of a volume set on disk.
#include <string>

// The name of the file that holds the volume named `name`: `name` itself when
// such a file exists; otherwise a file in the same folder whose name differs
// only in the case of ASCII letters (other tools write "x.z01" where our rule
// gives "x.Z01"; on a case-sensitive file system that is another name), the
// first of them in byte order; otherwise `name` unchanged. Used only when
// reading a set: writing keeps the computed names exactly.
std::string ResolveExistingVolumeName(const std::string& name);

// True when the volume exists under `name` or a case variant of it; `name`
// then becomes the name of the file found.
bool TakeExistingVolumeName(std::string& name);
