// Safe arrays of any number of dimensions. The bounds live in the same block
// as the descriptor; rgIndices[i] indexes the dimension rgsabound[i], and the
// first dimension varies fastest in memory, as with the platform's arrays.
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "diag.h"
#include "scalar.h"
#include "taskmem.h"
#include "unknown.h"
#include "variant.h"

namespace {

// fFeatures bits, kept for the elements that own resources.
constexpr USHORT kHaveVartype = 0x0080;
constexpr USHORT kBstr = 0x0100;
constexpr USHORT kUnknown = 0x0200;
constexpr USHORT kDispatch = 0x0400;
constexpr USHORT kVariant = 0x0800;

}  // namespace

bool opc::isSafeArrayElementType(VARTYPE vt) { return valueSize(vt) != 0; }

namespace {

USHORT featuresOf(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR:
      return kHaveVartype | kBstr;
    case VT_UNKNOWN:
      return kHaveVartype | kUnknown;
    case VT_DISPATCH:
      return kHaveVartype | kDispatch;
    case VT_VARIANT:
      return kHaveVartype | kVariant;
    default:
      return kHaveVartype;
  }
}

// The descriptor followed by its bounds, in one allocation. The descriptor
// is public and can be bent by whoever holds it; `capacity` remembers how
// many elements the storage really holds, `dims` how many bounds follow.
struct alignas(std::max_align_t) ArrayBlock {
  SAFEARRAY sa;
  std::size_t capacity;
  USHORT dims;
};

std::size_t capacityOf(const SAFEARRAY* psa) {
  return reinterpret_cast<const ArrayBlock*>(psa)->capacity;
}

// The elements the bounds describe, when they fit the storage and every
// upper bound is a LONG; false otherwise.
bool fittingCount(const SAFEARRAY* psa, std::size_t& count) {
  count = 0;
  if (psa->cDims != reinterpret_cast<const ArrayBlock*>(psa)->dims) return false;
  bool empty = false;
  for (USHORT d = 0; d < psa->cDims; ++d) {
    const SAFEARRAYBOUND& b = psa->rgsabound[d];
    if (std::int64_t(b.lLbound) + std::int64_t(b.cElements) - 1 > std::numeric_limits<LONG>::max())
      return false;
    empty = empty || b.cElements == 0;
  }
  if (empty) return true;  // any dimension of 0: no element at all
  const std::size_t capacity = capacityOf(psa);
  std::size_t n = 1;
  for (USHORT d = 0; d < psa->cDims; ++d) {
    // Kept within the capacity at every step, so the product cannot wrap.
    if (n > capacity / psa->rgsabound[d].cElements) return false;
    n *= psa->rgsabound[d].cElements;
  }
  count = n;
  return true;
}

void* elementAt(const SAFEARRAY* psa, std::size_t index) {
  return static_cast<char*>(psa->pvData) + index * psa->cbElements;
}

// Linear position of an element, or false when an index is out of bounds
// (the bounds are known to fit the storage).
bool offsetOf(const SAFEARRAY* psa, const LONG* rgIndices, std::size_t& offset) {
  offset = 0;
  std::size_t stride = 1;
  for (USHORT d = 0; d < psa->cDims; ++d) {
    const SAFEARRAYBOUND& b = psa->rgsabound[d];
    const std::int64_t rel = std::int64_t(rgIndices[d]) - b.lLbound;
    if (rel < 0 || rel >= std::int64_t(b.cElements)) return false;
    offset += std::size_t(rel) * stride;
    stride *= b.cElements;
  }
  return true;
}

// Releases what one element owns and zeroes it.
void clearElement(VARTYPE vt, void* p) {
  switch (vt) {
    case VT_BSTR: {
      BSTR b;
      std::memcpy(&b, p, sizeof b);
      SysFreeString(b);
      break;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      IUnknown* u;
      std::memcpy(&u, p, sizeof u);
      if (u) u->Release();
      break;
    }
    case VT_VARIANT:
      VariantClear(static_cast<VARIANT*>(p));
      break;
    default:
      break;
  }
  std::memset(p, 0, opc::valueSize(vt));
}

