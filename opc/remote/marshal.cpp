#include <limits>

#include "marshal_p.h"
#include "opc/OPCDA.h"
#include "opc/scalar.h"

namespace opc::remote {

void setGuid(wire::Guid::Builder out, REFGUID guid) {
  out.setData1(guid.Data1);
  out.setData2(guid.Data2);
  out.setData3(guid.Data3);
  std::uint64_t d4 = 0;
  for (int i = 7; i >= 0; --i) d4 = (d4 << 8) | guid.Data4[i];
  out.setData4(d4);
}

GUID guidFrom(wire::Guid::Reader in) {
  GUID g{in.getData1(), in.getData2(), in.getData3(), {}};
  std::uint64_t d4 = in.getData4();
  for (auto& b : g.Data4) {
    b = static_cast<std::uint8_t>(d4 & 0xFF);
    d4 >>= 8;
  }
  return g;
}

bool readWide(capnp::Data::Reader in, std::u16string& out) {
  if (in.size() % 2 != 0) return false;
  out.resize(in.size() / 2);
  if (!in.size()) return true;
  std::memcpy(out.data(), in.begin(), in.size());
  return true;
}

bool taskWide(bool has, capnp::Data::Reader in, LPWSTR* out) {
  *out = nullptr;
  if (!has) return true;
  std::u16string s;
  if (!readWide(in, s)) return false;
  *out = taskStringDup(s);
  return *out != nullptr;
}

bool readVariantAt(wire::Variant::Reader in, VARIANT* out, int depth);

namespace {

constexpr int kMaxVariantDepth = 8;

bool wireScalar(VARTYPE vt) { return isPlainVariantType(vt) && vt != VT_EMPTY && vt != VT_NULL; }

HRESULT setVariantAt(wire::Variant::Builder out, const VARIANT& v, int depth);

HRESULT setArray(wire::VariantArray::Builder out, const SAFEARRAY* psa, VARTYPE element,
                 int depth) {
  if (!psa || psa->cDims != 1) return DISP_E_BADVARTYPE;
  std::size_t count = 0;
  if (FAILED(safeArrayElementCount(psa, &count))) return E_INVALIDARG;
  if (count > std::numeric_limits<capnp::uint>::max() / 16) return E_OUTOFMEMORY;
  out.setLowerBound(psa->rgsabound[0].lLbound);
  if (element == VT_BSTR) {
    auto texts = out.initTexts(static_cast<capnp::uint>(count));
    const auto* items = static_cast<const BSTR*>(psa->pvData);
    for (std::size_t i = 0; i < count; ++i) {
      texts.set(static_cast<capnp::uint>(i),
                wideData(std::u16string_view(items[i], SysStringLen(items[i]))));
    }
    return S_OK;
  }
  if (element == VT_VARIANT) {
    auto variants = out.initVariants(static_cast<capnp::uint>(count));
    const auto* items = static_cast<const VARIANT*>(psa->pvData);
    for (std::size_t i = 0; i < count; ++i) {
      const HRESULT hr = setVariantAt(variants[static_cast<capnp::uint>(i)], items[i], depth + 1);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }
  if (!wireScalar(element)) return DISP_E_BADVARTYPE;
  const std::size_t size = valueSize(element);
  auto raw = out.initRaw(static_cast<capnp::uint>(count * size));
  if (count) std::memcpy(raw.begin(), psa->pvData, count * size);
  return S_OK;
}

HRESULT setVariantAt(wire::Variant::Builder out, const VARIANT& v, int depth) {
  if (depth > kMaxVariantDepth) return DISP_E_BADVARTYPE;
  out.setVt(v.vt);
  if (v.vt == VT_EMPTY || v.vt == VT_NULL) {
    out.setNone();
    return S_OK;
  }
  if (v.vt == VT_BSTR) {
    out.setText(wideData(std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal))));
    return S_OK;
  }
  if (v.vt & VT_ARRAY) {
    const VARTYPE element = v.vt & VT_TYPEMASK;
    if ((v.vt & ~(VT_ARRAY | VT_TYPEMASK)) != 0) return DISP_E_BADVARTYPE;
    return setArray(out.initArray(), v.parray, element, depth);
  }
  if (!wireScalar(v.vt)) return DISP_E_BADVARTYPE;
  std::uint64_t bits = 0;
  std::memcpy(&bits, &v.llVal, valueSize(v.vt));
  out.setBits(bits);
  return S_OK;
}

bool readArray(wire::VariantArray::Reader in, VARTYPE element, VARIANT* out, int depth) {
  std::size_t count = 0;
  const std::size_t size = valueSize(element);
  switch (in.which()) {
    case wire::VariantArray::RAW:
      if (!wireScalar(element) || in.getRaw().size() % size != 0) return false;
      count = in.getRaw().size() / size;
      break;
    case wire::VariantArray::TEXTS:
      if (element != VT_BSTR) return false;
      count = in.getTexts().size();
      break;
    case wire::VariantArray::VARIANTS:
      if (element != VT_VARIANT) return false;
      count = in.getVariants().size();
      break;
    default:
      return false;
  }
  const std::int64_t lower = in.getLowerBound();
  if (count && lower + std::int64_t(count) - 1 > std::numeric_limits<LONG>::max()) return false;
  SAFEARRAY* psa =
      SafeArrayCreateVector(element, static_cast<LONG>(lower), static_cast<ULONG>(count));
  if (!psa) return false;
  out->vt = VT_ARRAY | element;
  out->parray = psa;  // owned by *out from here: a failure below clears it
  if (element == VT_BSTR) {
    auto* items = static_cast<BSTR*>(psa->pvData);
    std::u16string s;
    for (std::size_t i = 0; i < count; ++i) {
      if (!readWide(in.getTexts()[static_cast<capnp::uint>(i)], s)) return false;
      items[i] = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
      if (!items[i]) return false;
    }
  } else if (element == VT_VARIANT) {
    auto* items = static_cast<VARIANT*>(psa->pvData);
    for (std::size_t i = 0; i < count; ++i) {
      if (!readVariantAt(in.getVariants()[static_cast<capnp::uint>(i)], &items[i], depth + 1))
        return false;
    }
  } else if (count) {
    std::memcpy(psa->pvData, in.getRaw().begin(), count * size);
  }
  return true;
}

}  // namespace

