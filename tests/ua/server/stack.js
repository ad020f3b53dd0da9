// Loads the UA stack the same way for every script here.
"use strict";

// stdout is reserved for each script's own machine-readable lines; the stack's
// logging goes to stderr with the rest of the diagnostics.
console.log = console.error;
console.info = console.error;
process.stdout.write = process.stderr.write.bind(process.stderr);

// Node 18 has Web Crypto only as a module, not as the global the stack expects.
if (!globalThis.crypto) globalThis.crypto = require("crypto").webcrypto;

const fs = require("fs");

// Writes one line to the real stdout, bypassing the redirection above.
function printLine(line) {
  fs.writeSync(1, `${line}\n`);
}

module.exports = { opcua: require("node-opcua"), printLine };
