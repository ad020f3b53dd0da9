// Internal to the remote transport; not API.
//
// The item structures of a group's calls on the wire: OPCITEMDEF,
// OPCITEMRESULT, OPCITEMSTATE, OPCITEMATTRIBUTES, and the data object's
// FORMATETC and global memory blocks.
//
// `put...` fill a wire list from what a caller or a server handed over;
// `take...` make what a proxy returns from an answer (task memory the caller
// frees, all or nothing: on failure nothing is left allocated); `read...`
// make the arguments a stub passes to a server, owned by a holder. Anything
// from the wire is checked: a list of another length than asked for, an
// odd-length string or a value that does not decode is a failure, never a
// read past what arrived.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "opc/OPCtypes.h"
#include "opc/objidl.h"
#include "opc/remote/remote.capnp.h"

namespace opc::remote {

// ---- item definitions (client -> host) -----------------------------------

void putItemDefs(capnp::List<wire::ItemDef>::Builder list, const OPCITEMDEF* defs);

/// The definitions a stub hands to the server, with the strings and blobs
/// they point into.
class ItemDefs {
 public:
  /// E_INVALIDARG for a malformed entry.
  HRESULT read(capnp::List<wire::ItemDef>::Reader list);
  OPCITEMDEF* data() { return defs_.empty() ? nullptr : defs_.data(); }
  DWORD size() const { return DWORD(defs_.size()); }

 private:
  std::vector<OPCITEMDEF> defs_;
  std::vector<char16_t> texts_;  // every item's strings, each terminated
  std::vector<BYTE> blobs_;      // every item's blob
};

/// What a request of these definitions takes, so that it is made in one
/// piece: a message in several segments costs the reader a lock for every
/// pointer into a later one.
capnp::MessageSize itemDefsSize(const OPCITEMDEF* defs, DWORD count);
/// The same for an answer of `count` item results and their errors.
capnp::MessageSize itemResultsSize(std::size_t count);

// ---- item results (host -> client) -----------------------------------------

void putItemResults(capnp::List<wire::ItemResult>::Builder list, const OPCITEMRESULT* results);
/// `count` results in task memory (each blob its own block), or
/// RPC_E_INVALID_DATA when the answer holds another number.
HRESULT takeItemResults(capnp::List<wire::ItemResult>::Reader list, DWORD count,
                        OPCITEMRESULT** out);
/// Frees an array as takeItemResults makes it (and servers return it).
void freeItemResults(OPCITEMRESULT* results, DWORD count);

// ---- item states (host -> client) -------------------------------------------

/// `errors` (null for none) go with the states; a value the wire cannot
/// carry travels empty and its error, when it was a success, becomes the
/// reason.
void putItemStates(capnp::List<wire::ItemState>::Builder list, const OPCITEMSTATE* states,
                   HRESULT* errors);
HRESULT takeItemStates(capnp::List<wire::ItemState>::Reader list, DWORD count, OPCITEMSTATE** out);
/// The compact form: `count` states and their errors, or RPC_E_INVALID_DATA
/// (nothing allocated) when it holds another number or a value that does
/// not decode.
HRESULT takeItemStates(wire::ItemStates::Reader in, DWORD count, OPCITEMSTATE** states,
                       HRESULT** errors);
void freeItemStates(OPCITEMSTATE* states, DWORD count);

// ---- item attributes (enumerator, host -> client) ---------------------------

void putItemAttributes(wire::ItemAttributes::Builder to, const OPCITEMATTRIBUTES& from);
/// One element filled in place (its strings, blob and value allocated);
/// on failure the element holds nothing to free.
HRESULT takeItemAttributes(wire::ItemAttributes::Reader from, OPCITEMATTRIBUTES& to);
/// Frees what one element holds (not the element).
void clearItemAttributes(OPCITEMATTRIBUTES& a);

// ---- data objects ------------------------------------------------------------

/// False for a format without a registered name (it cannot travel).
bool putFormat(wire::FormatEtc::Builder to, const FORMATETC& from);
/// DV_E_FORMATETC for a name this process has not registered: a peer must
/// not fill the process's table of formats.
HRESULT readFormat(wire::FormatEtc::Reader from, FORMATETC& to);

/// A new global block holding `data` (the caller's), or null.
HGLOBAL globalFromData(capnp::Data::Reader data);

}  // namespace opc::remote
