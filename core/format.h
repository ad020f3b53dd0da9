// Text formatting with the printf-style placeholders the library's message
// texts use ("Unable to connect to OPC server %s", "unknown error : %d").
#pragma once

#include <QString>
#include <QVariant>
#include <initializer_list>

/// Fills the placeholders of fmt in order: %s (text), %d (signed decimal),
/// %u (unsigned decimal), %x (hexadecimal), %% (a percent sign). Integers
/// are read as 32-bit values, so a result code prints as a negative number
/// (0xC0040007 gives -1073479673). Raises EConvertError when an argument is
/// missing, does not fit its placeholder, or the placeholder is unknown.
QString Format(const QString& fmt, std::initializer_list<QVariant> args);
