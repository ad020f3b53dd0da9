// The test server's address space, documented node by node in README.md.
"use strict";

const { opcua } = require("./stack");
const {
  DataType,
  DataValue,
  Variant,
  VariantArrayType,
  StatusCodes,
  LocalizedText,
  QualifiedName,
  coerceNodeId,
  coerceInt64,
  coerceUInt64,
  standardUnits,
} = opcua;

const NAMESPACE_URI = "urn:veze6:testserver";
const MANY_CHILDREN = 1500;
const TICK_MS = 100;

// Intervals that drive the dynamic values, cleared when the server stops.
const timers = [];

function variable(namespace, parent, id, dataType, value, extra = {}) {
  const { writable = true, arrayType, browseName, ...rest } = extra;
  return namespace.addVariable({
    organizedBy: parent,
    nodeId: `s=${id}`,
    browseName: browseName || id.slice(id.lastIndexOf(".") + 1),
    dataType,
    valueRank: arrayType === VariantArrayType.Array ? 1 : -1,
    arrayDimensions: arrayType === VariantArrayType.Array ? [0] : undefined,
    accessLevel: writable ? "CurrentRead | CurrentWrite" : "CurrentRead",
    userAccessLevel: writable ? "CurrentRead | CurrentWrite" : "CurrentRead",
    minimumSamplingInterval: 0,
    value: new Variant({ dataType: DataType[dataType], arrayType: arrayType || VariantArrayType.Scalar, value }),
    ...rest,
  });
}

function folder(namespace, parent, id, browseName) {
  return namespace.addFolder(parent, {
    nodeId: `s=${id}`,
    browseName: browseName || id.slice(id.lastIndexOf(".") + 1),
  });
}

function buildTree(namespace, root) {
  const tree = folder(namespace, root, "Tree");
  const a = folder(namespace, tree, "Tree.A");
  const b = folder(namespace, a, "Tree.A.B");
  const c = folder(namespace, b, "Tree.A.B.C");
  folder(namespace, tree, "Tree.Empty");
  variable(namespace, a, "Tree.A.Value", "Int32", 1, { writable: false });
  variable(namespace, b, "Tree.A.B.Value", "Int32", 2, { writable: false });
  variable(namespace, c, "Tree.A.B.C.Leaf", "String", "deep leaf", { writable: false });

  const many = folder(namespace, root, "Many");
  for (let i = 0; i < MANY_CHILDREN; ++i) {
    const id = `Many.${String(i).padStart(4, "0")}`;
    variable(namespace, many, id, "Int32", i, { writable: false });
  }
}

function buildScalars(namespace, root, ns) {
  const scalars = folder(namespace, root, "Scalar");
  const values = [
    ["Boolean", true],
    ["SByte", -100],
    ["Byte", 200],
    ["Int16", -30000],
    ["UInt16", 60000],
    ["Int32", -2000000000],
    ["UInt32", 4000000000],
    ["Int64", coerceInt64("-9000000000000")],
    ["UInt64", coerceUInt64("18000000000000000000")],
    ["Float", 1.5],
    ["Double", 3.141592653589793],
    ["String", "Grüße, veze6"],
    ["DateTime", new Date("2024-02-29T12:34:56.789Z")],
    ["Guid", "72962B91-FA75-4AE6-8D28-B404DC7DAF63"],
    ["ByteString", Buffer.from([0x00, 0x01, 0x7f, 0x80, 0xff])],
    ["NodeId", coerceNodeId(`ns=${ns};s=Tree.A`)],
    ["StatusCode", StatusCodes.UncertainLastUsableValue],
    ["LocalizedText", new LocalizedText({ locale: "en-US", text: "Hello" })],
    ["QualifiedName", new QualifiedName({ namespaceIndex: ns, name: "Veze6Name" })],
  ];
  for (const [type, value] of values) variable(namespace, scalars, `Scalar.${type}`, type, value);

  const arrays = folder(namespace, root, "Array");
  const arrayValues = [
    ["Boolean", [true, false, true]],
    ["Byte", Buffer.from([1, 2, 3, 250])],
    ["Int16", new Int16Array([-1, 0, 1, 32767])],
    ["Int32", new Int32Array([-2147483648, -1, 0, 1, 2147483647])],
    ["UInt32", new Uint32Array([0, 1, 4294967295])],
    ["Float", new Float32Array([0.5, -0.25, 1e10])],
    ["Double", new Float64Array([0, 1.5, -2.25, 1e-300])],
    ["String", ["alpha", "", "gamma"]],
    ["DateTime", [new Date("2000-01-01T00:00:00Z"), new Date("2024-02-29T12:34:56.789Z")]],
    ["ByteString", [Buffer.from([1, 2]), Buffer.alloc(0)]],
    ["LocalizedText", [new LocalizedText({ locale: "en", text: "one" }), new LocalizedText({ locale: "de", text: "zwei" })]],
    ["Empty", []],
  ];
  for (const [type, value] of arrayValues) {
    const dataType = type === "Empty" ? "Int32" : type;
    variable(namespace, arrays, `Array.${type}`, dataType, value, { arrayType: VariantArrayType.Array });
  }
}

