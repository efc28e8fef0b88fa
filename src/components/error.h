#pragma once
// A raised failure, as the system's failure handlers see it: number, description, source.
#include <stdexcept>
#include <string>

namespace etapas {

// Numbers the system raises itself, as the platform numbers them (the provider's own
// numbers are the engines').
namespace errnum {
inline constexpr long kApiFailure = 0;       // a system call refused, reported by its library
inline constexpr long kInvalidArgument = 5;  // "Invalid procedure call or argument"
inline constexpr long kOverflow = 6;
inline constexpr long kOutOfMemory = 7;
inline constexpr long kSubscriptOutOfRange = 9;
inline constexpr long kTypeMismatch = 13;
inline constexpr long kFileNotFound = 53;
inline constexpr long kDiskFull = 61;
inline constexpr long kPermissionDenied = 70;
inline constexpr long kPathFileAccess = 75;  // "Path/File access error"
inline constexpr long kPathNotFound = 76;
inline constexpr long kObjectNotSet = 91;  // "Object variable or With block variable not set"
inline constexpr long kResourceNotFound = 326;
inline constexpr long kAutomationError = 440;
inline constexpr long kControlNotFound = 730;
inline constexpr long kNotASkin = 31036;          // a skin file this program cannot read
inline constexpr long kIndexOutOfBounds = 35600;  // an image list's index
inline constexpr long kNoCurrentRecord = 3021;    // BOF or EOF, or the record was deleted
inline constexpr long kNotSupported = 3251;       // the recordset does not support the operation
inline constexpr long kItemNotFound = 3265;       // no field of that name or position
inline constexpr long kObjectClosed = 3704;       // operation on a closed object
inline constexpr long kConnectionClosed = 3709;   // the connection is closed or invalid
inline constexpr long kRowNotFound = 3640;        // the row to update is no longer there
}  // namespace errnum

class RaisedError : public std::runtime_error {
 public:
  RaisedError(long number, std::string description, std::string source = "etapas")
      : std::runtime_error(description),
        number_(number),
        description_(std::move(description)),
        source_(std::move(source)) {}
  long Number() const { return number_; }
  const std::string& Description() const { return description_; }
  const std::string& Source() const { return source_; }

 private:
  long number_;
  std::string description_;
  std::string source_;
};

// The failure of using an object that was never set (a recordset or connection not open).
inline RaisedError ObjectNotSet() {
  return RaisedError(errnum::kObjectNotSet, "Object variable or With block variable not set");
}

}  // namespace etapas
