#include "qopcstrings.h"

#include <QCoreApplication>

QString _STR_NOTACTIVE() { return QCoreApplication::translate("qOPC", "not connected to server"); }
QString _STR_NODCOM() {
  return QCoreApplication::translate("qOPC", "Failed to initialize DCOM security");
}
QString _STR_NOServer() { return QCoreApplication::translate("qOPC", "first define servername"); }
QString _STR_NOREGISTER() {
  return QCoreApplication::translate("qOPC", "OPC Server %s not found on computer %s");
}
QString _STR_NOCONNECT() {
  return QCoreApplication::translate("qOPC", "Unable to connect to OPC server %s");
}
QString _STR_NOBROWSER() {
  return QCoreApplication::translate("qOPC", "Browser interface not found");
}
QString _STR_UNKNOWN() { return QCoreApplication::translate("qOPC", "unknown error : %d"); }
QString _STR_GROUPNOTFOUND() { return QCoreApplication::translate("qOPC", "group not found"); }
QString _STR_GROUPEXITS() { return QCoreApplication::translate("qOPC", "group %s already exists"); }
QString _STR_NOSERVERHANDLE() {
  return QCoreApplication::translate("qOPC", "item %s not exists on OPCServer");
}
QString _STR_HASSERVERHANDLE() {
  return QCoreApplication::translate("qOPC", "item %s already exists on OPCServer");
}
QString _STR_NOTPOSSIBLE() {
  return QCoreApplication::translate("qOPC", "not possible if connected to OPC Server");
}
QString _STR_WRITERROR() { return QCoreApplication::translate("qOPC", "cannot write Items:"); }
QString _STR_ADDITEMSERROR() { return QCoreApplication::translate("qOPC", "cannot add Items:"); }
QString _STR_WRONGFILE() { return QCoreApplication::translate("qOPC", "wrong fileformat"); }
