#!/usr/bin/env node
// Loopback test server for the UA client tests and benchmarks.
// The address space it builds is documented node by node in README.md.
"use strict";

const fs = require("fs");
const os = require("os");
const path = require("path");
const net = require("net");

const RESOURCE_PATH = "/veze6/testserver";
const DEFAULT_USERS = { operator: "secret-for-tests" };

// Small on purpose so the client has to split its requests.
const OPERATION_LIMITS = {
  maxNodesPerRead: 100,
  maxNodesPerWrite: 100,
  maxNodesPerBrowse: 50,
  maxNodesPerRegisterNodes: 100,
  maxNodesPerTranslateBrowsePathsToNodeIds: 50,
  maxNodesPerMethodCall: 10,
  maxMonitoredItemsPerCall: 500,
};

function usage(message) {
  if (message) process.stderr.write(`testserver: ${message}\n`);
  process.stderr.write(
    "usage: node testserver.js --port N [--host 127.0.0.1] [--pki DIR] [--users FILE] [--bank N]\n",
  );
  process.exit(2);
}

function parseArgs(argv) {
  const options = { host: "127.0.0.1", port: undefined, pki: undefined, users: undefined, bank: 0 };
  for (let i = 0; i < argv.length; ++i) {
    const name = argv[i];
    const value = argv[i + 1];
    if (name === "--help" || name === "-h") usage();
    if (!["--port", "--host", "--pki", "--users", "--bank"].includes(name)) usage(`unknown option ${name}`);
    if (value === undefined) usage(`${name} needs a value`);
    ++i;
    options[name.slice(2)] = value;
  }
  if (options.port === undefined) usage("--port is required");
  if (!/^\d+$/.test(options.port)) usage(`invalid port ${options.port}`);
  options.port = Number(options.port);
  // Port 0 would make the advertised endpoint URL wrong; the caller picks a free port.
  if (options.port < 1 || options.port > 65535) usage(`port must be 1..65535, got ${options.port}`);
  if (!/^\d+$/.test(String(options.bank))) usage(`invalid bank size ${options.bank}`);
  options.bank = Number(options.bank);
  // Bank ids have four digits.
  if (options.bank > 10000) usage("bank size must be at most 10000");
  return options;
}

// One "name:password" per line; blank lines and lines starting with # are ignored.
function readUsers(file) {
  if (!file) return DEFAULT_USERS;
  let text;
  try {
    text = fs.readFileSync(file, "utf8");
  } catch (err) {
    usage(`cannot read ${file}: ${err.message}`);
  }
  const users = {};
  for (const raw of text.split(/\r?\n/)) {
    const line = raw.trim();
    if (!line || line.startsWith("#")) continue;
    const colon = line.indexOf(":");
    if (colon <= 0) usage(`${file}: expected name:password, got "${line}"`);
    users[line.slice(0, colon)] = line.slice(colon + 1);
  }
  if (Object.keys(users).length === 0) usage(`${file}: no users`);
  return users;
}

// Fails early with a clear message instead of a stack trace from deep inside the stack.
function checkPortFree(host, port) {
  return new Promise((resolve) => {
    const probe = net.createServer();
    probe.once("error", (err) => {
      const reason = err.code === "EADDRINUSE" ? "is already in use" : `cannot be bound (${err.code || err.message})`;
      process.stderr.write(`testserver: port ${port} on ${host} ${reason}\n`);
      exit(3);
    });
    probe.listen({ host, port, exclusive: true }, () => probe.close(resolve));
  });
}

const options = parseArgs(process.argv.slice(2));
const users = readUsers(options.users);

let ownPki;
if (!options.pki) {
  ownPki = fs.mkdtempSync(path.join(os.tmpdir(), "veze6-testserver-"));
  options.pki = ownPki;
}
fs.mkdirSync(options.pki, { recursive: true });

let server;
let stopTimers = () => {};
let stopping = false;

