#pragma once
// The archiver's exception, built from a numeric error code.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Component.h"
#include "platform/Exception.h"
#include "platform/Format.h"

class EAKException : public Exception {
public:
    // Create: source may be null; a source with an empty Name gives no prefix.
    EAKException(int code, const TComponent* source);
    // CreateFmt: the code's text is formatted with args first.
    EAKException(int code, const TComponent* source, const std::vector<FmtArg>& args);

    int ErrorCode() const { return errorCode_; }   // message index 0..35
    int NativeError() const { return nativeError_; } // the code, 0..60

private:
    void Build(int code, const TComponent* source, const std::vector<FmtArg>* args);
    int errorCode_ = 0;
    int nativeError_ = 0;
};

// Compression error of the deflate pipeline (message "error").
class EZlibError : public Exception { public: using Exception::Exception; };
class ECompressionError : public EZlibError { public: using EZlibError::EZlibError; };
class EDecompressionError : public EZlibError { public: using EZlibError::EZlibError; };
