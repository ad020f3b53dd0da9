// Soak: a client of the built-in simulation server under steady load for a
// given time, to show that memory stays flat and that every server object,
// task memory block and string is given back.
//
//   veze6_soak [--minutes N] [--items N] [--widgets N]
//              [--computer HOST[:PORT] | --remote]
//
// With --computer the server is the simulation server on that computer,
// reached through its qopcd; --remote starts a qopcd of its own on a free
// loopback port for the run and reports that process's resident memory and
// the objects it holds for the client too.
//
// The form holds one server component on Veze6.Simulation.1 with 10,000
// items (10 groups at 100 ms over the server's live items, one id used by
// many items), a few hundred bound widgets (QLineEdit, QLabel, QSpinBox), and
// a group of the writable items. While it runs:
//   - every second one writable item is written, synchronously and
//     asynchronously in turn;
//   - every 5 s one group changes: update rate 200 ms, back to 100 ms,
//     inactive, active again;
//   - every 20 s a group of 500 items with 20 bound labels is added, or the
//     one added before is removed (its labels deleted before or after it);
//   - every 2 minutes (first at 1.5) the client disconnects and connects
//     again 2 s later.
// Once a minute it prints elapsed time, resident memory, the platform's live
// counters and the item values delivered in that minute (with a qopcd of its
// own also the host's resident memory, the server objects it holds for the
// client and the connections it has open). At the end, after
// the final disconnect, the counters must equal those before the first
// connect (the items' last values may still hold strings), and once the form
// is destroyed those before it existed; the exit status is 1 when they
// differ (or when the host still holds objects for the client), 2 on a failed
// connect. A thread-sanitizer build runs it with
// TSAN_OPTIONS=ignore_noninstrumented_modules=1, as the tests do: events
// posted through Qt's own (uninstrumented) queue look like races otherwise.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QTimer>
#include <QWidget>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "binding/qOPCGUI.h"
#include "core/qOPC.h"
#include "opc/diag.h"
#include "simulator/simulator.h"

extern char** environ;

namespace {

namespace sim = veze6::sim;

struct Options {
  double minutes = 60;
  int items = 10000;
  int widgets = 300;
  QString computer;     ///< the server's computer; empty: this process
  bool remote = false;  ///< on a qopcd of our own
};

Options parse(int argc, char** argv) {
  Options o;
  bool bad = false;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--remote") {
      o.remote = true;
      continue;
    }
    if (i + 1 >= argc) {
      bad = true;
      break;
    }
    const char* value = argv[++i];
    if (name == "--minutes")
      o.minutes = std::atof(value);
    else if (name == "--items")
      o.items = std::atoi(value);
    else if (name == "--widgets")
      o.widgets = std::atoi(value);
    else if (name == "--computer")
      o.computer = QString::fromLocal8Bit(value);
    else
      bad = true;
  }
  if (bad || o.minutes <= 0 || o.items < 10 || o.widgets < 0 ||
      (o.remote && !o.computer.isEmpty())) {
    std::fprintf(stderr,
                 "usage: veze6_soak [--minutes N] [--items N] [--widgets N]\n"
                 "                  [--computer HOST[:PORT] | --remote]\n");
    std::exit(64);
  }
  return o;
}

/// VmRSS of a process (this one by default) in KiB, or -1.
long residentKiB(const QString& pid = QStringLiteral("self")) {
  QFile f(QStringLiteral("/proc/%1/status").arg(pid));
  if (!f.open(QIODevice::ReadOnly)) return -1;
  for (QByteArray line = f.readLine(); !line.isEmpty(); line = f.readLine())
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
  return -1;
}

QString counters(const opc::diag::Counters& c) {
  return QStringLiteral("task=%1 bstr=%2 objects=%3 global=%4 safearray=%5")
      .arg(c.taskAllocations)
      .arg(c.bstrs)
      .arg(c.objects)
      .arg(c.globals)
      .arg(c.safeArrays);
}

