// Event dispatchers: raise the owner's handler, or fall back to the default
// behaviour (often a question through the installed Dialogs).
#include <algorithm>

#include "archiver/AKConst.h"
#include "archiver/Arkiva.h"
#include "platform/Dialogs.h"
#include "platform/Format.h"
#include "platform/Paths.h"

void TAKBaseArchiver::DoOnOverallProgress(double Progress, TAKProcessOperation Operation, TAKProgressPhase Phase,
                                          bool& Cancel) {
    if (OnOverallProgress)
        OnOverallProgress(this, Progress, Operation, Phase, Cancel);
    else
        Cancel = false;
}

void TAKBaseArchiver::DoOnFileProgress(const std::string& FileName, double Progress, TAKProcessOperation Operation,
                                       TAKProgressPhase Phase, bool& Cancel) {
    if (OnFileProgress)
        OnFileProgress(this, FileName, Progress, Operation, Phase, Cancel);
    else
        Cancel = false;
}

bool TAKBaseArchiver::RaiseBlockProgress(const std::string& Name, TAKProcessOperation Operation) {
    const long double total = FileProgressTotal;
    const long double fraction = total > 0 ? FileProgressPosition / total : 0.0L;
    DoOnFileProgress(Name, static_cast<double>(fraction * 100), Operation, ppProcess, Cancelled);
    if (Cancelled) return false;
    const int32_t selected = std::max<int32_t>(SelectedCount, 1);
    DoOnOverallProgress(static_cast<double>((fraction + ProcessedCount) / selected * 100), Operation, ppProcess,
                        Cancelled);
    return !Cancelled;
}

void TAKBaseArchiver::DoOnCopyTempFileProgress(double Progress, TAKProgressPhase Phase, bool& Cancel) {
    Cancel = false;
    if (OnCopyTempFileProgress) OnCopyTempFileProgress(this, Progress, Phase, Cancel);
}

void TAKBaseArchiver::DoOnConfirmOverwrite(const std::string& SourceFileName, std::string& DestFileName,
                                           bool& Confirm) {
    if (OnConfirmOverwrite) {
        OnConfirmOverwrite(this, SourceFileName, DestFileName, Confirm);
        return;
    }
    Confirm = false;
    const int answer = CurrentDialogs().MessageDlg(Format(SOverwritePrompt, {DestFileName, SourceFileName}),
                                                   TMsgDlgType::mtConfirmation,
                                                   {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbNoToAll,
                                                    TMsgDlgBtn::mbYesToAll});
    switch (answer) {
    case mrYes: Confirm = true; break;
    case mrNoToAll: options_->SetOverwriteMode(omNever); break;
    case mrYesToAll:
        Confirm = true;
        options_->SetOverwriteMode(omAlways);
        break;
    default: break;
    }
}

void TAKBaseArchiver::DoOnConfirmProcessFile(const std::string& FileName, TAKProcessOperation Operation,
                                             bool& Confirm) {
    Confirm = true;
    if (OnConfirmProcessFile) OnConfirmProcessFile(this, FileName, Operation, Confirm);
}

void TAKBaseArchiver::DoOnPassword(const std::string& FileName, std::string& NewPassword, bool& SkipFile) {
    if (OnPassword) {
        OnPassword(this, FileName, NewPassword, SkipFile);
        return;
    }
    SkipFile = !CurrentDialogs().InputQuery(Format(SPasswordCaption, {FileName}), SPasswordPrompt, NewPassword);
}

void TAKBaseArchiver::DoOnProcessFileFailure(const std::string& FileName, TAKProcessOperation Operation,
                                             int32_t NativeError, int32_t ErrorCode,
                                             const std::string& ErrorMessage, TAKAction& Action) {
    Action = fxaIgnore;
    if (OnProcessFileFailure) {
        OnProcessFileFailure(this, FileName, Operation, NativeError, ErrorCode, ErrorMessage, Action);
        return;
    }
    if (NativeError == 45) {
        Action = fxaAbort;
        return;
    }
    const int answer = CurrentDialogs().MessageDlg(Format(SProcessFileFailure, {ErrorMessage}),
                                                   TMsgDlgType::mtConfirmation,
                                                   {TMsgDlgBtn::mbAbort, TMsgDlgBtn::mbRetry, TMsgDlgBtn::mbIgnore});
    if (answer == mrRetry)
        Action = fxaRetry;
    else if (answer == mrIgnore)
        Action = fxaIgnore;
    else
        Action = fxaAbort;
}

void TAKBaseArchiver::DoOnStoreFile(std::string& FileName, uint32_t& FileAttr, std::string& Comment,
                                    const std::string& OriginalFileName) {
    // Stored names and file-system names share "/" here, so the name goes
    // to the handler and back as it is.
    if (OnStoreFile) OnStoreFile(this, FileName, FileAttr, Comment, OriginalFileName);
}

void TAKBaseArchiver::DoOnExtractFile(std::string& FileName, uint32_t& FileAttr, const std::string& Comment) {
    // Handlers and the file system see "/" between folders.
    FileName = platform::ForwardSlashes(FileName);
    if (OnExtractFile) OnExtractFile(this, FileName, FileAttr, Comment);
}
