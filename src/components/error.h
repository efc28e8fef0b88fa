#pragma once
// A raised failure, as the system's failure handlers see it: number, description, source.
#include <stdexcept>
#include <string>

namespace etapas {

// Numbers raised by the data API itself (the provider's own numbers are the engines').
namespace errnum {
inline constexpr long kTypeMismatch = 13;
inline constexpr long kInvalidArgument = 5;      // "Invalid procedure call or argument"
inline constexpr long kNoCurrentRecord = 3021;   // BOF or EOF, or the record was deleted
inline constexpr long kNotSupported = 3251;      // the recordset does not support the operation
inline constexpr long kItemNotFound = 3265;      // no field of that name or position
inline constexpr long kObjectClosed = 3704;      // operation on a closed object
inline constexpr long kConnectionClosed = 3709;  // the connection is closed or invalid
inline constexpr long kRowNotFound = 3640;       // the row to update is no longer there
}  // namespace errnum

class RaisedError : public std::runtime_error {
 public:
  RaisedError(long number, std::string description, std::string source = "etapas")
      : std::runtime_error(description), number_(number),
        description_(std::move(description)), source_(std::move(source)) {}
  long Number() const { return number_; }
  const std::string& Description() const { return description_; }
  const std::string& Source() const { return source_; }

 private:
  long number_;
  std::string description_;
  std::string source_;
};

}  // namespace etapas
