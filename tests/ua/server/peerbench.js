#!/usr/bin/env node
// Reference figures from the stack's own client, to compare the project's client against.
//   node peerbench.js URL subscribe N RATE_MS SECONDS  -> updates_per_second X
//   node peerbench.js URL read10 ITERATIONS            -> read10_mean_us X
"use strict";

const { opcua, printLine } = require("./stack");
const { OPCUAClient, AttributeIds, TimestampsToReturn, ClientMonitoredItemGroup, MessageSecurityMode, SecurityPolicy } = opcua;

// Matches the server's own limit, so no call is rejected.
const MONITORED_ITEMS_PER_CALL = 500;

function usage(message) {
  if (message) process.stderr.write(`peerbench: ${message}\n`);
  process.stderr.write(
    "usage: node peerbench.js URL subscribe N RATE_MS SECONDS\n" + "       node peerbench.js URL read10 ITERATIONS\n",
  );
  process.exit(2);
}

function positive(text, what) {
  if (!/^\d+$/.test(text || "") || Number(text) < 1) usage(`${what} must be a positive integer, got ${text}`);
  return Number(text);
}

function bankId(i) {
  return `ns=2;s=Bank.${String(i).padStart(4, "0")}`;
}

async function withSession(url, body) {
  const client = OPCUAClient.create({
    endpointMustExist: false,
    securityMode: MessageSecurityMode.None,
    securityPolicy: SecurityPolicy.None,
    connectionStrategy: { maxRetry: 0 },
    requestedSessionTimeout: 60000,
  });
  await client.connect(url);
  const session = await client.createSession();
  try {
    return await body(session);
  } finally {
    await session.close();
    await client.disconnect();
  }
}

async function subscribe(url, count, rateMs, seconds) {
  if (count > 10000) usage("N must be at most 10000 (the bank's size limit)");
  return withSession(url, async (session) => {
    const last = await session.read({ nodeId: bankId(count - 1), attributeId: AttributeIds.Value });
    if (!last.statusCode.isGood()) throw new Error(`the server has no ${bankId(count - 1)}: start it with --bank ${count}`);
    const subscription = await session.createSubscription2({
      requestedPublishingInterval: rateMs,
      requestedLifetimeCount: 1000,
      requestedMaxKeepAliveCount: 10,
      maxNotificationsPerPublish: 0,
      publishingEnabled: true,
      priority: 0,
    });
    let updates = 0;
    let counting = false;
    let first;
    const firstUpdate = new Promise((resolve) => (first = resolve));
    for (let start = 0; start < count; start += MONITORED_ITEMS_PER_CALL) {
      const items = [];
      for (let i = start; i < Math.min(count, start + MONITORED_ITEMS_PER_CALL); ++i) {
        items.push({ nodeId: bankId(i), attributeId: AttributeIds.Value });
      }
      const group = ClientMonitoredItemGroup.create(
        subscription,
        items,
        { samplingInterval: rateMs, queueSize: 1, discardOldest: true },
        TimestampsToReturn.Neither,
      );
      await new Promise((resolve, reject) => {
        group.once("initialized", resolve);
        group.once("err", (err) => reject(new Error(`monitoring ${bankId(start)}...: ${err}`)));
      });
      group.on("changed", () => {
        first();
        if (counting) ++updates;
      });
    }
    // Count only after the initial values of every item have gone by.
    await firstUpdate;
    await new Promise((resolve) => setTimeout(resolve, Math.max(2 * rateMs, 500)));
    counting = true;
    const t0 = process.hrtime.bigint();
    await new Promise((resolve) => setTimeout(resolve, seconds * 1000));
    counting = false;
    const elapsed = Number(process.hrtime.bigint() - t0) / 1e9;
    await subscription.terminate();
    printLine(`updates_per_second ${Math.round(updates / elapsed)}`);
  });
}

async function read10(url, iterations) {
  const nodes = ["Boolean", "Byte", "Int16", "Int32", "UInt32", "Float", "Double", "String", "DateTime", "Guid"].map(
    (type) => ({ nodeId: `ns=2;s=Scalar.${type}`, attributeId: AttributeIds.Value }),
  );
  return withSession(url, async (session) => {
    for (let i = 0; i < Math.min(10, iterations); ++i) await session.read(nodes);
    const t0 = process.hrtime.bigint();
    for (let i = 0; i < iterations; ++i) {
      const values = await session.read(nodes);
      if (values.some((v) => !v.statusCode.isGood())) throw new Error("read returned a bad status");
    }
    const meanUs = Number(process.hrtime.bigint() - t0) / 1000 / iterations;
    printLine(`read10_mean_us ${meanUs.toFixed(1)}`);
  });
}

async function main() {
  const [url, mode, ...rest] = process.argv.slice(2);
  if (!url || !url.startsWith("opc.tcp://")) usage("URL must start with opc.tcp://");
  if (mode === "subscribe") {
    if (rest.length !== 3) usage();
    const seconds = positive(rest[2], "SECONDS");
    // Never outlive the measurement by much, whatever the server does.
    setTimeout(() => {
      process.stderr.write("peerbench: timed out\n");
      process.exit(1);
    }, (seconds + 120) * 1000).unref();
    await subscribe(url, positive(rest[0], "N"), positive(rest[1], "RATE_MS"), seconds);
  } else if (mode === "read10") {
    if (rest.length !== 1) usage();
    await read10(url, positive(rest[0], "ITERATIONS"));
  } else {
    usage(`unknown mode ${mode}`);
  }
}

main().then(
  () => process.exit(0),
  (err) => {
    process.stderr.write(`peerbench: ${err.message}\n`);
    process.exit(1);
  },
);
