// Running qopc in-process, as from a shell, and keeping what it printed: for
// the suites that link the qopc commands.
#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

#include "commands.h"

namespace veze6::test {

struct QopcRun {
  int code;
  QString out;
  QString err;
};

inline QopcRun runQopc(const QStringList& args) {
  QString out, err;
  QTextStream o(&out), e(&err);
  const int code = qopc::run(args, qopc::Io{o, e});
  o.flush();
  e.flush();
  return {code, out, err};
}

}  // namespace veze6::test
