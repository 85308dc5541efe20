#pragma once
// Base exception of the platform layer and the stream/file errors built on it.
#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }
    void SetMessage(std::string m) { message_ = std::move(m); }
    int HelpContext() const noexcept { return 0; }

private:
    std::string message_;
};

// Stream and file errors, as the archiver meets them.
class EStreamError : public Exception { public: using Exception::Exception; };
class EFileStreamError : public EStreamError { public: using EStreamError::EStreamError; };
// "the platform's file-open error": Cannot open file "<name>". <os reason>
class EFOpenError : public EFileStreamError { public: using EFileStreamError::EFileStreamError; };
// Cannot create file "<name>". <os reason>
class EFCreateError : public EFileStreamError { public: using EFileStreamError::EFileStreamError; };
// "the stream's read error": Stream read error
class EReadError : public EStreamError { public: using EStreamError::EStreamError; };
// Stream write error
class EWriteError : public EStreamError { public: using EStreamError::EStreamError; };
// Size change or seek that the OS refused.
class EInOutError : public Exception { public: using Exception::Exception; };
// Assignment between unrelated persistent objects.
class EConvertError : public Exception { public: using Exception::Exception; };