function buildAccess(namespace, root) {
  const access = folder(namespace, root, "Access");
  variable(namespace, access, "Access.ReadOnly", "Int32", 7, { writable: false });
  variable(namespace, access, "Access.ReadWrite", "Int32", 0);
  variable(namespace, access, "Access.ReadWriteString", "String", "initial");

  let limited = new Variant({ dataType: DataType.Int32, value: 50 });
  namespace.addVariable({
    organizedBy: access,
    nodeId: "s=Access.Limited",
    browseName: "Limited",
    description: "Accepts 0..100 only",
    dataType: "Int32",
    accessLevel: "CurrentRead | CurrentWrite",
    userAccessLevel: "CurrentRead | CurrentWrite",
    // The getter only changes on writes; a sampling interval lets monitored items poll it.
    minimumSamplingInterval: TICK_MS,
    value: {
      get: () => limited,
      set: (variant) => {
        if (typeof variant.value !== "number" || variant.value < 0 || variant.value > 100) return StatusCodes.BadOutOfRange;
        limited = new Variant({ dataType: DataType.Int32, value: variant.value });
        return StatusCodes.Good;
      },
    },
  });
}

function buildDataAccess(namespace, root) {
  const da = folder(namespace, root, "DA");
  namespace.addAnalogDataItem({
    organizedBy: da,
    nodeId: "s=DA.Analog",
    browseName: "Analog",
    description: "Boiler temperature",
    dataType: "Double",
    accessLevel: "CurrentRead | CurrentWrite",
    userAccessLevel: "CurrentRead | CurrentWrite",
    minimumSamplingInterval: 0,
    engineeringUnitsRange: { low: 0, high: 100 },
    instrumentRange: { low: -10, high: 110 },
    engineeringUnits: standardUnits.degree_celsius,
    value: new Variant({ dataType: DataType.Double, value: 21.5 }),
  });
  namespace.addMultiStateDiscrete({
    organizedBy: da,
    nodeId: "s=DA.MultiState",
    browseName: "MultiState",
    description: "Pump state",
    enumStrings: ["Stopped", "Running", "Fault"],
    value: 1,
  });
}

function buildDynamic(namespace, root, bankSize) {
  const dynamic = folder(namespace, root, "Dynamic");
  const ramp = variable(namespace, dynamic, "Dynamic.Ramp", "Double", 0, { writable: false });
  const sine = variable(namespace, dynamic, "Dynamic.Sine", "Double", 0, { writable: false });
  const counter = variable(namespace, dynamic, "Dynamic.Counter", "UInt32", 0, { writable: false });

  // The bank's values are computed when read or sampled rather than pushed on every
  // tick: pushing 10,000 values every 100 ms would saturate the server on its own.
  const bankFolder = folder(namespace, root, "Bank");
  const bankEpoch = Date.now();
  for (let i = 0; i < bankSize; ++i) {
    const id = `Bank.${String(i).padStart(4, "0")}`;
    namespace.addVariable({
      organizedBy: bankFolder,
      nodeId: `s=${id}`,
      browseName: id.slice(5),
      dataType: "Double",
      accessLevel: "CurrentRead",
      userAccessLevel: "CurrentRead",
      minimumSamplingInterval: TICK_MS,
      value: {
        timestamped_get: () => {
          const tick = Math.floor((Date.now() - bankEpoch) / TICK_MS);
          return new DataValue({
            value: new Variant({ dataType: DataType.Double, value: i + tick }),
            sourceTimestamp: new Date(bankEpoch + tick * TICK_MS),
            serverTimestamp: new Date(),
          });
        },
      },
    });
  }

  let tick = 0;
  const start = Date.now();
  timers.push(
    setInterval(() => {
      ++tick;
      const seconds = (Date.now() - start) / 1000;
      ramp.setValueFromSource(new Variant({ dataType: DataType.Double, value: tick % 100 }));
      sine.setValueFromSource(new Variant({ dataType: DataType.Double, value: Math.sin((2 * Math.PI * seconds) / 10) }));
      counter.setValueFromSource(new Variant({ dataType: DataType.UInt32, value: tick >>> 0 }));
    }, TICK_MS),
  );
}

function buildControl(namespace, root, onShutdownRequest) {
  const control = folder(namespace, root, "Control");
  const delay = variable(namespace, control, "Control.ShutdownDelay", "UInt32", 1000, {
    description: "Milliseconds the server announces the Shutdown state before it closes",
  });
  let requested = false;
  namespace.addVariable({
    organizedBy: control,
    nodeId: "s=Control.Shutdown",
    browseName: "Shutdown",
    description: "Write true to stop the server after Control.ShutdownDelay",
    dataType: "Boolean",
    accessLevel: "CurrentRead | CurrentWrite",
    userAccessLevel: "CurrentRead | CurrentWrite",
    minimumSamplingInterval: TICK_MS,
    value: {
      get: () => new Variant({ dataType: DataType.Boolean, value: requested }),
      set: (variant) => {
        if (variant.dataType !== DataType.Boolean) return StatusCodes.BadTypeMismatch;
        if (variant.value && !requested) {
          requested = true;
          const ms = delay.readValue().value.value;
          process.stderr.write(`testserver: shutdown requested, closing in ${ms} ms\n`);
          // Let the write response leave before the server state changes.
          setImmediate(() => onShutdownRequest(ms));
        }
        return StatusCodes.Good;
      },
    },
  });
}

// Adds the test nodes; onShutdownRequest(ms) is called when a client writes
// Control.Shutdown. Returns a function that stops the value timers.
function buildAddressSpace(addressSpace, { bankSize, onShutdownRequest }) {
  const namespace = addressSpace.registerNamespace(NAMESPACE_URI);
  if (namespace.index !== 2) throw new Error(`${NAMESPACE_URI} got namespace index ${namespace.index}, expected 2`);
  const root = addressSpace.rootFolder.objects;
  buildTree(namespace, root);
  buildScalars(namespace, root, namespace.index);
  buildAccess(namespace, root);
  buildDataAccess(namespace, root);
  buildDynamic(namespace, root, bankSize);
  buildControl(namespace, root, onShutdownRequest);
  return () => timers.splice(0).forEach(clearInterval);
}

module.exports = { NAMESPACE_URI, buildAddressSpace };
