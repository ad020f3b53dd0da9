#include "exceptions.h"

#include "opc/syserror.h"

Exception::Exception(const QString& message) : message_(message), utf8_(message.toUtf8()) {}

Exception::~Exception() = default;

void Exception::SetMessage(const QString& message) {
  message_ = message;
  utf8_ = message.toUtf8();
}

EOleSysError::EOleSysError(const QString& message, HRESULT errorCode)
    : EOleError(message), errorCode_(errorCode) {}

QString OleErrorMessage(HRESULT hr) { return QString::fromStdString(opc::comErrorMessage(hr)); }

void OleError(HRESULT hr) { throw EOleSysError(OleErrorMessage(hr), hr); }

void OleCheck(HRESULT hr) {
  if (FAILED(hr)) OleError(hr);
}
