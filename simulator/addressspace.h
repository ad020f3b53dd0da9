// The simulation server's address space: a tree of branches whose leaves are
// the simulated items. Item ids are the branch names and the item's own name
// joined with '.', for example "Static.Nested Level.Int4".
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "opc/OPCtypes.h"
#include "opc/variant.h"

namespace veze6::sim {

/// Produces an item's next value when the server scans it. Static items have
/// none; the generators of the Random, Ramp, Sine, Square and Triangle
/// branches plug in here.
class ValueGenerator {
 public:
  virtual ~ValueGenerator() = default;
  /// Writes the value for `seconds` since the server started into `value`,
  /// keeping the item's canonical type; false when the value did not change.
  virtual bool next(double seconds, VARIANT& value) = 0;
};

/// The engineering-units range of an analog item.
struct EngineeringRange {
  double low = 0.0;
  double high = 0.0;
};

/// One simulated item. The id, type, rights and range are fixed once the item
/// is in the address space; value, quality and time stamp change over time
/// and are guarded by the owning server's lock.
struct SimItem {
  std::u16string itemId;  ///< full id
  VARTYPE canonicalType = VT_EMPTY;
  DWORD accessRights = OPC_READABLE;
  std::optional<EngineeringRange> euRange;  ///< set for analog items
  std::u16string euUnits;                   ///< e.g. u"%"; for analog items
  std::u16string description;
  OleVariant value;  ///< always of canonicalType
  WORD quality = OPC_QUALITY_GOOD;
  FILETIME timeStamp{};
  std::unique_ptr<ValueGenerator> generator;  ///< empty for static items
  /// Writes beyond euRange are clamped (OPC_S_CLAMP) rather than refused.
  bool clampWrites = false;
  /// Grows with every change of value or quality; scans compare it with what
  /// they last reported.
  std::uint64_t changeCount = 0;
  /// The clock time (FILETIME ticks) the generator last sampled.
  std::uint64_t sampledAt = 0;

  /// The item's own name, the last part of its id.
  std::u16string_view name() const;
};

/// A branch of the tree. Children are kept in insertion order.
struct Branch {
  std::u16string name;  ///< empty for the root
  Branch* parent = nullptr;
  std::vector<std::unique_ptr<Branch>> branches;
  std::vector<SimItem*> leaves;

  /// The branch's full path ("Static.Nested Level"); empty for the root.
  std::u16string path() const;
  const Branch* findChild(std::u16string_view name) const;
};

/// The item tree and the access paths. Not synchronised: the server that owns
/// it guards every access with its lock. Build it completely before handing it
/// to a server.
class AddressSpace {
 public:
  /// Longest item id (in UTF-16 code units) the syntax allows.
  static constexpr std::size_t kMaxItemIdLength = 1024;
  /// Longest access path read from a caller.
  static constexpr std::size_t kMaxAccessPathLength = 256;
  static constexpr char16_t kSeparator = u'.';

  AddressSpace();
  AddressSpace(const AddressSpace&) = delete;
  AddressSpace& operator=(const AddressSpace&) = delete;
  ~AddressSpace();

  /// Adds the standard items: branches Random, Ramp, Sine, Square, Triangle
  /// (read-only, analog), Static (read-only, every type, with nested levels)
  /// and Writable (read-write, every type), time-stamped `timeStamp`.
  void populateDefault(FILETIME timeStamp);

  /// Adds an item, creating the branches of its id. The value is converted to
  /// `canonicalType`. Returns the item (owned by the address space, valid as
  /// long as it), or null when the id breaks the syntax, is taken (by an item
  /// or a branch) or the value does not convert.
  SimItem* addItem(std::u16string_view itemId, VARTYPE canonicalType, DWORD accessRights,
                   const OleVariant& value, FILETIME timeStamp = {});

  /// The item with that id. Besides the items added, this finds the items
  /// standing for an item's properties ("Random.Int4.HighEU", see
  /// simproperties.h), made on first request and kept as long as the space.
  SimItem* find(std::u16string_view itemId);
  const SimItem* find(std::u16string_view itemId) const;
  /// Whether the item stands for another item's property.
  bool isPropertyItem(const SimItem& item) const;
  /// The branch with that path ("" is the root), or null.
  const Branch* findBranch(std::u16string_view path) const;
  const Branch& root() const { return *root_; }
  /// Every item, in insertion order.
  const std::vector<std::unique_ptr<SimItem>>& items() const { return items_; }

  /// The named access paths; the empty path is always accepted besides them.
  const std::vector<std::u16string>& accessPaths() const { return accessPaths_; }
  /// 0 for the empty path, 1.. for the n-th named path, nothing when unknown.
  std::optional<std::uint8_t> findAccessPath(std::u16string_view path) const;
  /// The text of an access path index (empty for 0).
  std::u16string_view accessPathName(std::uint8_t index) const;

  /// S_OK for a well-formed id; OPC_E_INVALIDITEMID when it is empty, longer
  /// than kMaxItemIdLength, holds a control character or an empty part
  /// (leading, trailing or doubled separator).
  static HRESULT checkItemIdSyntax(std::u16string_view itemId);

  /// Resolves an item definition from a caller: OPC_E_INVALIDITEMID,
  /// OPC_E_UNKNOWNITEMID or OPC_E_UNKNOWNPATH, else S_OK with the item and
  /// the access path index. Reads at most the lengths above from the
  /// caller's strings.
  HRESULT resolve(LPCWSTR itemId, LPCWSTR accessPath, SimItem** item,
                  std::uint8_t* accessPathIndex);

  /// Whether a client may ask for `requested` instead of the item's canonical
  /// type: VT_EMPTY and the canonical type always; otherwise the current value
  /// must convert (a value out of the target's range still counts as
  /// convertible, the type itself is fine). S_OK or OPC_E_BADTYPE.
  static HRESULT checkRequestedType(const SimItem& item, VARTYPE requested);

 private:
  Branch* branchFor(std::u16string_view path);
  SimItem* findPropertyItem(std::u16string_view itemId) const;

  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::u16string_view s) const noexcept {
      return std::hash<std::u16string_view>{}(s);
    }
  };
  std::unique_ptr<Branch> root_;
  std::vector<std::unique_ptr<SimItem>> items_;
  std::unordered_map<std::u16string, SimItem*, Hash, std::equal_to<>> byId_;
  // Property items, made by the const lookups too: guarded by the same lock.
  mutable std::vector<std::unique_ptr<SimItem>> propertyItems_;
  mutable std::unordered_map<std::u16string, SimItem*, Hash, std::equal_to<>> propertyById_;
  std::vector<std::u16string> accessPaths_;
};

/// Reads a zero-terminated wide string from a caller, looking at no more than
/// `limit` + 1 characters: nothing when the text is longer than `limit`.
std::optional<std::u16string_view> boundedWideView(LPCWSTR s, std::size_t limit);

}  // namespace veze6::sim
