// The library's own message texts, for the library and for applications.
// Placeholders "%s" (a name) and "%d" (a result code, signed decimal) are
// filled with Format. The texts go through QCoreApplication::translate in
// the context "qOPC", so an installed translator can replace them.
#pragma once

#include <QString>

QString _STR_NOTACTIVE();        ///< "not connected to server"
QString _STR_NODCOM();           ///< "Failed to initialize DCOM security"
QString _STR_NOServer();         ///< "first define servername"
QString _STR_NOREGISTER();       ///< "OPC Server %s not found on computer %s"
QString _STR_NOCONNECT();        ///< "Unable to connect to OPC server %s"
QString _STR_NOBROWSER();        ///< "Browser interface not found"
QString _STR_UNKNOWN();          ///< "unknown error : %d"
QString _STR_GROUPNOTFOUND();    ///< "group not found"
QString _STR_GROUPEXITS();       ///< "group %s already exists"
QString _STR_NOSERVERHANDLE();   ///< "item %s not exists on OPCServer"
QString _STR_HASSERVERHANDLE();  ///< "item %s already exists on OPCServer"
QString _STR_NOTPOSSIBLE();      ///< "not possible if connected to OPC Server"
QString _STR_WRITERROR();        ///< "cannot write Items:"
QString _STR_ADDITEMSERROR();    ///< "cannot add Items:"
QString _STR_WRONGFILE();        ///< "wrong fileformat"