/// The items of the standard address space whose values the server changes
/// on every scan.
const std::vector<QString>& liveItemIds() {
  static const std::vector<QString> ids = [] {
    std::vector<QString> out;
    for (const char* leaf : {"Int1", "Int2", "Int4", "Real4", "Real8", "Money"}) {
      for (const char* branch : {"Random", "Ramp", "Sine", "Triangle"})
        out.push_back(QStringLiteral("%1.%2").arg(QLatin1String(branch), QLatin1String(leaf)));
    }
    for (const char* leaf : {"UInt1", "UInt2", "UInt4"}) {
      for (const char* branch : {"Random", "Ramp"})
        out.push_back(QStringLiteral("%1.%2").arg(QLatin1String(branch), QLatin1String(leaf)));
    }
    for (const char* id : {"Random.Boolean", "Random.String", "Random.Date", "Square.Boolean",
                           "Square.Int4", "Square.Real8"})
      out.push_back(QLatin1String(id));
    return out;
  }();
  return ids;
}

/// A qopcd of the soak's own, on a free loopback port, ended with the soak.
/// Its log is read as it comes (a full pipe would stall it) and counted:
/// server objects created and released, connections opened and closed.
class HostProcess {
 public:
  HostProcess() = default;
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;
  ~HostProcess() {
    notifier_.reset();
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) ::close(fd_);
  }

  /// Starts the daemon and waits (up to 20 s) until it listens.
  bool start(const char* program) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDERR_FILENO);
    const char* args[] = {program, "--port", "0", nullptr};
    if (::posix_spawn(&pid_, program, &actions, nullptr, const_cast<char**>(args), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    fd_ = pipe[0];
    if (pid_ <= 0) return false;
    ::fcntl(fd_, F_SETFL, O_NONBLOCK);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (computer_.isEmpty() && std::chrono::steady_clock::now() < until) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 100) < 0 || !read()) break;
    }
    if (computer_.isEmpty()) return false;
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { read(); });
    return true;
  }

  /// "127.0.0.1:PORT"
  const QString& computer() const { return computer_; }
  long residentKiB() const { return ::residentKiB(QString::number(pid_)); }
  /// Server objects the host holds for its clients.
  long long objects() const { return created_ - released_; }
  long long connections() const { return connected_ - closed_; }
  QString text() const {
    return QStringLiteral("host_rss=%1KiB host_objects=%2 host_connections=%3 host_created=%4")
        .arg(residentKiB())
        .arg(objects())
        .arg(connections())
        .arg(created_);
  }

 private:
  /// Takes what the daemon wrote; false at its end.
  bool read() {
    char buffer[4096];
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    if (n <= 0) {
      // The daemon is gone; the notifier would fire for ever.
      if (notifier_) notifier_->setEnabled(false);
      return false;
    }
    pending_.append(buffer, int(n));
    for (int end; (end = pending_.indexOf('\n')) >= 0; pending_.remove(0, end + 1))
      line(pending_.left(end));
    return true;
  }

  void line(const QByteArray& text) {
    static const QByteArray listening = "listening on ";
    if (const auto at = text.indexOf(listening); at >= 0 && computer_.isEmpty()) {
      computer_ = QString::fromLatin1(text.mid(at + listening.size()).trimmed());
    } else if (text.contains(": created ")) {
      ++created_;
    } else if (text.contains(": released ")) {
      ++released_;
    } else if (text.endsWith(": connected") || text.contains(": connected: ")) {
      ++connected_;
    } else if (text.endsWith(": closed")) {
      ++closed_;
    } else if (text.contains("error") || text.contains("failed")) {
      std::printf("host: %s\n", text.constData());
    }
  }

  pid_t pid_ = -1;
  int fd_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
  QByteArray pending_;
  QString computer_;
  long long created_ = 0, released_ = 0, connected_ = 0, closed_ = 0;
};

