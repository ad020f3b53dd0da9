# The wire form of the OPC interfaces between a client process and qopcd.
#
# Every object the host hands out is one capability whose type is the union of
# the interfaces of its kind (ServerObject, GroupObject, ...); the ObjectRef
# that carries it also lists the interface ids the object really implements,
# so the client answers QueryInterface without a round trip. Methods mirror
# the COM signatures: each answers the call's HRESULT in `hr` and its out
# parameters beside it. Wide strings travel as UTF-16 code units (Data, two
# bytes each, little-endian) so that every string arrives as it was sent; an
# unset pointer field is a null string. Time stamps are FILETIME counts.
# Callbacks the client passes (data callback, shutdown, advise sink) are
# capabilities served by the client; dropping a capability releases the
# object behind it, and a lost connection drops them all.

@0xfd05a553c286b458;

using Cxx = import "/capnp/c++.capnp";
$Cxx.namespace("opc::remote::wire");

struct Guid {
  data1 @0 :UInt32;
  data2 @1 :UInt16;
  data3 @2 :UInt16;
  data4 @3 :UInt64;  # the eight bytes, first byte in the lowest bits
}

# A VARIANT. Fixed-size scalars carry their bytes in `bits` (as the value's
# own type stores them, zero-extended); VT_BSTR its text; arrays (VT_ARRAY |
# element type, one dimension) their elements.
struct Variant {
  vt @0 :UInt16;
  union {
    none @1 :Void;
    bits @2 :UInt64;
    text @3 :Data;
    array @4 :VariantArray;
  }
}

struct VariantArray {
  lowerBound @0 :Int32;
  union {
    raw @1 :Data;             # fixed-size elements, packed, element size each
    texts @2 :List(Data);     # VT_BSTR elements
    variants @3 :List(Variant);  # VT_VARIANT elements
  }
}

enum Kind {
  server @0;
  group @1;
  serverList @2;
  enumString @3;
  enumUnknown @4;
  enumGuid @5;
  enumItemAttributes @6;
  connectionPoint @7;
  enumConnectionPoints @8;
}

struct ObjectRef {
  object @0 :Unknown;       # null when the call made no object
  kind @1 :Kind;
  iids @2 :List(Guid);      # the interfaces the object implements
}

# ---- Bootstrap ---------------------------------------------------------------

interface Host {
  # CoCreateInstanceEx on the host: `results` has one HRESULT per asked iid.
  createInstance @0 (clsid :Guid, iids :List(Guid)) -> (hr :Int32, results :List(Int32), object :ObjectRef);
  # The host's name as its clients should show it.
  hostName @1 () -> (name :Text);
}

interface Unknown {
  # For interfaces outside the kind's list; the known ones are in ObjectRef.iids.
  queryInterface @0 (iid :Guid) -> (hr :Int32, object :ObjectRef);
}

# ---- Server object -------------------------------------------------------------

struct ServerStatus {
  startTime @0 :UInt64;
  currentTime @1 :UInt64;
  lastUpdateTime @2 :UInt64;
  serverState @3 :UInt32;
  groupCount @4 :UInt32;
  bandWidth @5 :UInt32;
  majorVersion @6 :UInt16;
  minorVersion @7 :UInt16;
  buildNumber @8 :UInt16;
  vendorInfo @9 :Data;
}

struct ItemProperty {
  id @0 :UInt32;
  description @1 :Data;
  dataType @2 :UInt16;
}

interface OpcServer {
  addGroup @0 (name :Data, active :Bool, requestedUpdateRate :UInt32, clientGroup :UInt32,
               timeBias :Int32, hasTimeBias :Bool, percentDeadband :Float32, hasPercentDeadband :Bool,
               lcid :UInt32, iid :Guid)
      -> (hr :Int32, serverGroup :UInt32, revisedUpdateRate :UInt32, group :ObjectRef);
  getErrorString @1 (error :Int32, lcid :UInt32) -> (hr :Int32, text :Data);
  getGroupByName @2 (name :Data, iid :Guid) -> (hr :Int32, group :ObjectRef);
  getStatus @3 () -> (hr :Int32, status :ServerStatus);
  removeGroup @4 (serverGroup :UInt32, force :Bool) -> (hr :Int32);
  createGroupEnumerator @5 (scope :UInt32, iid :Guid) -> (hr :Int32, enumerator :ObjectRef);
}