bool readVariantAt(wire::Variant::Reader in, VARIANT* out, int depth) {
  VariantInit(out);
  if (depth > kMaxVariantDepth) return false;
  const VARTYPE vt = in.getVt();
  bool ok = false;
  if (vt == VT_EMPTY || vt == VT_NULL) {
    ok = in.isNone();
    if (ok) out->vt = vt;
  } else if (vt == VT_BSTR) {
    std::u16string s;
    if (in.isText() && readWide(in.getText(), s)) {
      out->bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
      ok = out->bstrVal != nullptr;
      if (ok) out->vt = VT_BSTR;
    }
  } else if (vt & VT_ARRAY) {
    const VARTYPE element = vt & VT_TYPEMASK;
    ok = (vt & ~(VT_ARRAY | VT_TYPEMASK)) == 0 && in.isArray() &&
         readArray(in.getArray(), element, out, depth);
  } else if (wireScalar(vt) && in.isBits()) {
    const std::uint64_t bits = in.getBits();
    const std::size_t size = valueSize(vt);
    // Bits beyond the type's size must be zero: anything else was not
    // written by an encoder of this form.
    ok = size == 8 || (bits >> (size * 8)) == 0;
    if (ok) {
      out->vt = vt;
      std::memcpy(&out->llVal, &bits, size);
    }
  }
  if (!ok) {
    VariantClear(out);
    VariantInit(out);
  }
  return ok;
}

HRESULT setVariant(wire::Variant::Builder out, const VARIANT& v) { return setVariantAt(out, v, 0); }

// ---- item states, compact ---------------------------------------------------------

