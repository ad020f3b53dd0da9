// The exception hierarchy of the library, rooted in Exception. Exceptions are
// thrown by value and caught by reference; each carries its message as text
// (Message()) and as UTF-8 (what()).
#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

#include "opc/comtypes.h"

/// Base of every exception the library raises.
class Exception : public std::exception {
 public:
  explicit Exception(const QString& message);
  ~Exception() override;

  const QString& Message() const { return message_; }
  void SetMessage(const QString& message);
  /// The message in UTF-8; valid as long as the exception object lives.
  const char* what() const noexcept override { return utf8_.constData(); }
  /// The class name, for reports ("Exception", "EOPCException"...).
  virtual const char* ClassName() const { return "Exception"; }

 private:
  QString message_;
  QByteArray utf8_;
};

#define VEZE6_EXCEPTION_CLASS(Name, Base)                    \
  class Name : public Base {                                 \
   public:                                                   \
    using Base::Base;                                        \
    const char* ClassName() const override { return #Name; } \
  };

/// Failures of the COM-style platform, without a result code.
VEZE6_EXCEPTION_CLASS(EOleError, Exception)

/// A failed COM-style call: the system's text for the code, and the code.
class EOleSysError : public EOleError {
 public:
  EOleSysError(const QString& message, HRESULT errorCode);
  HRESULT ErrorCode() const { return errorCode_; }
  void SetErrorCode(HRESULT code) { errorCode_ = code; }
  const char* ClassName() const override { return "EOleSysError"; }

 private:
  HRESULT errorCode_;
};

/// A value that cannot be converted (text to number, variant to text...).
VEZE6_EXCEPTION_CLASS(EConvertError, Exception)
/// Malformed text in the textual component format.
VEZE6_EXCEPTION_CLASS(EParserError, Exception)
/// Stream failures.
VEZE6_EXCEPTION_CLASS(EStreamError, Exception)
/// Reading or writing components from or to a stream.
VEZE6_EXCEPTION_CLASS(EFilerError, EStreamError)
/// A stream holds an unknown property or a bad value.
VEZE6_EXCEPTION_CLASS(EReadError, EFilerError)
/// A file that cannot be opened.
VEZE6_EXCEPTION_CLASS(EFOpenError, EStreamError)
/// A file that cannot be created or replaced.
VEZE6_EXCEPTION_CLASS(EFCreateError, EStreamError)
/// An index outside a list or collection.
VEZE6_EXCEPTION_CLASS(EListError, Exception)

#undef VEZE6_EXCEPTION_CLASS

/// Raises EOleSysError for hr with the system's text for it.
[[noreturn]] void OleError(HRESULT hr);
/// Raises EOleSysError when hr is a failure code; does nothing otherwise.
void OleCheck(HRESULT hr);
/// The text an EOleSysError carries for hr.
QString OleErrorMessage(HRESULT hr);
