#pragma once
// Enumerations of the archiver's published surface (values in order from 0).
#include <cstdint>

enum TAKCompressionLevel : uint8_t { clNone, clFastest, clNormal, clMax };
enum TAKProcessOperation : uint8_t { poAdd, poMove, poDelete, poUpdate, poExtract, poTest, poRename, poChangeAttr, poChangeComment, poMakeSFX };
enum TAKProgressPhase : uint8_t { ppStart, ppProcess, ppEnd };
enum TAKAction : uint8_t { fxaRetry, fxaIgnore, fxaAbort };
enum TAKOverwriteMode : uint8_t { omPrompt, omAlways, omNever, omIfNewer, omIfOlder };
enum TAKFileShareMode : uint8_t { smShareCompat, smShareExclusive, smShareDenyWrite, smShareDenyRead, smShareDenyNone };
enum TAKStorePathMode : uint8_t { spNoPath, spRelativePath, spFullPath, spFullPathWithDrive };
enum TZip64Mode : uint8_t { zmDisabled, zmAuto, zmAlways };
enum TAKSpanningMode : uint8_t { smNone, smSpanning, smSplitting };
enum TAKVolumeSize : uint8_t { vsAutoDetect, vsCustom, vs1_44MB, vs100MB, vs200MB, vs250MB, vs600MB, vs650MB, vs700MB, vs4700MB };
