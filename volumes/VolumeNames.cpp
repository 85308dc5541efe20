// File names of the volumes of a multi-volume archive.
#include <cstdio>

#include "archiver/Arkiva.h"
#include "container/DirManager.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "volumes/VolumeFiles.h"

namespace {

// 1-based volume numbers as they appear in file names: "%.3u" gives "001",
// "1000"; "%.2d" gives "01", "100".
std::string ThreeDigits(int32_t volumeNumber)
{
    char text[16];
    std::snprintf(text, sizeof text, "%.3u", static_cast<unsigned>(volumeNumber) + 1u);
    return text;
}

std::string TwoDigits(int32_t volumeNumber)
{
    char text[16];
    std::snprintf(text, sizeof text, "%.2d", volumeNumber + 1);
    return text;
}

} // namespace

bool TAKBaseArchiver::HasExeExtension(const std::string& Name)
{
    std::string ext = platform::ExtractFileExt(Name);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext.find(".exe") != std::string::npos;
}

void TAKBaseArchiver::GetVolumeFileName(std::string& Name, int32_t VolumeNumber, bool CheckExists) const
{
    const std::string path = platform::ExtractFilePath(Name);
    std::string ext = platform::ExtractFileExt(Name);
    const std::string fileName = platform::ExtractFileName(Name);
    const std::string base = fileName.substr(0, fileName.size() - ext.size());

    const bool hasStub = (dirManager_ && dirManager_->StubSize != 0) || !sfxStub_.empty() || HasExeExtension(Name);

    if (VolumeNumber == -1) {
        // The last volume carries the archive's own name, except that a split
        // set with a stub begins with the ".exe" and ends with ".ZIP".
        if (hasStub && spanningMode_ == smSplitting) Name = path + base + ".ZIP";
        return;
    }

    switch (spanningMode_) {
    case smSpanning: {
        if (hasStub) ext = ".exe";
        const std::string numbered = path + base + "_" + ThreeDigits(VolumeNumber) + ext;
        const std::string plain = path + base + ext;
        const bool advanced = spanningOptions_->AdvancedNaming();
        std::string first = advanced ? numbered : plain;
        if (CheckExists) {
            std::string other = advanced ? plain : numbered;
            if (TakeExistingVolumeName(first)) {
                Name = first;
                return;
            }
            if (TakeExistingVolumeName(other)) {
                Name = other;
                return;
            }
        }
        Name = first;
        return;
    }
    case smSplitting:
        if (VolumeNumber == 0 && hasStub)
            Name = path + base + ".exe";
        else if (spanningOptions_->AdvancedNaming())
            Name = path + base + "_" + ThreeDigits(VolumeNumber) + ext;
        else
            Name = path + base + ".Z" + TwoDigits(VolumeNumber);
        return;
    case smNone:
        return;
    }
}
