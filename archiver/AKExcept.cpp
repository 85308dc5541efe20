// The archiver's exception: message text from the code table, the component
// name in front, the code in five digits behind.
#include "archiver/AKExcept.h"

#include <algorithm>

#include "archiver/AKConst.h"

EAKException::EAKException(int code, const TComponent* source) : Exception(std::string()) {
    Build(code, source, nullptr);
}

EAKException::EAKException(int code, const TComponent* source, const std::vector<FmtArg>& args)
    : Exception(std::string()) {
    Build(code, source, &args);
}

void EAKException::Build(int code, const TComponent* source, const std::vector<FmtArg>* args) {
    nativeError_ = code;
    errorCode_ = 0; // "Unknown error" unless the table knows the code
    for (const TAKErrorCodeEntry& entry : ErrorCodeTable) {
        if (entry.Code == code) {
            errorCode_ = entry.MessageIndex;
            break;
        }
    }
    std::string text = ErrorMessages[errorCode_];
    if (args != nullptr) text = Format(text, *args);
    if (source != nullptr && !source->Name().empty()) {
        text = Format("%s: %s", {source->Name(), text});
    }
    std::string digits = Format("%5d", {static_cast<int64_t>(nativeError_)});
    std::replace(digits.begin(), digits.end(), ' ', '0');
    SetMessage(text + " - Native error: " + digits);
}