interface OpcServerPublicGroups {
  getPublicGroupByName @0 (name :Data, iid :Guid) -> (hr :Int32, group :ObjectRef);
  removePublicGroup @1 (serverGroup :UInt32, force :Bool) -> (hr :Int32);
}

interface OpcCommon {
  setLocaleId @0 (lcid :UInt32) -> (hr :Int32);
  getLocaleId @1 () -> (hr :Int32, lcid :UInt32);
  queryAvailableLocaleIds @2 () -> (hr :Int32, lcids :List(UInt32));
  getErrorString @3 (error :Int32) -> (hr :Int32, text :Data);
  setClientName @4 (name :Data) -> (hr :Int32);
}

interface OpcItemProperties {
  queryAvailableProperties @0 (itemId :Data) -> (hr :Int32, properties :List(ItemProperty));
  getItemProperties @1 (itemId :Data, ids :List(UInt32)) -> (hr :Int32, values :List(Variant), errors :List(Int32));
  lookupItemIds @2 (itemId :Data, ids :List(UInt32)) -> (hr :Int32, itemIds :List(Data), errors :List(Int32));
}

interface OpcBrowseServerAddressSpace {
  queryOrganization @0 () -> (hr :Int32, nameSpaceType :UInt32);
  changeBrowsePosition @1 (direction :UInt32, name :Data) -> (hr :Int32);
  browseOpcItemIds @2 (filterType :UInt32, filterCriteria :Data, dataTypeFilter :UInt16, accessRightsFilter :UInt32)
      -> (hr :Int32, enumerator :ObjectRef);
  getItemId @3 (itemDataId :Data) -> (hr :Int32, itemId :Data);
  browseAccessPaths @4 (itemId :Data) -> (hr :Int32, enumerator :ObjectRef);
}

# ---- Connection points ---------------------------------------------------------

interface ConnectionPointContainer {
  enumConnectionPoints @0 () -> (hr :Int32, enumerator :ObjectRef);
  findConnectionPoint @1 (iid :Guid) -> (hr :Int32, point :ObjectRef);
}

# The client's sink for a connection point, by the point's interface.
struct Sink {
  union {
    dataCallback @0 :DataCallback;
    shutdown @1 :Shutdown;
  }
}

interface ConnectionPoint extends(Unknown) {
  getConnectionInterface @0 () -> (hr :Int32, iid :Guid);
  getConnectionPointContainer @1 () -> (hr :Int32, container :ObjectRef);
  advise @2 (sink :Sink) -> (hr :Int32, cookie :UInt32);
  unadvise @3 (cookie :UInt32) -> (hr :Int32);
}

interface ServerObject extends(Unknown, OpcServer, OpcServerPublicGroups, OpcCommon, OpcItemProperties,
                               OpcBrowseServerAddressSpace, ConnectionPointContainer) {}

# ---- Groups --------------------------------------------------------------------

struct GroupState {
  updateRate @0 :UInt32;
  active @1 :Bool;
  name @2 :Data;
  timeBias @3 :Int32;
  percentDeadband @4 :Float32;
  lcid @5 :UInt32;
  clientGroup @6 :UInt32;
  serverGroup @7 :UInt32;
}

struct ItemDef {
  accessPath @0 :Data;
  itemId @1 :Data;
  active @2 :Bool;
  clientHandle @3 :UInt32;
  blob @4 :Data;
  requestedDataType @5 :UInt16;
}

struct ItemResult {
  serverHandle @0 :UInt32;
  canonicalDataType @1 :UInt16;
  accessRights @2 :UInt32;
  blob @3 :Data;
}

struct ItemAttributes {
  accessPath @0 :Data;
  itemId @1 :Data;
  active @2 :Bool;
  clientHandle @3 :UInt32;
  serverHandle @4 :UInt32;
  accessRights @5 :UInt32;
  blob @6 :Data;
  requestedDataType @7 :UInt16;
  canonicalDataType @8 :UInt16;
  euType @9 :UInt32;
  euInfo @10 :Variant;
}

# OPCITEMSTATE, and the per-item part of the data callbacks.
struct ItemState {
  clientHandle @0 :UInt32;
  timeStamp @1 :UInt64;
  quality @2 :UInt16;
  value @3 :Variant;
  error @4 :Int32;
}

