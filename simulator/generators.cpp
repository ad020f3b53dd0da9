#include "generators.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <string>

#include "opc/taskmem.h"

namespace veze6::sim {

namespace {

template <class T>
bool assign(T& slot, T value) {
  if (std::memcmp(&slot, &value, sizeof(T)) == 0) return false;
  slot = value;
  return true;
}

template <class T>
T clampRound(double x) {
  if (std::isnan(x)) return T(0);
  const double r = std::nearbyint(x);
  if (r <= double(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  if (r >= double(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return static_cast<T>(r);
}

/// Writes a number into one element of an array of `vt` at `p`.
bool storeElement(VARTYPE vt, void* p, double x) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  const std::size_t size = vt == VT_I1 || vt == VT_UI1                    ? 1
                           : vt == VT_I2 || vt == VT_UI2 || vt == VT_BOOL ? 2
                           : vt == VT_I4 || vt == VT_UI4 || vt == VT_R4   ? 4
                                                                          : 8;
  std::memcpy(&v.llVal, p, size);
  if (!storeNumber(v, x)) return false;
  std::memcpy(p, &v.llVal, size);
  return true;
}

/// A small, fast generator of uniform numbers (splitmix64), seeded per item
/// so that runs repeat.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  /// Uniform in [0, 1).
  double unit() { return double(next() >> 11) * 0x1.0p-53; }

 private:
  std::uint64_t state_;
};

std::uint64_t seedOf(std::u16string_view id) {
  std::uint64_t h = 0xCBF29CE484222325ull;  // FNV-1a
  for (char16_t c : id) {
    h ^= std::uint64_t(c);
    h *= 0x100000001B3ull;
  }
  return h;
}

bool isNumberType(VARTYPE vt) { return opc::isNumeric(vt) || vt == VT_BOOL || vt == VT_DATE; }

/// The shape of a periodic signal at a phase in [0, 1), in [0, 1].
double shape(Signal s, double phase) {
  switch (s) {
    case Signal::Ramp:
      return phase;
    case Signal::Sine:
      return 0.5 + 0.5 * std::sin(2.0 * std::numbers::pi * phase);
    case Signal::Square:
      return phase < 0.5 ? 0.0 : 1.0;
    case Signal::Triangle:
      return phase < 0.5 ? 2.0 * phase : 2.0 - 2.0 * phase;
    case Signal::Random:
      break;
  }
  return 0.0;
}

/// Ramp, Sine, Square and Triangle over a range, for scalars and arrays.
class PeriodicGenerator final : public ValueGenerator {
 public:
  PeriodicGenerator(Signal signal, EngineeringRange range, double period)
      : signal_(signal), range_(range), period_(period) {}

  bool next(double seconds, VARIANT& value) override {
    double phase = std::fmod(seconds / period_, 1.0);
    if (phase < 0) phase += 1.0;
    const double level = shape(signal_, phase);
    if (value.vt == VT_BOOL) return storeNumber(value, level >= 0.5 ? 1.0 : 0.0);
    const double x = range_.low + (range_.high - range_.low) * level;
    if (!(value.vt & VT_ARRAY)) return storeNumber(value, x);
    SAFEARRAY* a = value.parray;
    if (!a) return false;
    bool changed = false;
    std::size_t n = 0;
    if (FAILED(opc::safeArrayElementCount(a, &n))) return false;
    for (std::size_t i = 0; i < n; ++i) {
      changed |= storeElement(a->vt, static_cast<char*>(a->pvData) + i * a->cbElements, x);
    }
    return changed;
  }

 private:
  const Signal signal_;
  const EngineeringRange range_;
  const double period_;
};

/// New random values at every sample: numbers over the range, coin tosses,
/// texts and dates.
class RandomGenerator final : public ValueGenerator {
 public:
  RandomGenerator(EngineeringRange range, std::uint64_t seed) : range_(range), random_(seed) {}

  bool next(double /*seconds*/, VARIANT& value) override {
    switch (value.vt) {
      case VT_BOOL:
        return storeNumber(value, random_.next() & 1u ? 1.0 : 0.0);
      case VT_DATE:
        // A moment of one fixed day, to the second.
        return storeNumber(value, kDateBase + std::floor(random_.unit() * 86400.0) / 86400.0);
      case VT_BSTR: {
        const std::string text = "Random " + std::to_string(random_.next() % 100000);
        BSTR b = SysAllocStringLen(nullptr, UINT(text.size()));
        if (!b) return false;
        for (std::size_t i = 0; i < text.size(); ++i) b[i] = char16_t(text[i]);
        SysFreeString(value.bstrVal);
        value.bstrVal = b;
        return true;
      }
      default:
        break;
    }
    if (!(value.vt & VT_ARRAY)) return storeNumber(value, sample());
    SAFEARRAY* a = value.parray;
    if (!a) return false;
    bool changed = false;
    std::size_t n = 0;
    if (FAILED(opc::safeArrayElementCount(a, &n))) return false;
    for (std::size_t i = 0; i < n; ++i) {
      changed |= storeElement(a->vt, static_cast<char*>(a->pvData) + i * a->cbElements, sample());
    }
    return changed;
  }

 private:
  static constexpr double kDateBase = 45366.0;  // 2024-03-15
  double sample() { return range_.low + (range_.high - range_.low) * random_.unit(); }

  const EngineeringRange range_;
  Random random_;
};

}  // namespace

bool storeNumber(VARIANT& v, double x) {
  switch (v.vt) {
    case VT_I1:
      return assign(v.cVal, static_cast<CHAR>(clampRound<std::int8_t>(x)));
    case VT_UI1:
      return assign(v.bVal, clampRound<std::uint8_t>(x));
    case VT_I2:
      return assign(v.iVal, clampRound<std::int16_t>(x));
    case VT_UI2:
      return assign(v.uiVal, clampRound<std::uint16_t>(x));
    case VT_I4:
      return assign(v.lVal, clampRound<std::int32_t>(x));
    case VT_UI4:
      return assign(v.ulVal, clampRound<std::uint32_t>(x));
    case VT_I8:
      return assign(v.llVal, clampRound<std::int64_t>(x));
    case VT_UI8:
      return assign(v.ullVal, clampRound<std::uint64_t>(x));
    case VT_R4:
      return assign(v.fltVal, static_cast<FLOAT>(x));
    case VT_R8:
      return assign(v.dblVal, x);
    case VT_CY:
      return assign(v.cyVal.int64, clampRound<std::int64_t>(x * 10000.0));
    case VT_BOOL:
      return assign(v.boolVal, x != 0.0 ? VARIANT_TRUE : VARIANT_FALSE);
    case VT_DATE:
      return assign(v.date, x);
    default:
      return false;
  }
}

double defaultPeriod(Signal signal) {
  switch (signal) {
    case Signal::Ramp:
    case Signal::Square:
      return 10.0;
    case Signal::Sine:
    case Signal::Triangle:
      return 20.0;
    case Signal::Random:
      break;
  }
  return 0.0;
}

std::unique_ptr<ValueGenerator> makeGenerator(Signal signal, const SimItem& item,
                                              double periodSeconds) {
  const VARTYPE vt = item.canonicalType;
  const VARTYPE base = vt & VT_TYPEMASK;
  const bool array = (vt & VT_ARRAY) != 0;
  // Arrays carry numbers only; texts and dates are Random's alone.
  if (array ? (base == VT_BSTR || base == VT_DATE || !isNumberType(base))
            : (!isNumberType(vt) && !(vt == VT_BSTR && signal == Signal::Random))) {
    return nullptr;
  }
  if (vt == VT_DATE && signal != Signal::Random) return nullptr;
  const EngineeringRange range = item.euRange.value_or(EngineeringRange{0.0, 100.0});
  if (signal == Signal::Random) {
    return std::make_unique<RandomGenerator>(range, seedOf(item.itemId));
  }
  const double period = periodSeconds > 0.0 ? periodSeconds : defaultPeriod(signal);
  return std::make_unique<PeriodicGenerator>(signal, range, period);
}

void animateDefaultItems(AddressSpace& space, FILETIME timeStamp) {
  constexpr std::pair<std::u16string_view, Signal> kBranches[] = {
      {u"Random", Signal::Random}, {u"Ramp", Signal::Ramp},         {u"Sine", Signal::Sine},
      {u"Square", Signal::Square}, {u"Triangle", Signal::Triangle},
  };
  for (const auto& [name, signal] : kBranches) {
    const Branch* branch = space.findBranch(name);
    if (!branch) continue;
    for (SimItem* item : branch->leaves) {
      if (!item->generator) item->generator = makeGenerator(signal, *item);
    }
  }

  const DWORD rw = OPC_READABLE | OPC_WRITEABLE;
  const auto add = [&](std::u16string_view id, VARTYPE type, double start, EngineeringRange range,
                       bool clamp) {
    if (SimItem* item = space.addItem(id, type, rw, OleVariant(start), timeStamp)) {
      item->euRange = range;
      item->clampWrites = clamp;
    }
  };
  add(u"Writable.Clamped.Int4", VT_I4, 50.0, {0.0, 100.0}, true);
  add(u"Writable.Clamped.Real8", VT_R8, 0.0, {-10.0, 10.0}, true);
  add(u"Writable.Limited.Int2", VT_I2, 0.0, {-100.0, 100.0}, false);
  add(u"Writable.Limited.Real4", VT_R4, 50.0, {0.0, 100.0}, false);
}

}  // namespace veze6::sim