class Soak {
 public:
  Soak(const Options& options, const HostProcess* host) : options_(options), host_(host) {
    server_ = new TqOPCServer(form_.get());
    server_->SetComputername(host ? host->computer() : options.computer);
    server_->SetServer(QString::fromStdU16String(std::u16string(sim::kSimulationProgId)));
    server_->OnDatachange = [this](QObject*, TqOPCItemList* list) {
      if (list) updates_ += list->Count();
    };
    server_->OnError = [this](QObject*, const QString& text, bool& handled) {
      handled = true;
      noteError(text);
    };
    gui_ = new TqOPCGUI(form_.get());
    gui_->SetOPCServer(server_);

    const auto& ids = liveItemIds();
    const int perGroup = options_.items / kGroups;
    for (int g = 0; g < kGroups; ++g) {
      TqOPCGroup* group = server_->OPCGroups()->Add(QStringLiteral("soak%1").arg(g));
      group->SetUpdateRate(kRateMs);
      for (int i = 0; i < perGroup; ++i)
        group->OPCItems()->AddItem(ids[std::size_t(g * perGroup + i) % ids.size()]);
      groups_.push_back(group);
    }
    writes_ = server_->OPCGroups()->Add(QStringLiteral("writes"));
    writes_->SetUpdateRate(kRateMs);
    for (const char* id : {"Writable.Int4", "Writable.Real8", "Writable.String"})
      writes_->OPCItems()->AddItem(QLatin1String(id));

    // Spin boxes take the integer items, the text widgets any item.
    for (int w = 0; w < options_.widgets; ++w) {
      TqOPCGroup* group = groups_[std::size_t(w) % groups_.size()];
      TqOPCItems* items = group->OPCItems();
      const int kind = w % 3;
      int index = (w * 7) % items->Count();
      if (kind == 2) {
        while (!items->Items(index)->ItemID().contains(QLatin1String("Int")))
          index = (index + 1) % items->Count();
      }
      QWidget* control = kind == 0   ? static_cast<QWidget*>(new QLineEdit(form_.get()))
                         : kind == 1 ? static_cast<QWidget*>(new QLabel(form_.get()))
                                     : static_cast<QWidget*>(new QSpinBox(form_.get()));
      gui_->AddItem(items->Items(index), control, QString());
    }
    gui_->AddItem(writes_->OPCItems()->Items(0), new QSpinBox(form_.get()), QString());
    gui_->AddItem(writes_->OPCItems()->Items(2), new QLineEdit(form_.get()), QString());
  }