# Item states in the compact form the transport sends: parallel arrays,
# each a Data of fixed-size little-endian elements, one per item, so that a
# list of thousands travels and decodes without a struct per item. A value
# of a fixed-size type is its `scalars` element (the type's bytes,
# zero-extended); VT_EMPTY and VT_NULL are their type alone; any other value
# (strings, arrays) is the next element of `others`, in item order. Replies
# and calls that carry this form leave their List(ItemState) empty; a
# receiver still reads that list when the compact form is absent.
struct ItemStates {
  clientHandles @0 :Data;   # UInt32 each
  timeStamps @1 :Data;      # UInt64 FILETIME counts
  qualities @2 :Data;       # UInt16
  errors @3 :Data;          # Int32
  types @4 :Data;           # UInt16 VARTYPE
  scalars @5 :Data;         # UInt64
  others @6 :List(Variant);
}

struct ItemError {
  clientHandle @0 :UInt32;
  error @1 :Int32;
}

struct FormatEtc {
  format @0 :Text;       # the clipboard format's registered name
  aspect @1 :UInt32;
  index @2 :Int32;
  tymed @3 :UInt32;
}

interface OpcGroupStateMgt {
  getState @0 () -> (hr :Int32, state :GroupState);
  # Each `has` flag says whether the pointer argument was given.
  setState @1 (requestedUpdateRate :UInt32, hasUpdateRate :Bool, active :Bool, hasActive :Bool,
               timeBias :Int32, hasTimeBias :Bool, percentDeadband :Float32, hasPercentDeadband :Bool,
               lcid :UInt32, hasLcid :Bool, clientGroup :UInt32, hasClientGroup :Bool)
      -> (hr :Int32, revisedUpdateRate :UInt32);
  setName @2 (name :Data) -> (hr :Int32);
  cloneGroup @3 (name :Data, iid :Guid) -> (hr :Int32, group :ObjectRef);
}

interface OpcPublicGroupStateMgt {
  getPublicState @0 () -> (hr :Int32, public :Bool);
  moveToPublic @1 () -> (hr :Int32);
}

interface OpcItemMgt {
  addItems @0 (items :List(ItemDef)) -> (hr :Int32, results :List(ItemResult), errors :List(Int32));
  validateItems @1 (items :List(ItemDef), blobUpdate :Bool) -> (hr :Int32, results :List(ItemResult), errors :List(Int32));
  removeItems @2 (serverHandles :List(UInt32)) -> (hr :Int32, errors :List(Int32));
  setActiveState @3 (serverHandles :List(UInt32), active :Bool) -> (hr :Int32, errors :List(Int32));
  setClientHandles @4 (serverHandles :List(UInt32), clientHandles :List(UInt32)) -> (hr :Int32, errors :List(Int32));
  setDatatypes @5 (serverHandles :List(UInt32), dataTypes :List(UInt16)) -> (hr :Int32, errors :List(Int32));
  createEnumerator @6 (iid :Guid) -> (hr :Int32, enumerator :ObjectRef);
}

interface OpcSyncIo {
  # The answer's states and per-item errors are in `itemStates` when it is set.
  read @0 (source :UInt32, serverHandles :List(UInt32))
      -> (hr :Int32, states :List(ItemState), errors :List(Int32), itemStates :ItemStates);
  write @1 (serverHandles :List(UInt32), values :List(Variant)) -> (hr :Int32, errors :List(Int32));
}

interface OpcAsyncIo {
  read @0 (connection :UInt32, source :UInt32, serverHandles :List(UInt32)) -> (hr :Int32, transactionId :UInt32, errors :List(Int32));
  write @1 (connection :UInt32, serverHandles :List(UInt32), values :List(Variant)) -> (hr :Int32, transactionId :UInt32, errors :List(Int32));
  refresh @2 (connection :UInt32, source :UInt32) -> (hr :Int32, transactionId :UInt32);
  cancel @3 (transactionId :UInt32) -> (hr :Int32);
}

