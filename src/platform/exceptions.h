// The exception classes of the runtime. Each carries an error number and a
// message; ClassName() is what the unhandled-exception report names.
#pragma once

#include <stdexcept>
#include <string>

class RuntimeException : public std::runtime_error {
 public:
  explicit RuntimeException(std::string message = {}, int errorNumber = 0);
  ~RuntimeException() override;

  int ErrorNumber;
  std::string Message;
  // What the failure concerns, for the person who reads the report (the
  // settings file's path, say); set by a caller on its way out, never part
  // of Message. Empty unless a caller set it.
  std::string Context;

  virtual const char* ClassName() const { return "RuntimeException"; }
};

#define ORVANDE_DECLARE_EXCEPTION(Name)                      \
  class Name : public RuntimeException {                     \
   public:                                                   \
    using RuntimeException::RuntimeException;                \
    ~Name() override;                                        \
    const char* ClassName() const override { return #Name; } \
  };

ORVANDE_DECLARE_EXCEPTION(NilObjectException)
ORVANDE_DECLARE_EXCEPTION(IOException)
ORVANDE_DECLARE_EXCEPTION(JSONException)
ORVANDE_DECLARE_EXCEPTION(KeyNotFoundException)
ORVANDE_DECLARE_EXCEPTION(OutOfBoundsException)
ORVANDE_DECLARE_EXCEPTION(ThreadAccessingUIException)

#undef ORVANDE_DECLARE_EXCEPTION

// One line that names the class, the number and the message, as the
// unhandled-exception report writes it: "JSONException 6: Missing , or }",
// followed by the context in parentheses when there is one:
// "JSONException 6: Missing , or } (settings file /home/u/...)".
std::string DescribeException(const RuntimeException& e);