// Copies one element into uninitialised (zeroed) storage.
HRESULT copyElement(VARTYPE vt, const void* from, void* to) {
  switch (vt) {
    case VT_BSTR: {
      BSTR b;
      std::memcpy(&b, from, sizeof b);
      BSTR c = nullptr;
      if (b) {
        c = SysAllocStringLen(b, SysStringLen(b));
        if (!c) return E_OUTOFMEMORY;
      }
      std::memcpy(to, &c, sizeof c);
      return S_OK;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      IUnknown* u;
      std::memcpy(&u, from, sizeof u);
      if (u) u->AddRef();
      std::memcpy(to, &u, sizeof u);
      return S_OK;
    }
    case VT_VARIANT: {
      auto* v = static_cast<VARIANT*>(to);
      VariantInit(v);
      return VariantCopy(v, static_cast<const VARIANT*>(from));
    }
    default:
      std::memcpy(to, from, opc::valueSize(vt));
      return S_OK;
  }
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* rgsabound) {
  const ULONG size = opc::valueSize(vt);
  if (size == 0 || cDims == 0 || cDims > 0xFFFF || !rgsabound) return nullptr;
  std::size_t total = 1;
  for (UINT d = 0; d < cDims; ++d) {
    const std::size_t n = rgsabound[d].cElements;
    // Every index of a dimension, its upper bound included, is a LONG.
    if (n &&
        std::int64_t(rgsabound[d].lLbound) + std::int64_t(n) - 1 > std::numeric_limits<LONG>::max())
      return nullptr;
    if (n && total > std::numeric_limits<std::size_t>::max() / size / n) return nullptr;
    total *= n;
  }
  void* raw = std::malloc(sizeof(ArrayBlock) + cDims * sizeof(SAFEARRAYBOUND));
  if (!raw) return nullptr;
  // Zeroed data: empty BSTRs, null interfaces and VT_EMPTY variants.
  void* data = std::calloc(total ? total : 1, size);
  if (!data) {
    std::free(raw);
    return nullptr;
  }
  auto* block = new (raw) ArrayBlock{};
  SAFEARRAY* psa = &block->sa;
  psa->cDims = static_cast<USHORT>(cDims);
  psa->fFeatures = featuresOf(vt);
  psa->cbElements = size;
  psa->cLocks = 0;
  psa->vt = vt;
  psa->pvData = data;
  psa->rgsabound = reinterpret_cast<SAFEARRAYBOUND*>(static_cast<char*>(raw) + sizeof(ArrayBlock));
  block->capacity = total;
  block->dims = psa->cDims;
  std::memcpy(psa->rgsabound, rgsabound, cDims * sizeof(SAFEARRAYBOUND));
  opc::diag::safeArrayCreated();
  return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  const SAFEARRAYBOUND bound{cElements, lLbound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (!psa) return S_OK;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  // The storage's own count: the bounds may have been bent meanwhile.
  const std::size_t n = capacityOf(psa);
  if (psa->fFeatures & (kBstr | kUnknown | kDispatch | kVariant)) {
    for (std::size_t i = 0; i < n; ++i) clearElement(psa->vt, elementAt(psa, i));
  }
  std::free(psa->pvData);
  auto* block = reinterpret_cast<ArrayBlock*>(psa);
  block->~ArrayBlock();
  std::free(block);
  opc::diag::safeArrayDestroyed();
  return S_OK;
}

HRESULT SafeArrayCopy(const SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (!ppsaOut) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (!psa) return S_OK;
  std::size_t n = 0;
  if (!fittingCount(psa, n)) return E_INVALIDARG;
  SAFEARRAY* copy = SafeArrayCreate(psa->vt, psa->cDims, psa->rgsabound);
  if (!copy) return E_OUTOFMEMORY;
  for (std::size_t i = 0; i < n; ++i) {
    const HRESULT hr = copyElement(psa->vt, elementAt(psa, i), elementAt(copy, i));
    if (FAILED(hr)) {
      SafeArrayDestroy(copy);  // elements not yet copied are still zero
      return hr;
    }
  }
  *ppsaOut = copy;
  return S_OK;
}

UINT SafeArrayGetDim(const SAFEARRAY* psa) { return psa ? psa->cDims : 0; }

UINT SafeArrayGetElemsize(const SAFEARRAY* psa) { return psa ? psa->cbElements : 0; }

HRESULT SafeArrayGetVartype(const SAFEARRAY* psa, VARTYPE* pvt) {
  if (!psa || !pvt) return E_INVALIDARG;
  *pvt = psa->vt;
  return S_OK;
}

namespace {

/// Dimension nDim (counted from 1) of a well-formed array, for the bound
/// queries: E_INVALIDARG for no array or no out-value, DISP_E_BADINDEX for
/// a dimension it does not have.
HRESULT dimensionOf(const SAFEARRAY* psa, UINT nDim, const LONG* out, const SAFEARRAYBOUND*& b) {
  if (!psa || !out) return E_INVALIDARG;
  if (nDim < 1 || nDim > psa->cDims) return DISP_E_BADINDEX;
  std::size_t count = 0;
  if (!fittingCount(psa, count)) return E_INVALIDARG;
  b = &psa->rgsabound[nDim - 1];
  return S_OK;
}

}  // namespace

HRESULT SafeArrayGetLBound(const SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  const SAFEARRAYBOUND* b = nullptr;
  if (const HRESULT hr = dimensionOf(psa, nDim, plLbound, b); FAILED(hr)) return hr;
  *plLbound = b->lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(const SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  const SAFEARRAYBOUND* b = nullptr;
  if (const HRESULT hr = dimensionOf(psa, nDim, plUbound, b); FAILED(hr)) return hr;
  // An empty dimension has its upper bound just below the lower one (which
  // wraps for an empty dimension starting at the LONG minimum: count
  // elements with opc::safeArrayElementCount instead).
  *plUbound = static_cast<LONG>(std::int64_t(b->lLbound) + std::int64_t(b->cElements) - 1);
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* rgIndices, void* pv) {
  if (!psa || !rgIndices || !pv) return E_INVALIDARG;
  std::size_t offset = 0;
  if (!fittingCount(psa, offset)) return E_INVALIDARG;
  if (!offsetOf(psa, rgIndices, offset)) return DISP_E_BADINDEX;
  // A VARIANT destination is a valid variant that VariantCopy clears first;
  // any other destination is plain output whose old contents are not released.
  if (psa->vt == VT_VARIANT) {
    return VariantCopy(static_cast<VARIANT*>(pv),
                       static_cast<const VARIANT*>(elementAt(psa, offset)));
  }
  std::memset(pv, 0, psa->cbElements);
  return copyElement(psa->vt, elementAt(psa, offset), pv);
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* rgIndices, const void* pv) {
  if (!psa || !rgIndices) return E_INVALIDARG;
  std::size_t offset = 0;
  if (!fittingCount(psa, offset)) return E_INVALIDARG;
  if (!offsetOf(psa, rgIndices, offset)) return DISP_E_BADINDEX;
  void* slot = elementAt(psa, offset);
  switch (psa->vt) {
    case VT_BSTR: {
      // As on the platform, pv is the string itself (null for an empty one).
      const auto b = static_cast<BSTR>(const_cast<void*>(pv));
      BSTR c = nullptr;
      if (b) {
        c = SysAllocStringLen(b, SysStringLen(b));
        if (!c) return E_OUTOFMEMORY;
      }
      clearElement(VT_BSTR, slot);
      std::memcpy(slot, &c, sizeof c);
      return S_OK;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      // pv is the interface pointer itself.
      auto* u = static_cast<IUnknown*>(const_cast<void*>(pv));
      if (u) u->AddRef();
      clearElement(psa->vt, slot);
      std::memcpy(slot, &u, sizeof u);
      return S_OK;
    }
    case VT_VARIANT:
      if (!pv) return E_INVALIDARG;
      return VariantCopy(static_cast<VARIANT*>(slot), static_cast<const VARIANT*>(pv));
    default:
      if (!pv) return E_INVALIDARG;
      std::memcpy(slot, pv, psa->cbElements);
      return S_OK;
  }
}

HRESULT opc::safeArrayElementCount(const SAFEARRAY* psa, std::size_t* count) {
  if (!psa || !count) return E_INVALIDARG;
  return fittingCount(psa, *count) ? S_OK : (*count = 0, E_INVALIDARG);
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (!psa || !ppvData) return E_INVALIDARG;
  ++psa->cLocks;
  *ppvData = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}
