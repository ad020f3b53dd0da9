// The threading rule in debug builds: a component's API is called on the
// thread the component lives on. Compiled out in release builds, like
// Q_ASSERT.
#pragma once

#include <QObject>
#include <QThread>
#include <QtGlobal>

#define VEZE6_ASSERT_OWNING_THREAD(component)                                \
  Q_ASSERT_X(QThread::currentThread() == (component)->thread(), Q_FUNC_INFO, \
             "component API called off its owning thread")
