// Internal to the client library, not API: reading the enumerators servers
// hand out.
#pragma once

#include <QStringList>
#include <cstddef>

#include "opc/objidl.h"

namespace veze6::core::detail {

/// Strings read from one enumerator at most.
inline constexpr std::size_t kMaxEnumStrings = std::size_t(1) << 20;

/// Appends every string the enumerator delivers to list, in order, asking for
/// many strings per Next call and falling back to one a call for a server
/// that refuses batches. Every string handed out is freed, also those beyond
/// a wrong count; null strings are skipped; a failing Next ends the reading,
/// and so does reaching kMaxEnumStrings slots asked for.
void appendEnumStrings(IEnumString* enumerator, QStringList& list);

}  // namespace veze6::core::detail
