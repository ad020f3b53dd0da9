// Soak: a client of the built-in simulation server under steady load for a
// given time, to show that memory stays flat and that every server object,
// task memory block and string is given back.
//
//   veze6_soak [--minutes N] [--items N] [--widgets N]
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
// counters and the item values delivered in that minute. At the end, after
// the final disconnect, the counters must equal those before the first
// connect (the items' last values may still hold strings), and once the form
// is destroyed those before it existed; the exit status is 1 when they
// differ, 2 on a failed connect. A thread-sanitizer build runs it with
// TSAN_OPTIONS=ignore_noninstrumented_modules=1, as the tests do: events
// posted through Qt's own (uninstrumented) queue look like races otherwise.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>
#include <QWidget>
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

namespace {

namespace sim = veze6::sim;

struct Options {
  double minutes = 60;
  int items = 10000;
  int widgets = 300;
};

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--minutes")
      o.minutes = std::atof(argv[i + 1]);
    else if (name == "--items")
      o.items = std::atoi(argv[i + 1]);
    else if (name == "--widgets")
      o.widgets = std::atoi(argv[i + 1]);
    else
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
  }
  if (o.minutes <= 0 || o.items < 10 || o.widgets < 0) {
    std::fprintf(stderr, "usage: veze6_soak [--minutes N] [--items N] [--widgets N]\n");
    std::exit(64);
  }
  return o;
}

/// VmRSS of this process in KiB, or -1.
long residentKiB() {
  QFile f(QStringLiteral("/proc/self/status"));
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

class Soak {
 public:
  explicit Soak(const Options& options) : options_(options) {
    server_ = new TqOPCServer(form_.get());
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
    std::printf("start: rss=%ldKiB %s items=%d widgets=%d\n", residentKiB(),
                qPrintable(counters(start_)), options_.items, options_.widgets);
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
    // Completions the server posted before it went away are let through.
    QElapsedTimer wait;
    wait.start();
    while (sim::liveServerCount() != 0 && wait.elapsed() < 10000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::sendPostedEvents();
    // The items keep their last values after a disconnect; their strings are
    // the only server memory the client may still hold.
    const opc::diag::Counters end = opc::diag::snapshot();
    opc::diag::Counters expected = start_;
    expected.bstrs += heldStrings();
    const bool same = end == expected;
    std::printf(
        "end: elapsed=%.1fmin rss=%ldKiB %s servers=%zu errors=%lld connects=%d -> %s (item "
        "values hold %lld strings)\n",
        double(clock_.elapsed()) / 60000.0, residentKiB(), qPrintable(counters(end)),
        sim::liveServerCount(), errors_, connects_,
        same ? "counters back at start" : "COUNTERS DIFFER FROM START",
        static_cast<long long>(heldStrings()));
    form_.reset();
    const opc::diag::Counters gone = opc::diag::snapshot();
    const bool clean = gone == beforeForm_;
    std::printf("form destroyed: %s -> %s\n", qPrintable(counters(gone)),
                clean ? "counters back at zero" : "COUNTERS DIFFER FROM BEFORE THE FORM");
    std::fflush(stdout);
    return same && clean && sim::liveServerCount() == 0 ? 0 : 1;
  }

 private:
  static constexpr int kGroups = 10;
  static constexpr int kRateMs = 100;
  static constexpr int kExtraItems = 500;
  static constexpr int kExtraLabels = 20;

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
    std::printf("minute=%.1f rss=%ldKiB %s itemlists=%lld servers=%zu updates=%lld errors=%lld\n",
                double(clock_.elapsed()) / 60000.0, residentKiB(),
                qPrintable(counters(opc::diag::snapshot())),
                static_cast<long long>(TqOPCItemList::LiveCount()), sim::liveServerCount(),
                static_cast<long long>(updates), errors_);
    std::fflush(stdout);
  }

  Options options_;
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
  sim::registerSimulationServer();
  return Soak(options).run();
}