  /// Runs the load for the given time; returns the exit status.
  int run() {
    start_ = opc::diag::snapshot();
    std::printf("start: rss=%ldKiB %s items=%d widgets=%d computer=%s%s\n", residentKiB(),
                qPrintable(counters(start_)), options_.items, options_.widgets,
                qPrintable(server_->ComputerName().isEmpty() ? QStringLiteral("(this process)")
                                                             : server_->ComputerName()),
                qPrintable(hostText()));
    std::fflush(stdout);
    if (!connectServer()) return 2;
    clock_.start();

    every(1000, [this] { writeOne(); });
    every(5000, [this] { changeGroup(); });
    every(20000, [this] { toggleExtraGroup(); });
    every(
        120000, [this] { reconnect(); }, 90000);  // away from the reports
    every(60000, [this] { report(); });
    QTimer::singleShot(qint64(options_.minutes * 60000), form_.get(),
                       [] { QCoreApplication::quit(); });
    QCoreApplication::exec();

    finishing_ = true;
    for (QTimer* t : timers_) t->stop();
    removeExtraGroup();
    server_->SetActive(false);
    // The items keep their last values after a disconnect; their strings are
    // the only server memory the client may still hold.
    const auto expected = [this] {
      opc::diag::Counters e = start_;
      e.bstrs += heldStrings();
      return e;
    };
    // Completions the server posted before it went away are let through, and
    // a host's releases arrive there.
    const auto settled = [&] {
      return sim::liveServerCount() == 0 && opc::diag::snapshot() == expected() &&
             (!host_ || (host_->objects() == 0 && host_->connections() == 0));
    };
    QElapsedTimer wait;
    wait.start();
    while (!settled() && wait.elapsed() < 10000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::sendPostedEvents();
    const opc::diag::Counters end = opc::diag::snapshot();
    const bool same = end == expected();
    const bool hostClean = !host_ || host_->objects() == 0;
    std::printf(
        "end: elapsed=%.1fmin rss=%ldKiB %s servers=%zu errors=%lld connects=%d%s -> %s%s (item "
        "values hold %lld strings)\n",
        double(clock_.elapsed()) / 60000.0, residentKiB(), qPrintable(counters(end)),
        sim::liveServerCount(), errors_, connects_, qPrintable(hostText()),
        same ? "counters back at start" : "COUNTERS DIFFER FROM START",
        hostClean ? "" : ", HOST STILL HOLDS OBJECTS", static_cast<long long>(heldStrings()));
    form_.reset();
    const opc::diag::Counters gone = opc::diag::snapshot();
    const bool clean = gone == beforeForm_;
    std::printf("form destroyed: %s -> %s\n", qPrintable(counters(gone)),
                clean ? "counters back at zero" : "COUNTERS DIFFER FROM BEFORE THE FORM");
    std::fflush(stdout);
    return same && clean && hostClean && sim::liveServerCount() == 0 ? 0 : 1;
  }

 private:
  static constexpr int kGroups = 10;
  static constexpr int kRateMs = 100;
  static constexpr int kExtraItems = 500;
  static constexpr int kExtraLabels = 20;

  QString hostText() const { return host_ ? QLatin1Char(' ') + host_->text() : QString(); }

  /// Strings held by the items' last values and values written.
  std::int64_t heldStrings() const {
    std::int64_t n = 0;
    const auto count = [&n](const OleVariant& v) { n += v.vt() == VT_BSTR ? 1 : 0; };
    TqOPCGroups* groups = server_->OPCGroups();
    for (int g = 0; g < groups->Count(); ++g) {
      TqOPCItems* items = groups->Items(g)->OPCItems();
      for (int i = 0; i < items->Count(); ++i) {
        count(items->Items(i)->Value());
        count(items->Items(i)->WriteValue());
      }
    }
    return n;
  }

  /// Runs action every ms, the first time after firstMs (default: ms).
  void every(int ms, std::function<void()> action, int firstMs = 0) {
    auto* timer = new QTimer(form_.get());
    QObject::connect(timer, &QTimer::timeout, form_.get(), [this, action = std::move(action)] {
      try {
        action();
      } catch (const std::exception& e) {
        noteError(QString::fromUtf8(e.what()));
      }
    });
    timers_.push_back(timer);
    if (firstMs == 0) {
      timer->start(ms);
      return;
    }
    QTimer::singleShot(firstMs, timer, [timer, ms] {
      QMetaObject::invokeMethod(timer, "timeout");
      timer->start(ms);
    });
  }

  void noteError(const QString& text) {
    // The first few are shown; the count goes into every report.
    if (++errors_ <= 10) std::printf("error: %s\n", qPrintable(text));
  }

  bool connectServer() {
    try {
      server_->SetActive(true);
      ++connects_;
      return server_->Active();
    } catch (const std::exception& e) {
      std::printf("connect failed: %s\n", e.what());
      return false;
    }
  }

  void writeOne() {
    if (!server_->Active()) return;
    const int n = writeCount_++;
    TqOPCItem* item = writes_->OPCItems()->Items(n % 3);
    OleVariant value = n % 3 == 0 ? OleVariant(LONG(n % 1000))
                       : n % 3 == 1
                           ? OleVariant(double(n) * 0.5)
                           : OleVariant(QStringLiteral("write %1").arg(n).toStdU16String());
    if (n % 2)
      item->WriteAsync(value);
    else
      item->WriteSync(value);
  }

  void changeGroup() {
    const int step = changeCount_++;
    TqOPCGroup* group = groups_[std::size_t(step / 4) % groups_.size()];
    switch (step % 4) {
      case 0:
        group->SetUpdateRate(2 * kRateMs);
        break;
      case 1:
        group->SetUpdateRate(kRateMs);
        break;
      case 2:
        group->SetIsActive(false);
        break;
      default:
        group->SetIsActive(true);
        break;
    }
  }

  void toggleExtraGroup() {
    if (extra_) {
      removeExtraGroup();
      return;
    }
    const auto& ids = liveItemIds();
    extra_ = server_->OPCGroups()->Add(QStringLiteral("extra"));
    extra_->SetUpdateRate(kRateMs);
    server_->SetBatchMode(true);
    for (int i = 0; i < kExtraItems; ++i)
      extra_->OPCItems()->AddItem(ids[std::size_t(i) % ids.size()]);
    server_->SetBatchMode(false);
    if (server_->Active()) extra_->OPCItems()->OPCAddAllItems();
    for (int i = 0; i < kExtraLabels; ++i) {
      auto* label = new QLabel(form_.get());
      gui_->AddItem(extra_->OPCItems()->Items(i * 7), label, QString());
      extraLabels_.push_back(label);
    }
  }

  /// Removes the extra group; every other time its labels go first, the
  /// other times the group goes while they are still bound.
  void removeExtraGroup() {
    if (!extra_) return;
    const bool labelsFirst = extraCycles_++ % 2 == 0;
    if (labelsFirst) deleteExtraLabels();
    server_->OPCGroups()->Remove(QStringLiteral("extra"));
    extra_ = nullptr;
    if (!labelsFirst) deleteExtraLabels();
  }

  void deleteExtraLabels() {
    for (QLabel* label : extraLabels_) delete label;
    extraLabels_.clear();
  }

  void reconnect() {
    server_->SetActive(false);
    QTimer::singleShot(2000, form_.get(), [this] {
      if (!finishing_ && !connectServer()) noteError(QStringLiteral("reconnect failed"));
    });
  }

  void report() {
    const qint64 updates = updates_;
    updates_ = 0;
    std::printf("minute=%.1f rss=%ldKiB %s itemlists=%lld servers=%zu updates=%lld errors=%lld%s\n",
                double(clock_.elapsed()) / 60000.0, residentKiB(),
                qPrintable(counters(opc::diag::snapshot())),
                static_cast<long long>(TqOPCItemList::LiveCount()), sim::liveServerCount(),
                static_cast<long long>(updates), errors_, qPrintable(hostText()));
    std::fflush(stdout);
  }

  Options options_;
  const HostProcess* host_;
  /// Before the form exists: where the counters must be once it is gone.
  const opc::diag::Counters beforeForm_ = opc::diag::snapshot();
  std::unique_ptr<QWidget> form_ = std::make_unique<QWidget>();
  TqOPCServer* server_ = nullptr;
  TqOPCGUI* gui_ = nullptr;
  std::vector<TqOPCGroup*> groups_;
  TqOPCGroup* writes_ = nullptr;
  TqOPCGroup* extra_ = nullptr;
  std::vector<QLabel*> extraLabels_;
  std::vector<QTimer*> timers_;
  opc::diag::Counters start_{};
  QElapsedTimer clock_;
  qint64 updates_ = 0;
  long long errors_ = 0;
  int connects_ = 0;
  int writeCount_ = 0;
  int changeCount_ = 0;
  int extraCycles_ = 0;
  bool finishing_ = false;  ///< the final disconnect is under way
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const Options options = parse(argc, argv);
  // The ProgID is resolved on this computer, as clients do.
  sim::registerSimulationServer();
  std::unique_ptr<HostProcess> host;
  if (options.remote) {
#ifdef VEZE6_QOPCD
    host = std::make_unique<HostProcess>();
    if (!host->start(VEZE6_QOPCD)) {
      std::fprintf(stderr, "qopcd did not start listening (%s)\n", VEZE6_QOPCD);
      return 2;
    }
#else
    std::fprintf(stderr, "--remote: this build has no qopcd\n");
    return 64;
#endif
  }
  return Soak(options, host.get()).run();
}