namespace {

static_assert(sizeof(FILETIME) == 8 && sizeof(OPCHANDLE) == 4 && sizeof(HRESULT) == 4 &&
                  sizeof(WORD) == 2 && sizeof(VARTYPE) == 2,
              "the compact form's elements are these types' own bytes");

/// Values that travel in `others`; every other type is a scalar, empty or
/// null, or cannot travel at all.
bool travelsApart(VARTYPE vt) { return vt == VT_BSTR || (vt & VT_ARRAY) != 0; }

const VARIANT& variantOf(const VARIANT& v) { return v; }
const VARIANT& variantOf(const OleVariant& v) { return v.get(); }

/// Items given as arrays side by side.
template <class Value>
struct SideBySide {
  const OPCHANDLE* handles;
  const Value* values;
  const WORD* qualities;
  const FILETIME* timeStamps;
  const HRESULT* errors;
  OPCHANDLE handle(std::size_t i) const { return handles[i]; }
  const VARIANT& value(std::size_t i) const { return variantOf(values[i]); }
  WORD quality(std::size_t i) const { return qualities[i]; }
  const FILETIME& timeStamp(std::size_t i) const { return timeStamps[i]; }
  HRESULT error(std::size_t i) const { return errors[i]; }
};

/// Items as a read returns them.
struct ReadStates {
  const OPCITEMSTATE* states;
  const HRESULT* errors;
  OPCHANDLE handle(std::size_t i) const { return states[i].hClient; }
  const VARIANT& value(std::size_t i) const { return states[i].vDataValue; }
  WORD quality(std::size_t i) const { return states[i].wQuality; }
  const FILETIME& timeStamp(std::size_t i) const { return states[i].ftTimeStamp; }
  HRESULT error(std::size_t i) const { return errors[i]; }
};

template <class T>
void putAt(kj::byte* to, std::size_t i, const T& value) {
  std::memcpy(to + i * sizeof(T), &value, sizeof(T));
}

template <class Items>
void putItemStatesOf(wire::ItemStates::Builder out, std::size_t count, const Items& items) {
  const auto n = static_cast<capnp::uint>(count);
  kj::byte* handles = out.initClientHandles(n * 4).begin();
  kj::byte* times = out.initTimeStamps(n * 8).begin();
  kj::byte* qualities = out.initQualities(n * 2).begin();
  kj::byte* errors = out.initErrors(n * 4).begin();
  kj::byte* types = out.initTypes(n * 2).begin();
  kj::byte* scalars = out.initScalars(n * 8).begin();  // zero-filled
  // A value that cannot travel goes as VT_EMPTY, with the reason.
  const auto refuse = [&](std::size_t i, HRESULT why) {
    putAt(types, i, VARTYPE(VT_EMPTY));
    if (SUCCEEDED(items.error(i))) putAt(errors, i, why);
  };
  std::size_t apart = 0;
  for (std::size_t i = 0; i < count; ++i) {
    putAt(handles, i, items.handle(i));
    putAt(times, i, items.timeStamp(i));
    putAt(qualities, i, items.quality(i));
    putAt(errors, i, items.error(i));
    const VARIANT& v = items.value(i);
    putAt(types, i, v.vt);
    if (wireScalar(v.vt)) {
      std::memcpy(scalars + 8 * i, &v.llVal, valueSize(v.vt));
    } else if (travelsApart(v.vt)) {
      ++apart;
    } else if (v.vt != VT_EMPTY && v.vt != VT_NULL) {
      refuse(i, DISP_E_BADVARTYPE);
    }
  }
  if (!apart) return;
  // Strings and arrays; one that fails to encode is left out and the list
  // made again without it (a rare case: the common one encodes each once).
  for (bool again = true; again;) {
    again = false;
    auto others = out.initOthers(static_cast<capnp::uint>(apart));
    capnp::uint k = 0;
    for (std::size_t i = 0; i < count && k < apart; ++i) {
      VARTYPE vt;
      std::memcpy(&vt, types + 2 * i, 2);
      if (!travelsApart(vt)) continue;
      if (const HRESULT hr = setVariant(others[k], items.value(i)); FAILED(hr)) {
        refuse(i, hr);
        --apart;
        again = true;
        break;
      }
      ++k;
    }
    if (!apart) {
      out.disownOthers();
      return;
    }
  }
}

}  // namespace