// Ends the process. Only a shutdown requested through Control.Shutdown goes
// through the stack's orderly shutdown, so clients see the Shutdown state; a
// fixture that stops us wants us gone at once, and the sockets close with us.
async function stop(code, shutdownDelayMs) {
  if (stopping) {
    // A signal during an announced shutdown does not wait for its delay.
    if (shutdownDelayMs === undefined) exit(code);
    return;
  }
  stopping = true;
  stopTimers();
  if (server && shutdownDelayMs !== undefined) {
    // A hard deadline so a stuck shutdown never leaves the process behind.
    setTimeout(() => exit(code), shutdownDelayMs + 5000).unref();
    try {
      await server.shutdown(shutdownDelayMs);
    } catch (err) {
      process.stderr.write(`testserver: shutdown: ${err.message}\n`);
    }
  }
  exit(code);
}

function exit(code) {
  if (ownPki) fs.rmSync(ownPki, { recursive: true, force: true });
  process.exit(code);
}

function watchParent() {
  process.on("SIGTERM", () => stop(0));
  process.on("SIGINT", () => stop(0));
  process.on("SIGHUP", () => stop(0));
  // The test fixture holds our stdin pipe open; it closes when the fixture dies.
  // A stdin that is /dev/null or a file says nothing about the parent, so only pipes count.
  let stat;
  try {
    stat = fs.fstatSync(0);
  } catch {
    stat = undefined;
  }
  if (stat && (stat.isFIFO() || stat.isSocket())) {
    process.stdin.on("end", () => stop(0));
    process.stdin.on("error", () => stop(0));
    process.stdin.on("data", () => {});
    process.stdin.resume();
  }
  // Reparenting means the parent died without closing anything we can see.
  const parent = process.ppid;
  const poll = setInterval(() => {
    if (process.ppid !== parent) stop(0);
  }, 500);
  poll.unref();
}

async function main() {
  watchParent();
  await checkPortFree(options.host, options.port);
  // Loading the stack takes seconds; a bad port has been reported by now.
  const { opcua, printLine } = require("./stack");
  const { NAMESPACE_URI, buildAddressSpace } = require("./addressspace");
  const { OPCUAServer, OPCUACertificateManager, SecurityPolicy, MessageSecurityMode, RegisterServerMethod } = opcua;

  const serverCertificateManager = new OPCUACertificateManager({
    rootFolder: path.join(options.pki, "server"),
    automaticallyAcceptUnknownCertificate: true,
  });
  const userCertificateManager = new OPCUACertificateManager({
    rootFolder: path.join(options.pki, "user"),
    automaticallyAcceptUnknownCertificate: true,
  });

  server = new OPCUAServer({
    port: options.port,
    host: options.host,
    hostname: options.host,
    resourcePath: RESOURCE_PATH,
    serverCertificateManager,
    userCertificateManager,
    securityPolicies: [SecurityPolicy.None, SecurityPolicy.Basic256Sha256, SecurityPolicy.Aes128_Sha256_RsaOaep],
    securityModes: [MessageSecurityMode.None, MessageSecurityMode.Sign, MessageSecurityMode.SignAndEncrypt],
    allowAnonymous: true,
    disableDiscovery: true,
    registerServerMethod: RegisterServerMethod.HIDDEN,
    userManager: {
      isValidUser: (name, password) => Object.prototype.hasOwnProperty.call(users, name) && users[name] === password,
    },
    serverInfo: {
      applicationUri: "urn:veze6:testserver:application",
      productUri: NAMESPACE_URI,
      applicationName: { text: "veze6 test server", locale: "en" },
    },
    buildInfo: { productName: "veze6 test server", manufacturerName: "veze6", softwareVersion: "1" },
    maxConnectionsPerEndpoint: 100,
    serverCapabilities: {
      maxSessions: 100,
      maxSubscriptionsPerSession: 20,
      maxMonitoredItemsPerSubscription: 100000,
      operationLimits: OPERATION_LIMITS,
    },
  });

  await server.initialize();
  stopTimers = buildAddressSpace(server.engine.addressSpace, {
    bankSize: options.bank,
    onShutdownRequest: (ms) => stop(0, ms),
  });
  await server.start();
  if (stopping) return;
  const url = server.getEndpointUrl();
  printLine(`ready ${url}`);
}

main().catch((err) => {
  process.stderr.write(`testserver: ${err.stack || err.message}\n`);
  stop(1);
});
