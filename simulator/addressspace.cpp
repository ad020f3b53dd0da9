#include "addressspace.h"

#include <algorithm>

#include "simproperties.h"

namespace veze6::sim {

namespace {

bool isControl(char16_t c) { return c < 0x20 || c == 0x7F; }

// One leaf of the standard tree: name, canonical type and its starting value.
struct Leaf {
  const char16_t* name;
  VARTYPE type;
  OleVariant value;
};

// The scalar types every fully typed branch carries, with representative
// values that convert to each other where the types allow it.
std::vector<Leaf> scalarLeaves(bool writable) {
  const double day = 45366.5;  // 2024-03-15 12:00
  return {
      {u"Int1", VT_I1, OleVariant(LONG(-12))},
      {u"UInt1", VT_UI1, OleVariant(LONG(200))},
      {u"Int2", VT_I2, OleVariant(SHORT(-1234))},
      {u"UInt2", VT_UI2, OleVariant(LONG(54321))},
      {u"Int4", VT_I4, OleVariant(LONG(writable ? 0 : 123456))},
      {u"UInt4", VT_UI4, OleVariant(LONGLONG(3000000000LL))},
      {u"Int8", VT_I8, OleVariant(LONGLONG(-9000000000LL))},
      {u"UInt8", VT_UI8, OleVariant(LONGLONG(9000000000LL))},
      {u"Real4", VT_R4, OleVariant(FLOAT(1.5f))},
      {u"Real8", VT_R8, OleVariant(DOUBLE(3.14159265358979))},
      {u"Boolean", VT_BOOL, OleVariant(true)},
      {u"String", VT_BSTR, OleVariant(writable ? u"" : u"Hello, OPC")},
      {u"Date", VT_DATE, OleVariant::fromDate(day)},
      {u"Money", VT_CY, OleVariant::fromCurrency(CY{123456})},  // 12.3456
  };
}

std::vector<Leaf> arrayLeaves() {
  std::vector<OleVariant> bytes, ints, reals, texts, flags;
  for (LONG i = 0; i < 8; ++i) bytes.emplace_back(LONG(i * 16));
  for (LONG i = 0; i < 10; ++i) ints.emplace_back(LONG(i * i));
  for (int i = 0; i < 10; ++i) reals.emplace_back(DOUBLE(i * 0.5));
  for (const char16_t* t : {u"alpha", u"beta", u"gamma", u"delta"}) texts.emplace_back(t);
  for (int i = 0; i < 4; ++i) flags.emplace_back(i % 2 == 0);
  return {
      {u"ArrayOfUInt1", VT_ARRAY | VT_UI1, OleVariant::array(VT_UI1, bytes)},
      {u"ArrayOfInt4", VT_ARRAY | VT_I4, OleVariant::array(VT_I4, ints)},
      {u"ArrayOfReal8", VT_ARRAY | VT_R8, OleVariant::array(VT_R8, reals)},
      {u"ArrayOfString", VT_ARRAY | VT_BSTR, OleVariant::array(VT_BSTR, texts)},
      {u"ArrayOfBoolean", VT_ARRAY | VT_BOOL, OleVariant::array(VT_BOOL, flags)},
  };
}

// The numeric leaves of a signal branch (Random, Ramp, Sine, Triangle).
std::vector<Leaf> signalLeaves(double start, bool withUnsigned) {
  std::vector<Leaf> out = {
      {u"Int1", VT_I1, OleVariant(start)},  {u"Int2", VT_I2, OleVariant(start)},
      {u"Int4", VT_I4, OleVariant(start)},  {u"Real4", VT_R4, OleVariant(start)},
      {u"Real8", VT_R8, OleVariant(start)}, {u"Money", VT_CY, OleVariant(start)},
  };
  if (withUnsigned) {
    out.push_back({u"UInt1", VT_UI1, OleVariant(start)});
    out.push_back({u"UInt2", VT_UI2, OleVariant(start)});
    out.push_back({u"UInt4", VT_UI4, OleVariant(start)});
  }
  return out;
}

}  // namespace

std::optional<std::u16string_view> boundedWideView(LPCWSTR s, std::size_t limit) {
  if (!s) return std::u16string_view();
  std::size_t n = 0;
  while (s[n]) {
    if (n == limit) return std::nullopt;
    ++n;
  }
  return std::u16string_view(s, n);
}

std::u16string_view SimItem::name() const {
  const auto dot = itemId.rfind(AddressSpace::kSeparator);
  return dot == std::u16string::npos ? std::u16string_view(itemId)
                                     : std::u16string_view(itemId).substr(dot + 1);
}

std::u16string Branch::path() const {
  if (!parent) return {};
  std::u16string up = parent->path();
  if (!up.empty()) up += AddressSpace::kSeparator;
  return up + name;
}

const Branch* Branch::findChild(std::u16string_view childName) const {
  for (const auto& b : branches) {
    if (b->name == childName) return b.get();
  }
  return nullptr;
}

AddressSpace::AddressSpace()
    : root_(std::make_unique<Branch>()), accessPaths_{u"Primary", u"Secondary"} {}

AddressSpace::~AddressSpace() = default;

HRESULT AddressSpace::checkItemIdSyntax(std::u16string_view itemId) {
  if (itemId.empty() || itemId.size() > kMaxItemIdLength) return OPC_E_INVALIDITEMID;
  if (std::any_of(itemId.begin(), itemId.end(), isControl)) return OPC_E_INVALIDITEMID;
  if (itemId.front() == kSeparator || itemId.back() == kSeparator) return OPC_E_INVALIDITEMID;
  const char16_t doubled[] = {kSeparator, kSeparator};
  if (itemId.find(std::u16string_view(doubled, 2)) != std::u16string_view::npos) {
    return OPC_E_INVALIDITEMID;
  }
  return S_OK;
}

Branch* AddressSpace::branchFor(std::u16string_view path) {
  Branch* at = root_.get();
  while (!path.empty()) {
    const auto dot = path.find(kSeparator);
    const auto part = path.substr(0, dot);
    Branch* next = const_cast<Branch*>(at->findChild(part));
    if (!next) {
      auto created = std::make_unique<Branch>();
      created->name = std::u16string(part);
      created->parent = at;
      next = created.get();
      at->branches.push_back(std::move(created));
    }
    at = next;
    path = dot == std::u16string_view::npos ? std::u16string_view() : path.substr(dot + 1);
  }
  return at;
}

SimItem* AddressSpace::addItem(std::u16string_view itemId, VARTYPE canonicalType,
                               DWORD accessRights, const OleVariant& value, FILETIME timeStamp) {
  if (FAILED(checkItemIdSyntax(itemId)) || byId_.count(itemId) || findBranch(itemId)) {
    return nullptr;
  }
  const auto dot = itemId.rfind(kSeparator);
  const auto parentPath =
      dot == std::u16string_view::npos ? std::u16string_view() : itemId.substr(0, dot);
  // An item's id must not be the prefix of another item's branch path either.
  for (auto p = parentPath; !p.empty();) {
    if (byId_.count(p)) return nullptr;
    const auto d = p.rfind(kSeparator);
    p = d == std::u16string_view::npos ? std::u16string_view() : p.substr(0, d);
  }
  HRESULT hr = S_OK;
  OleVariant converted = value.vt() == canonicalType ? value : value.changedTo(canonicalType, &hr);
  if (FAILED(hr) || converted.vt() != canonicalType) return nullptr;

  auto item = std::make_unique<SimItem>();
  item->itemId = std::u16string(itemId);
  item->canonicalType = canonicalType;
  item->accessRights = accessRights;
  item->value = std::move(converted);
  item->timeStamp = timeStamp;
  SimItem* raw = item.get();
  branchFor(parentPath)->leaves.push_back(raw);
  byId_.emplace(raw->itemId, raw);
  items_.push_back(std::move(item));
  return raw;
}

SimItem* AddressSpace::find(std::u16string_view itemId) {
  const auto it = byId_.find(itemId);
  return it == byId_.end() ? findPropertyItem(itemId) : it->second;
}

const SimItem* AddressSpace::find(std::u16string_view itemId) const {
  const auto it = byId_.find(itemId);
  return it == byId_.end() ? findPropertyItem(itemId) : it->second;
}

bool AddressSpace::isPropertyItem(const SimItem& item) const {
  const auto it = propertyById_.find(item.itemId);
  return it != propertyById_.end() && it->second == &item;
}

SimItem* AddressSpace::findPropertyItem(std::u16string_view itemId) const {
  if (const auto it = propertyById_.find(itemId); it != propertyById_.end()) return it->second;
  const auto dot = itemId.rfind(kSeparator);
  if (dot == std::u16string_view::npos) return nullptr;
  // Only items that were added have property items, so no real item can
  // ever carry a property item's id (an item's id is never a branch path).
  const auto owner = byId_.find(itemId.substr(0, dot));
  if (owner == byId_.end()) return nullptr;
  std::unique_ptr<SimItem> made = makePropertyItem(*owner->second, itemId.substr(dot + 1));
  if (!made) return nullptr;
  SimItem* raw = made.get();
  propertyById_.emplace(raw->itemId, raw);
  propertyItems_.push_back(std::move(made));
  return raw;
}

const Branch* AddressSpace::findBranch(std::u16string_view path) const {
  const Branch* at = root_.get();
  while (at && !path.empty()) {
    const auto dot = path.find(kSeparator);
    at = at->findChild(path.substr(0, dot));
    path = dot == std::u16string_view::npos ? std::u16string_view() : path.substr(dot + 1);
  }
  return at;
}

std::optional<std::uint8_t> AddressSpace::findAccessPath(std::u16string_view path) const {
  if (path.empty()) return std::uint8_t(0);
  for (std::size_t i = 0; i < accessPaths_.size(); ++i) {
    if (accessPaths_[i] == path) return static_cast<std::uint8_t>(i + 1);
  }
  return std::nullopt;
}

std::u16string_view AddressSpace::accessPathName(std::uint8_t index) const {
  if (index == 0 || index > accessPaths_.size()) return {};
  return accessPaths_[index - 1];
}

HRESULT AddressSpace::resolve(LPCWSTR itemId, LPCWSTR accessPath, SimItem** item,
                              std::uint8_t* accessPathIndex) {
  *item = nullptr;
  *accessPathIndex = 0;
  if (!itemId) return OPC_E_INVALIDITEMID;
  const auto id = boundedWideView(itemId, kMaxItemIdLength);
  if (!id) return OPC_E_INVALIDITEMID;
  if (const HRESULT hr = checkItemIdSyntax(*id); FAILED(hr)) return hr;
  SimItem* found = find(*id);
  if (!found) return OPC_E_UNKNOWNITEMID;
  const auto path = boundedWideView(accessPath, kMaxAccessPathLength);
  const auto index = path ? findAccessPath(*path) : std::nullopt;
  if (!index) return OPC_E_UNKNOWNPATH;
  *item = found;
  *accessPathIndex = *index;
  return S_OK;
}

HRESULT AddressSpace::checkRequestedType(const SimItem& item, VARTYPE requested) {
  if (requested == VT_EMPTY || requested == item.canonicalType) return S_OK;
  HRESULT hr = S_OK;
  const OleVariant probe = item.value.changedTo(requested, &hr);
  return SUCCEEDED(hr) || hr == DISP_E_OVERFLOW ? S_OK : OPC_E_BADTYPE;
}

void AddressSpace::populateDefault(FILETIME timeStamp) {
  const auto add = [&](std::u16string_view branch, const Leaf& leaf, DWORD rights,
                       std::optional<EngineeringRange> range) {
    std::u16string id(branch);
    id += kSeparator;
    id += leaf.name;
    if (SimItem* item = addItem(id, leaf.type, rights, leaf.value, timeStamp)) {
      item->euRange = range;
      if (range) item->euUnits.assign(1, u'%');  // every standard range is a percentage
    }
  };
  const EngineeringRange percent{0.0, 100.0};
  const EngineeringRange symmetric{-100.0, 100.0};

  for (const auto& leaf : signalLeaves(0.0, true)) add(u"Random", leaf, OPC_READABLE, percent);
  for (const auto& leaf : scalarLeaves(false)) {
    // Random also carries the non-numeric types; they get no range.
    if (leaf.type == VT_BOOL || leaf.type == VT_BSTR || leaf.type == VT_DATE) {
      add(u"Random", leaf, OPC_READABLE, std::nullopt);
    }
  }
  for (const auto& leaf : arrayLeaves()) {
    if (leaf.type == (VT_ARRAY | VT_I4) || leaf.type == (VT_ARRAY | VT_R8)) {
      add(u"Random", leaf, OPC_READABLE, percent);
    }
  }
  for (const auto& leaf : signalLeaves(0.0, true)) add(u"Ramp", leaf, OPC_READABLE, percent);
  for (const auto& leaf : signalLeaves(0.0, false)) {
    add(u"Sine", leaf, OPC_READABLE, symmetric);
  }
  add(u"Square", {u"Boolean", VT_BOOL, OleVariant(false)}, OPC_READABLE, std::nullopt);
  add(u"Square", {u"Int4", VT_I4, OleVariant(LONG(0))}, OPC_READABLE, percent);
  add(u"Square", {u"Real8", VT_R8, OleVariant(0.0)}, OPC_READABLE, percent);
  for (const auto& leaf : signalLeaves(0.0, false)) {
    add(u"Triangle", leaf, OPC_READABLE, percent);
  }

  for (const auto& leaf : scalarLeaves(false)) add(u"Static", leaf, OPC_READABLE, std::nullopt);
  for (const auto& leaf : arrayLeaves()) add(u"Static", leaf, OPC_READABLE, std::nullopt);
  add(u"Static.Nested Level", {u"Int4", VT_I4, OleVariant(LONG(42))}, OPC_READABLE, std::nullopt);
  add(u"Static.Nested Level", {u"String", VT_BSTR, OleVariant(u"nested")}, OPC_READABLE,
      std::nullopt);
  add(u"Static.Nested Level.Deeper", {u"Real8", VT_R8, OleVariant(2.71828182845905)}, OPC_READABLE,
      std::nullopt);

  const DWORD rw = OPC_READABLE | OPC_WRITEABLE;
  for (const auto& leaf : scalarLeaves(true)) add(u"Writable", leaf, rw, std::nullopt);
  for (const auto& leaf : arrayLeaves()) add(u"Writable", leaf, rw, std::nullopt);
}

}  // namespace veze6::sim