void putItemStates(wire::ItemStates::Builder out, std::size_t count, const OPCHANDLE* handles,
                   const VARIANT* values, const WORD* qualities, const FILETIME* timeStamps,
                   const HRESULT* errors) {
  putItemStatesOf(out, count, SideBySide<VARIANT>{handles, values, qualities, timeStamps, errors});
}

void putItemStates(wire::ItemStates::Builder out, std::size_t count, const OPCHANDLE* handles,
                   const OleVariant* values, const WORD* qualities, const FILETIME* timeStamps,
                   const HRESULT* errors) {
  putItemStatesOf(out, count,
                  SideBySide<OleVariant>{handles, values, qualities, timeStamps, errors});
}

void putItemStates(wire::ItemStates::Builder out, std::size_t count, const OPCITEMSTATE* states,
                   const HRESULT* errors) {
  putItemStatesOf(out, count, ReadStates{states, errors});
}

std::size_t itemCount(wire::ItemStates::Reader in) { return in.getClientHandles().size() / 4; }

int readItemStates(wire::ItemStates::Reader in, std::size_t count, const ItemArrays& out) {
  for (std::size_t i = 0; i < count; ++i) VariantInit(&out.values[i]);
  // Each part looked up once: every look-up checks the message again.
  const capnp::Data::Reader handles = in.getClientHandles();
  const capnp::Data::Reader times = in.getTimeStamps();
  const capnp::Data::Reader qualities = in.getQualities();
  const capnp::Data::Reader errors = in.getErrors();
  const capnp::Data::Reader types = in.getTypes();
  const capnp::Data::Reader scalars = in.getScalars();
  if (handles.size() != 4 * count || times.size() != 8 * count || qualities.size() != 2 * count ||
      errors.size() != 4 * count || types.size() != 2 * count || scalars.size() != 8 * count) {
    return -1;
  }
  if (count) {
    std::memcpy(out.handles, handles.begin(), 4 * count);
    std::memcpy(out.timeStamps, times.begin(), 8 * count);
    std::memcpy(out.qualities, qualities.begin(), 2 * count);
    std::memcpy(out.errors, errors.begin(), 4 * count);
  }
  const auto others = in.getOthers();
  capnp::uint k = 0;
  int bad = 0;
  for (std::size_t i = 0; i < count; ++i) {
    VARTYPE vt;
    std::memcpy(&vt, types.begin() + 2 * i, 2);
    VARIANT& v = out.values[i];
    bool ok = true;
    if (wireScalar(vt)) {
      std::uint64_t bits;
      std::memcpy(&bits, scalars.begin() + 8 * i, 8);
      const std::size_t size = valueSize(vt);
      // Bits beyond the type's size must be zero, as in the single form.
      ok = size == 8 || (bits >> (size * 8)) == 0;
      if (ok) {
        v.vt = vt;
        std::memcpy(&v.llVal, &bits, size);
      }
    } else if (vt == VT_EMPTY || vt == VT_NULL) {
      v.vt = vt;
    } else if (travelsApart(vt)) {
      ok = k < others.size() && others[k].getVt() == vt && readVariant(others[k], &v);
      ++k;
    } else {
      ok = false;
    }
    if (!ok) {
      ++bad;
      out.qualities[i] = OPC_QUALITY_BAD;
      out.errors[i] = RPC_E_INVALID_DATA;
    }
  }
  if (k != others.size()) {
    // Elements that belong to no item: not written by an encoder of this form.
    for (std::size_t i = 0; i < count; ++i) {
      VariantClear(&out.values[i]);
      VariantInit(&out.values[i]);
    }
    return -1;
  }
  return bad;
}

bool readVariant(wire::Variant::Reader in, VARIANT* out) { return readVariantAt(in, out, 0); }

HRESULT hresultFrom(const kj::Exception& e) {
  switch (e.getType()) {
    case kj::Exception::Type::DISCONNECTED:
      return RPC_E_DISCONNECTED;
    case kj::Exception::Type::UNIMPLEMENTED:
      return E_NOTIMPL;
    default:
      return RPC_E_SERVERFAULT;
  }
}

}  // namespace opc::remote