interface OpcAsyncIo2 {
  read @0 (serverHandles :List(UInt32), transactionId :UInt32) -> (hr :Int32, cancelId :UInt32, errors :List(Int32));
  write @1 (serverHandles :List(UInt32), values :List(Variant), transactionId :UInt32) -> (hr :Int32, cancelId :UInt32, errors :List(Int32));
  refresh2 @2 (source :UInt32, transactionId :UInt32) -> (hr :Int32, cancelId :UInt32);
  cancel2 @3 (cancelId :UInt32) -> (hr :Int32);
  setEnable @4 (enable :Bool) -> (hr :Int32);
  getEnable @5 () -> (hr :Int32, enable :Bool);
}

interface DataObject {
  getData @0 (format :FormatEtc) -> (hr :Int32, tymed :UInt32, data :Data);
  queryGetData @1 (format :FormatEtc) -> (hr :Int32);
  dAdvise @2 (format :FormatEtc, advf :UInt32, sink :AdviseSink) -> (hr :Int32, connection :UInt32);
  dUnadvise @3 (connection :UInt32) -> (hr :Int32);
}

interface GroupObject extends(Unknown, OpcGroupStateMgt, OpcPublicGroupStateMgt, OpcItemMgt, OpcSyncIo,
                              OpcAsyncIo, OpcAsyncIo2, DataObject, ConnectionPointContainer) {}

# ---- Enumerators and the server list --------------------------------------------

interface EnumString extends(Unknown) {
  next @0 (count :UInt32) -> (hr :Int32, items :List(Data));
  skip @1 (count :UInt32) -> (hr :Int32);
  reset @2 () -> (hr :Int32);
  clone @3 () -> (hr :Int32, enumerator :ObjectRef);
}

interface EnumUnknown extends(Unknown) {
  next @0 (count :UInt32) -> (hr :Int32, items :List(ObjectRef));
  skip @1 (count :UInt32) -> (hr :Int32);
  reset @2 () -> (hr :Int32);
  clone @3 () -> (hr :Int32, enumerator :ObjectRef);
}

interface EnumGuid extends(Unknown) {
  next @0 (count :UInt32) -> (hr :Int32, items :List(Guid));
  skip @1 (count :UInt32) -> (hr :Int32);
  reset @2 () -> (hr :Int32);
  clone @3 () -> (hr :Int32, enumerator :ObjectRef);
}

interface EnumItemAttributes extends(Unknown) {
  next @0 (count :UInt32) -> (hr :Int32, items :List(ItemAttributes));
  skip @1 (count :UInt32) -> (hr :Int32);
  reset @2 () -> (hr :Int32);
  clone @3 () -> (hr :Int32, enumerator :ObjectRef);
}

interface EnumConnectionPoints extends(Unknown) {
  next @0 (count :UInt32) -> (hr :Int32, items :List(ObjectRef));
  skip @1 (count :UInt32) -> (hr :Int32);
  reset @2 () -> (hr :Int32);
  clone @3 () -> (hr :Int32, enumerator :ObjectRef);
}

interface ServerList extends(Unknown) {
  enumClassesOfCategories @0 (implemented :List(Guid), required :List(Guid)) -> (hr :Int32, enumerator :ObjectRef);
  getClassDetails @1 (clsid :Guid) -> (hr :Int32, progId :Data, userType :Data);
  clsidFromProgId @2 (progId :Data) -> (hr :Int32, clsid :Guid);
}

# ---- Callbacks the client serves -------------------------------------------------
# A callback call returns when the client's component has taken it: the host
# keeps at most a few in flight per sink and meanwhile coalesces data changes
# per item, so a slow client never makes the host queue grow without bound.

interface DataCallback {
  # The items are in `states` when it is set, else in `items`.
  onDataChange @0 (transactionId :UInt32, clientGroup :UInt32, masterQuality :Int32, masterError :Int32,
                   items :List(ItemState), states :ItemStates) -> ();
  onReadComplete @1 (transactionId :UInt32, clientGroup :UInt32, masterQuality :Int32, masterError :Int32,
                     items :List(ItemState), states :ItemStates) -> ();
  onWriteComplete @2 (transactionId :UInt32, clientGroup :UInt32, masterError :Int32,
                      items :List(ItemError)) -> ();
  onCancelComplete @3 (transactionId :UInt32, clientGroup :UInt32) -> ();
}

interface Shutdown {
  shutdownRequest @0 (reason :Data) -> ();
}

interface AdviseSink {
  onDataChange @0 (format :FormatEtc, data :Data) -> ();
}
