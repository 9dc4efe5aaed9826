#pragma once
// Exception hierarchy and small system helpers shared by every layer.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace lumora {

// Root of the program's exceptions; `Message` is the English text the program defines.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

class EConvertError : public Exception { using Exception::Exception; };
class ERangeError : public Exception { using Exception::Exception; };
class EOutOfMemory : public Exception { using Exception::Exception; };
class EStreamError : public Exception { using Exception::Exception; };
class EReadError : public EStreamError { using EStreamError::EStreamError; };
class EWriteError : public EStreamError { using EStreamError::EStreamError; };
class EFOpenError : public EStreamError { using EStreamError::EStreamError; };
class EFCreateError : public EStreamError { using EStreamError::EStreamError; };
class EInvalidGraphic : public Exception { using Exception::Exception; };
class EInvalidGraphicOperation : public Exception { using Exception::Exception; };
class ERegistryException : public Exception { using Exception::Exception; };
class EThread : public Exception { using Exception::Exception; };

// Text to integer the framework's way: optional sign, decimal or "$"/"0x" hexadecimal, no trailing junk.
bool TryStrToInt(const std::string& text, int& value);
int StrToIntDef(const std::string& text, int fallback);
int StrToInt(const std::string& text); // throws EConvertError
std::string IntToStr(int64_t value);
std::string IntToHex(uint64_t value, int digits);
std::string UpperCase(const std::string& text); // ASCII only
std::string LowerCase(const std::string& text); // ASCII only
bool SameText(const std::string& a, const std::string& b); // ASCII case-insensitive
std::string Trim(const std::string& text);
std::string ExtractFileExt(const std::string& path);   // ".ext" with the dot, or empty
std::string ExtractFileName(const std::string& path);
std::string ExtractFilePath(const std::string& path);  // with the trailing "/"
std::string ChangeFileExt(const std::string& path, const std::string& ext);
std::string IncludeTrailingPathDelimiter(const std::string& path);
std::string ExcludeTrailingPathDelimiter(const std::string& path);
bool FileExists(const std::string& path);     // a regular file (links followed)
bool DirectoryExists(const std::string& path);
// Size in bytes of a regular file (links followed), or -1 when there is none.
int64_t FileSize(const std::string& path);
// A file-system name or path as shown, in UTF-8: each name of it as it reads in UTF-8, or when it
// is not UTF-8, read as 8-bit legacy text (DecodeLegacyText: the CP932 or Windows-1252 reading
// that is more plausible). For the eye only: a name that is not UTF-8 cannot come back from the shown
// text, so whoever opens the file again keeps the bytes the file system gave.
std::string FileNameUtf8(const std::string& bytes);
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace lumora
