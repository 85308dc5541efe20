#pragma once
// The settings the window stores with its archiver, shared with the qvt
// command so that both split and merge alike. Free of Qt.
#include "archiver/Arkiva.h"

inline void ApplyWindowSettings(TAKBaseArchiver& zip)
{
    zip.SetExtractCorruptedFiles(false);
    // Applied in this order, so the mode wins.
    zip.SetCompressionLevel(clNone);
    zip.SetCompressionMode(0);
    zip.SetSpanningMode(smSplitting);
    zip.SpanningOptions().SetAdvancedNaming(true);
    zip.SpanningOptions().SetVolumeSize(vsCustom);
    zip.Options().SetStorePath(spNoPath);
    zip.Options().SetFlushBuffers(true);
    zip.Options().SetOEMFileNames(true);
    zip.SetFileMasks({"qvt"});
    zip.SetInMemory(false);
    // Files too large for the classic fields take ZIP64 form.
    zip.SetZip64Mode(zmAuto);
}
